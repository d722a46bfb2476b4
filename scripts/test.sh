#!/usr/bin/env bash
# Runs every check: set-up (idempotent), linters, the C++ core tests, the Python tests,
# the documentation build (its examples run).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

"$ROOT/scripts/setup.sh"
export PATH="$ROOT/.venv/bin:$PATH"

echo "== lint"
"$ROOT/scripts/lint.sh"

echo "== C++ tests"
[ -f build/cpp/build.ninja ] || meson setup build/cpp -Dnative_tests=enabled >/dev/null
meson test -C build/cpp --print-errorlogs

echo "== Python tests"
python -m pytest tests/python -q
python -m mypy.stubtest ferrule.kestrel --allowlist tests/stubtest_allowlist.txt

echo "== documentation"
"$ROOT/scripts/docs.sh" --no-setup

"$ROOT/scripts/test_sanitized.sh"
