"""Where the command line may write: never over a file the same run reads."""

import os

from ferrule.cli.errors import CliError

__all__ = ["refuse_inputs"]


def refuse_inputs(option: str, path: str, *inputs: str | None) -> None:
    """Fails when `path` names the same file as one of `inputs` (by device and inode, so a
    link or another spelling of the name is caught too); `None` and "-" read no file.

    Examples
    --------
    >>> refuse_inputs("--plot", "rain.csv", "rain.csv")  # doctest: +SKIP
    Traceback (most recent call last):
    CliError: --plot rain.csv is the input file 'rain.csv'; name another file
    """
    for source in inputs:
        if source is None or source == "-":
            continue
        try:
            same = os.path.samefile(path, source)
        except OSError:  # either does not exist (yet): they cannot be one file
            continue
        if same:
            raise CliError(f"{option} {path} is the input file '{source}'; name another file")
