#!/usr/bin/env bash
# Style checks: clang-format for C++, ruff for Python, cython-lint for Cython sources,
# declarations, include files and the rendered templates.
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
# cython-lint skips (and passes) any .pxd holding a comment, as it cannot parse one, and
# reads neither include files nor templates: a declaration or include file parses as .pyx,
# and a template is linted as the .pyx it renders. Each is linted as a .pyx copy, its
# problems reported under its own name.
copies="$(mktemp -d)"
trap 'rm -rf "$copies"' EXIT
lint_as_pyx() { # SOURCE COPY
    if ! cython-lint --max-line-length 100 "$2" >"$2.out" 2>&1 || grep -q "Skipping file" "$2.out"; then
        sed "s|$2|$1|g" "$2.out"
        exit 1
    fi
}
while IFS= read -r file; do
    copy="$copies/$(basename "$file").pyx"
    cp "$file" "$copy"
    lint_as_pyx "$file" "$copy"
done < <(git ls-files -co --exclude-standard -- '*.pxd' '*.pxi')
while IFS= read -r template; do
    copy="$copies/$(basename "$template" .tp)"
    python src/ferrule/generate_pyx.py "$template" "$copy"
    lint_as_pyx "$template (rendered)" "$copy"
done < <(git ls-files -co --exclude-standard -- '*.pyx.tp')
echo "lint: clean"
