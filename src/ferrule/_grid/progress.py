"""The progress bar of a long grid fit (tqdm, on standard error), driven by the cell
fitter's commits."""

from __future__ import annotations

import sys
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from typing import Any

__all__ = ["progress_bar"]

# A fit of more cells, or of more values in all, gets a bar unless told otherwise: it
# takes a few seconds at least.
MANY_CELLS = 1000
MANY_VALUES = 100_000


def _tqdm() -> Any:
    try:
        from tqdm.auto import tqdm
    except ImportError:
        return None
    return tqdm


def _wanted(progress: bool | None, cells: int, values: int) -> bool:
    if progress is not None:
        if progress and _tqdm() is None:
            raise ImportError(
                "progress=True needs tqdm, which is not installed: "
                "pip install 'ferrule[progress]' (or pass progress=None or False)"
            )
        return bool(progress)
    long = cells > MANY_CELLS or values > MANY_VALUES
    # tqdm takes a tenth of a second to import: only for a bar that will be shown.
    on_terminal = sys.stderr is not None and sys.stderr.isatty()
    return long and on_terminal and _tqdm() is not None


@contextmanager
def progress_bar(
    progress: bool | None, cells: int, values: int
) -> Iterator[Callable[[int], None] | None]:
    """A callable taking the number of cells done, or None when no bar is shown."""
    if not _wanted(progress, cells, values):
        yield None
        return
    bar = _tqdm()(total=cells, unit="cell", desc="fitting cells", file=sys.stderr)
    shown = 0

    def advance(done: int) -> None:
        nonlocal shown
        if done > shown:
            bar.update(done - shown)
            shown = done

    try:
        yield advance
    finally:
        bar.close()
