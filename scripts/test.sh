#!/usr/bin/env bash
# Builds everything and runs the test suite three ways:
#   default  the suite on the default build (build/);
#   asan     the same suite built with AddressSanitizer and
#            UndefinedBehaviorSanitizer (build-asan/);
#   fuzz     each fuzz target for about a minute, with its seed corpus and
#            every saved crash input replayed (build-fuzz/, clang);
#   windows  the Windows build (scripts/windows.sh) tried under Wine: every
#            suite, the twin from the zip against the Linux twin, and the
#            window on a virtual screen (scripts/test-windows.sh).
# All four run when no stage is named:
#   bash scripts/test.sh [default] [asan] [fuzz] [windows]
# Tests labelled "slow" (the long fuzz runs) are left out; see README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
if ((${#stages[@]} == 0)); then
    stages=(default asan fuzz windows)
fi
for stage in "${stages[@]}"; do
    case "$stage" in
    default | asan | fuzz | windows) ;;
    *)
        echo "unknown stage '$stage' (default, asan, fuzz, windows)" >&2
        exit 2
        ;;
    esac
done

# clang and its sanitizer runtimes build the fuzz targets, llvm symbolizes
# sanitizer reports, strace injects the faults, desktop-file-validate checks
# the installed menu entry.
export REINDEX_DEPS_EXTRA="${REINDEX_DEPS_EXTRA:-} clang libclang-rt-14-dev llvm strace desktop-file-utils"
bash scripts/build.sh

# quietly LOG COMMAND...: COMMAND's output goes to LOG; on failure its end is shown.
quietly() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        echo "failed: $*; the end of $log:" >&2
        tail -n 40 "$log" >&2
        exit 1
    fi
}

# tests LOG CTEST-ARGUMENTS...: runs ctest with its output in LOG and shows
# its summary, or all of it when a test failed.
tests() {
    local log=$1
    shift
    echo "ctest $* (output in $log)"
    if ctest "$@" >"$log" 2>&1; then
        sed -n '/% tests passed/,$p' "$log"
    else
        cat "$log"
        exit 1
    fi
}

for stage in "${stages[@]}"; do
    started=$SECONDS
    echo "== $stage"
    case "$stage" in
    default)
        tests build/ctest.log --preset default --label-exclude '^slow$'
        ;;
    asan)
        echo "building build-asan/ (output in build-asan/build.log)"
        mkdir -p build-asan
        quietly build-asan/build.log bash -c 'cmake --preset asan && cmake --build --preset asan'
        tests build-asan/ctest.log --preset asan --label-exclude '^slow$'
        ;;
    fuzz)
        echo "building build-fuzz/ (output in build-fuzz/build.log)"
        mkdir -p build-fuzz
        quietly build-fuzz/build.log bash -c 'cmake --preset fuzz && cmake --build --preset fuzz'
        tests build-fuzz/ctest.log --preset fuzz
        ;;
    windows)
        bash scripts/test-windows.sh
        ;;
    esac
    echo "== $stage took $((SECONDS - started)) s"
done
