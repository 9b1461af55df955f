#!/usr/bin/env bash
# Configures and builds the default preset (build/), programs in build/bin.
# The compiler's output goes to build/build.log; the terminal gets one line,
# or the log's end when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

mkdir -p build
log=build/build.log
echo "build: building build/ (output in $log)"
if ! { cmake --preset default && cmake --build --preset default; } >"$log" 2>&1; then
    echo "build: failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
fi
warnings=$(grep -c 'warning:' "$log" || true)
echo "build: done, $warnings compiler warnings"
