#!/usr/bin/env bash
# Builds everything and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --preset default
