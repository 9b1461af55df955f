#!/usr/bin/env bash
# Builds everything and runs the test suite three ways:
#   default  the suite on the default build (build/);
#   asan     the same suite built with AddressSanitizer and
#            UndefinedBehaviorSanitizer (build-asan/);
#   fuzz     each fuzz target for about a minute, with its seed corpus and
#            every saved crash input replayed (build-fuzz/, clang).
# All three run when no stage is named: bash scripts/test.sh [default] [asan] [fuzz]
# Tests labelled "slow" (the long fuzz runs) are left out; see README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
if ((${#stages[@]} == 0)); then
    stages=(default asan fuzz)
fi
for stage in "${stages[@]}"; do
    case "$stage" in
    default | asan | fuzz) ;;
    *)
        echo "unknown stage '$stage' (default, asan, fuzz)" >&2
        exit 2
        ;;
    esac
done

# clang and its sanitizer runtimes build the fuzz targets, llvm symbolizes
# sanitizer reports, strace injects the faults.
export REINDEX_DEPS_EXTRA="${REINDEX_DEPS_EXTRA:-} clang libclang-rt-14-dev llvm strace"
bash scripts/build.sh

for stage in "${stages[@]}"; do
    started=$SECONDS
    echo "== $stage"
    case "$stage" in
    default)
        ctest --preset default --label-exclude '^slow$'
        ;;
    asan)
        cmake --preset asan >/dev/null
        cmake --build --preset asan
        ctest --preset asan --label-exclude '^slow$'
        ;;
    fuzz)
        cmake --preset fuzz >/dev/null
        cmake --build --preset fuzz
        ctest --preset fuzz
        ;;
    esac
    echo "== $stage took $((SECONDS - started)) s"
done
