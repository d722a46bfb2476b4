#!/usr/bin/env bash
# Benchmark suite: set everything up, install the benchmarks' own dependencies (SciPy,
# spotpy) into .venv, then print the tables of ratios against the peers.
# Usage: scripts/bench.sh [--quick]     (--quick: a smoke run of a few seconds)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
REQUIREMENTS="$ROOT/benchmarks/requirements.txt"

"$ROOT/scripts/setup.sh" >&2

stamp="$VENV/.bench-requirements.sha256"
want="$(sha256sum "$REQUIREMENTS" | cut -d' ' -f1)"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
    echo "[bench] installing the benchmarks' dependencies from benchmarks/requirements.txt" >&2
    log="$ROOT/build/pip-bench.log"
    mkdir -p "$ROOT/build"
    if ! "$VENV/bin/python" -m pip install -r "$REQUIREMENTS" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "[bench] error: installing the benchmarks' dependencies failed (full log: $log)" >&2
        exit 1
    fi
    echo "$want" >"$stamp"
fi

# meson and ninja for the C++ microbenchmarks live in the virtual environment.
export PATH="$VENV/bin:$PATH"
exec "$VENV/bin/python" "$ROOT/benchmarks/run.py" "$@"
