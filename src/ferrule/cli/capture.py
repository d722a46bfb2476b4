"""Capturing what the native core writes to the process's standard output during a fit.

The core writes through C++ std::cout straight to file descriptor 1, past Python's sys.stdout,
so its lines are caught by pointing descriptor 1 at a temporary file for the duration."""

import os
import sys
import tempfile
from collections.abc import Iterator
from contextlib import contextmanager


@contextmanager
def native_stdout_lines() -> Iterator[list[str]]:
    """Yields a list that holds, after the block, the lines written to descriptor 1 inside it."""
    lines: list[str] = []
    # Anything Python has buffered belongs before the fit's lines, so it goes out first.
    sys.stdout.flush()
    saved = os.dup(1)
    try:
        with tempfile.TemporaryFile(mode="w+b") as sink:
            os.dup2(sink.fileno(), 1)
            try:
                yield lines
            finally:
                sys.stdout.flush()
                os.dup2(saved, 1)
            sink.seek(0)
            lines.extend(sink.read().decode("utf-8", errors="replace").splitlines())
    finally:
        os.close(saved)
