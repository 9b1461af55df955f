#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only what is missing is installed, as root or through sudo. apt's and
# dpkg's own output goes to build/deps.log; the terminal gets one line a step
# (and the log's end when a step fails).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libgl-dev        # QtCore, QtWidgets, QtTest
    qt6-translations-l10n         # Qt's own dialogs and buttons in the user's language
    libsqlite3-dev                # the database engine
    fonts-wine                    # the window's font where the system has none like it
    python3                       # the test that the committed pictures are what their script draws
    libbenchmark-dev              # bench/micro (built only where it is installed)
)
if [[ "${REINDEX_DEPS_EXTRA:-}" != "" ]]; then
    read -r -a extra <<<"$REINDEX_DEPS_EXTRA"
    packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    echo "deps: all ${#packages[@]} packages present"
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "deps: not root and sudo is missing: run  su -c 'apt-get install ${missing[*]}'  with root's password, or have an administrator install those packages, then run this again." >&2
        exit 1
    fi
    sudo=(sudo)
fi

mkdir -p build
log=build/deps.log
: >"$log"
export DEBIAN_FRONTEND=noninteractive

# step TEXT COMMAND...: runs COMMAND with its output in the log.
step() {
    local text=$1
    shift
    echo "deps: $text"
    echo "== $*" >>"$log"
    if ! "$@" >>"$log" 2>&1 </dev/null; then
        echo "deps: $text failed; the end of $log:" >&2
        tail -n 20 "$log" >&2
        exit 1
    fi
}

echo "deps: missing ${missing[*]} (apt's output in $log)"
step "apt-get update" "${sudo[@]}" apt-get update
step "apt-get install" "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
