"""The progress of a long single fit: a callback, or a tqdm bar on standard error, driven by
the likelihood evaluations its optimiser makes."""

from __future__ import annotations

import sys
from collections.abc import Callable, Iterator
from contextlib import contextmanager

from ferrule._grid.progress import _tqdm, _wanted

__all__ = ["FitProgress", "checked_progress", "fit_progress"]

FitProgress = bool | None | Callable[[str, int], object]


def checked_progress(progress: object) -> FitProgress:
    """`progress` as ferrule.fit takes it, or why not."""
    if progress is None or isinstance(progress, bool) or callable(progress):
        return progress  # type: ignore[return-value]
    raise TypeError(
        "progress must be None, True, False or a callable(family, evaluations), "
        f"got {type(progress).__name__}"
    )


@contextmanager
def fit_progress(
    progress: FitProgress, n_values: int, key: str, title: str
) -> Iterator[Callable[[int], None] | None]:
    """A callable taking the number of likelihood evaluations made by the fit of family
    `key`, or None when nothing is to be told."""
    if callable(progress):
        report = progress
        yield lambda evaluations: report(key, evaluations)
        return
    if not _wanted(progress, 0, n_values):
        yield None
        return
    bar = _tqdm()(unit=" evaluations", desc=f"fitting {title}", file=sys.stderr)
    shown = 0

    def advance(evaluations: int) -> None:
        nonlocal shown
        bar.update(evaluations - shown)
        shown = evaluations

    try:
        yield advance
    finally:
        bar.close()
