#!/usr/bin/env bash
# The C++ tests and the Python suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer. Any report fails the run. Expects scripts/setup.sh to
# have run (scripts/test.sh calls this after it).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
export PATH="$ROOT/.venv/bin:$PATH"

SANITIZE=(-Db_sanitize=address,undefined -Dbuildtype=debugoptimized)
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

echo "== C++ tests (address and undefined-behaviour sanitizers, leak detection on)"
[ -f build/asan-cpp/build.ninja ] || meson setup build/asan-cpp -Dnative_tests=enabled "${SANITIZE[@]}" >/dev/null
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 meson test -C build/asan-cpp --print-errorlogs

echo "== Python tests (address and undefined-behaviour sanitizers)"
# A sanitized build of the package in its own folder, put ahead of the installed one.
log="$ROOT/build/asan-pip-install.log"
setup_args=()
for arg in -Dnative_tests=disabled "${SANITIZE[@]}"; do setup_args+=("-Csetup-args=$arg"); done
if ! python -m pip install --no-deps --no-build-isolation --upgrade --target build/asan-site \
    -Cbuild-dir=build/asan-wheel "${setup_args[@]}" . >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "building the sanitized extension failed (full log: $log)" >&2
    exit 1
fi
# CPython itself is not built with the sanitizers: preload their runtimes, and leave
# leak detection off (the interpreter keeps its objects alive at exit on purpose).
# -S skips the .pth files of site-packages, so an editable install's import hook cannot
# shadow the sanitized build; site-packages itself goes on the path after it.
site_packages="$(python -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')"
sanitized_python() {
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
        ASAN_OPTIONS=detect_leaks=0:halt_on_error=1 FERRULE_SANITIZED=1 \
        PYTHONPATH="$ROOT/build/asan-site:$site_packages" python -S "$@"
}
loaded="$(sanitized_python -c 'import ferrule.kestrel as k; print(k.__file__)')"
case "$loaded" in
"$ROOT/build/asan-site/"*) ;;
*)
    echo "the sanitized run would import $loaded instead of the sanitized build" >&2
    exit 1
    ;;
esac
sanitized_python -m pytest tests/python -q -p no:cacheprovider
