#!/usr/bin/env bash
# Builds the documentation site into build/docs/ (open build/docs/index.html), offline:
# warnings are errors, the gallery's examples run to draw their figures, and the doctest
# builder runs every example of the docstrings and of the pages.
# Usage: scripts/docs.sh            (sets up first; safe to run again)
#        scripts/docs.sh --no-setup (after scripts/setup.sh, as scripts/test.sh calls it)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
[ "${1:-}" = "--no-setup" ] || "$ROOT/scripts/setup.sh" >&2
export PATH="$ROOT/.venv/bin:$PATH"

# Examples write files (grid.nc, params.nc...) where they run: in a scratch folder.
WORK="$ROOT/build/docs-work"
rm -rf "$WORK" && mkdir -p "$WORK"
SPHINX=(python -m sphinx -W --keep-going -q -E -j 1)

echo "== documentation: html (the gallery runs)"
(cd "$WORK" && "${SPHINX[@]}" -b html -d "$ROOT/build/docs-doctrees" "$ROOT/docs" "$ROOT/build/docs")

echo "== documentation: doctest (every example of the docstrings and pages)"
# The gallery has just run; the doctest pass reads its pages without running it again.
(cd "$WORK" && "${SPHINX[@]}" -b doctest -D plot_gallery=0 \
    -d "$ROOT/build/docs-doctest/doctrees" "$ROOT/docs" "$ROOT/build/docs-doctest")
echo "documentation built: $ROOT/build/docs/index.html"
