#!/usr/bin/env bash
# Style checks: clang-format for C++, ruff for Python, cython-lint for Cython declarations.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
PATH="$ROOT/.venv/bin:$PATH"

mapfile -t cpp_files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.hpp')
if [ ${#cpp_files[@]} -gt 0 ]; then
    clang-format --dry-run -Werror "${cpp_files[@]}"
fi
ruff check --quiet .
ruff format --check --quiet .
mapfile -t cython_files < <(git ls-files -co --exclude-standard -- '*.pxd' '*.pyx')
if [ ${#cython_files[@]} -gt 0 ]; then
    cython-lint "${cython_files[@]}"
fi
echo "lint: clean"
