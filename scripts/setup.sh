#!/usr/bin/env bash
# Idempotent set-up: system packages, a Python 3.13 virtual environment in .venv with
# the build and test tools, and ferrule itself installed into it.
# Usage: scripts/setup.sh            (prints what it does; safe to run again)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
APT_PACKAGES=(g++ pkg-config libeigen3-dev libgtest-dev libsleef-dev clang-format)

say() { printf '[setup] %s\n' "$*"; }
die() { printf '[setup] error: %s\n' "$*" >&2; exit 1; }

install_system_packages() {
    local missing=()
    for pkg in "${APT_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    command -v apt-get >/dev/null || die "missing system packages (${missing[*]}) and no apt-get to install them"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || die "missing system packages (${missing[*]}); run as root or install sudo"
        sudo="sudo"
    fi
    say "installing system packages: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Python 3.13: python3.13 on PATH if it runs, else a 3.13 managed by pyenv.
find_python() {
    if command -v python3.13 >/dev/null && python3.13 -c 'import sys' >/dev/null 2>&1; then
        echo "python3.13"
        return 0
    fi
    if command -v pyenv >/dev/null; then
        local version
        version="$(pyenv versions --bare 2>/dev/null | grep -E '^3\.13(\.[0-9]+)?$' | sort -V | tail -n 1 || true)"
        if [ -n "$version" ] && PYENV_VERSION="$version" pyenv exec python3.13 -c 'import sys' >/dev/null 2>&1; then
            echo "env PYENV_VERSION=$version pyenv exec python3.13"
            return 0
        fi
    fi
    return 1
}

make_venv() {
    if [ -x "$VENV/bin/python" ] && "$VENV/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
        return 0
    fi
    local python
    python="$(find_python)" || die "Python 3.13 not found: put python3.13 on PATH or install 3.13 with pyenv"
    say "creating virtual environment $VENV with $python"
    rm -rf "$VENV"
    $python -m venv "$VENV"
    "$VENV/bin/python" -m pip install -q --upgrade pip 2>&1 | grep -v '^WARNING: Location' || true
}

install_python_packages() {
    local stamp="$VENV/.requirements.sha256"
    local want
    # The stamp covers requirements-dev.txt and the files it includes (-r lines), so a package
    # added to an included list reaches an existing environment too.
    local files=("$ROOT/requirements-dev.txt")
    local included
    while read -r included; do files+=("$ROOT/$included"); done < <(sed -n 's/^-r[[:space:]]*//p' "$ROOT/requirements-dev.txt")
    want="$(cat "${files[@]}" | sha256sum | cut -d' ' -f1)"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
        return 0
    fi
    say "installing Python packages from requirements-dev.txt"
    mkdir -p "$ROOT/build"
    local log="$ROOT/build/pip-requirements.log"
    if ! "$VENV/bin/python" -m pip install -r "$ROOT/requirements-dev.txt" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        die "installing the Python packages failed (full log: $log)"
    fi
    echo "$want" >"$stamp"
}

# Reuses build/wheel between runs, so only changed sources recompile.
install_ferrule() {
    say "building and installing ferrule"
    local log="$ROOT/build/pip-install.log"
    mkdir -p "$ROOT/build"
    if ! (cd "$ROOT" && PATH="$VENV/bin:$PATH" "$VENV/bin/python" -m pip install --no-build-isolation \
        -Cbuild-dir=build/wheel . >"$log" 2>&1); then
        tail -n 60 "$log" >&2
        die "building ferrule failed (full log: $log)"
    fi
    (cd "$ROOT" && "$VENV/bin/python" -c 'import ferrule.kestrel') || die "ferrule was installed but does not import"
}

install_system_packages
make_venv
install_python_packages
install_ferrule
say "ready: $VENV"
