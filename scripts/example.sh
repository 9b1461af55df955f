#!/usr/bin/env bash
# Builds the programs and reindexes the example lists with the headless twin.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
echo
echo "== build/bin/reindex-cli examples/sections.txt examples/forums.txt"
build/bin/reindex-cli examples/sections.txt examples/forums.txt
for f in fr_fr.txt forum.txt; do
    echo
    echo "== build/bin/$f"
    cat "build/bin/$f"
done
