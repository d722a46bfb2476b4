"""Measurements that need their own process: a given OpenMP thread count, fresh state."""

import json
import os
import subprocess
import sys


def run_worker(script, arguments, *, threads):
    """Run ``script --worker ARGUMENTS`` with OMP_NUM_THREADS=threads; return its JSON result.

    The worker prints one JSON object as its last line of standard output.
    """
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    completed = subprocess.run(
        [sys.executable, str(script), "--worker", *map(str, arguments)],
        env=env,
        capture_output=True,
        text=True,
        check=False,
    )
    if completed.returncode != 0:
        sys.stderr.write(completed.stderr)
        raise RuntimeError(f"{script} worker with {threads} thread(s) failed")
    return json.loads(completed.stdout.strip().splitlines()[-1])
