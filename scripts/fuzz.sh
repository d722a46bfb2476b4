#!/usr/bin/env bash
# Runs the fuzz targets of the public API and the command line until N calls are made
# (default 1000000), at low priority, on fresh random inputs; a finding stops it with the
# failing input. Usage: scripts/fuzz.sh [N]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT/tests/python"
exec nice -n 10 "$ROOT/.venv/bin/python" fuzz_targets.py "${1:-1000000}"
