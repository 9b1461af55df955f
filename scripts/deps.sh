#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only what is missing is installed; sudo is used when not root.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libgl-dev        # QtCore, QtWidgets, QtTest
    libsqlite3-dev                # the database engine
    fonts-wine                    # the window's font where the system has none like it
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
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
