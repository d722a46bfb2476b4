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
mapfile -t cython_files < <(git ls-files -co --exclude-standard -- '*.pyx')
if [ ${#cython_files[@]} -gt 0 ]; then
    cython-lint --max-line-length 100 "${cython_files[@]}"
fi
# cython-lint skips (and passes) any .pxd holding a comment, as it cannot parse one;
# a declaration file parses as .pyx, so lint a copy under that name and report the real name.
pxd_copies="$(mktemp -d)"
trap 'rm -rf "$pxd_copies"' EXIT
while IFS= read -r pxd; do
    copy="$pxd_copies/$(basename "$pxd" .pxd).pyx"
    cp "$pxd" "$copy"
    if ! cython-lint --max-line-length 100 "$copy" >"$copy.out" 2>&1 || grep -q "Skipping file" "$copy.out"; then
        sed "s|$copy|$pxd|g" "$copy.out"
        exit 1
    fi
done < <(git ls-files -co --exclude-standard -- '*.pxd')
echo "lint: clean"
