#!/usr/bin/env bash
# Configures and builds the default preset (build/), programs in build/bin.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
