"""Running the command line as a user does: a fresh interpreter, its output read as text."""

import subprocess
import sys


def run_ferrule(*args, env=None, cwd=None, timeout=600):
    """`python -m ferrule ARGS...`, its output captured."""
    return subprocess.run(
        [sys.executable, "-m", "ferrule", *map(str, args)],
        capture_output=True,
        text=True,
        env=env,
        cwd=cwd,
        timeout=timeout,
    )
