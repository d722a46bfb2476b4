"""Writing an output file whole or not at all: a temporary file beside the target, renamed
into place once complete."""

from __future__ import annotations

import contextlib
import os
import tempfile
from collections.abc import Callable, Iterator
from typing import IO, Any

__all__ = ["atomic_path", "write_atomic"]


def _mode_for(target: str) -> int:
    """The permissions the file gets: those of the file it replaces, else what `open` would
    give a new file (mkstemp makes it private to the owner)."""
    try:
        return os.stat(target).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


def _sync_folder(folder: str) -> None:
    # The rename itself is durable only once the folder's entry is on disk; where a folder
    # cannot be opened (some platforms and filesystems) there is nothing more to do.
    try:
        fd = os.open(folder, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


@contextlib.contextmanager
def atomic_path(target: str | os.PathLike[str]) -> Iterator[str]:
    """A temporary path in the target's folder for the caller to write; on leaving the block
    it is synced to disk and renamed onto `target`.

    If the block raises anything (a full disk, a file-size limit, Ctrl-C), the temporary
    file is removed and whatever `target` held before is left as it was. Whatever wrote
    the temporary file must have closed it by the end of the block. ferrule writes its own
    files so; a client (the command line's figure) can write its outputs the same way.

    Parameters
    ----------
    target : str or path-like
        The file to write; its folder must exist.

    Yields
    ------
    str
        The temporary path to write, in the target's folder.

    Examples
    --------
    >>> import numpy as np, ferrule
    >>> with ferrule.atomic_path("numbers.txt") as path:
    ...     np.savetxt(path, [1.0, 2.0])
    >>> np.loadtxt("numbers.txt").tolist()
    [1.0, 2.0]
    """
    target = os.fspath(target)
    folder = os.path.dirname(os.path.abspath(target))
    name = os.path.basename(target)
    fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=folder)
    os.close(fd)
    try:
        yield temporary
        fd = os.open(temporary, os.O_RDWR)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)
        os.chmod(temporary, _mode_for(target))
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise
    _sync_folder(folder)


def write_atomic(
    target: str | os.PathLike[str], write: Callable[[IO[Any]], object], *, text: bool = False
) -> None:
    """Calls `write` with an open file (binary, or UTF-8 text) that becomes `target` only
    once `write` has returned and the file is flushed to disk.

    Examples
    --------
    >>> write_atomic("fit.json", lambda file: file.write("{}"), text=True)  # doctest: +SKIP
    """
    with atomic_path(target) as path:
        with open(path, "w" if text else "wb", **({"encoding": "utf-8"} if text else {})) as file:
            write(file)
