#!/usr/bin/env bash
# Times reindex-cli on the generated sample lists and checks what it writes.
#
#   bench/run-twin.sh [BUILD_DIR] [SIZES...]
#
# BUILD_DIR defaults to build/ at the top of the tree, SIZES (small, medium,
# large, long) to "small medium large". RUNS (default 3) sets the runs per
# size.
#
# reindex-cli keeps Database.mdb, its intermediates and its outputs next to
# itself, so each size gets a private copy of the program, and every run
# starts from a pristine copy of the database the build made.
#
# Each run must exit 0 and leave fr_fr.txt and forum.txt with one line per
# input line, byte-identical to what reference.awk derives from the same lists.
#
# Prints a Markdown table (median wall time, peak RSS over all runs, input
# size) ready to paste into README.md.

set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
out=$here/out
runs=${RUNS:-3}

is_size() { [[ $1 == small || $1 == medium || $1 == large || $1 == long ]]; }

build=$root/build
if [[ $# -gt 0 ]] && ! is_size "$1"; then
    build=$1
    shift
fi
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(small medium large)

die() { echo "run-twin: $*" >&2; exit 2; }
note() { echo "run-twin: $*" >&2; }

for s in "${sizes[@]}"; do
    is_size "$s" || die "unknown size '$s' (small, medium, large, long)"
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, got '$runs'"
[[ -d $build ]] || die "no build directory '$build'"
build=$(cd "$build" && pwd)

twin=$build/bin/reindex-cli
# The pristine copy the build keeps for the tests: the one in bin/ holds the
# tables of whatever run was last made there, and a run starting from full
# tables empties them first, which is not what is measured here.
database=$build/tests/pristine/Database.mdb
[[ -f $database ]] || database=$build/bin/Database.mdb
[[ -x $twin ]] || die "no $twin; build it first: cmake --build '$build' --target reindex-cli"
[[ -f $database ]] || die "no $database; the build makes it next to reindex-cli"
[[ -x /usr/bin/time ]] || die "/usr/bin/time is missing; install the 'time' package (apt-get install time)"
command -v awk >/dev/null || die "awk is missing; install mawk or gawk"

# Prefer the generator the build made, unless it predates its source (it
# would not know the newer sizes); fall back to compiling it here, which also
# lets the lists be made before the rest of the tree builds.
gen=$build/bin/gen-lists
if [[ ! -x $gen || $here/gen-lists.cpp -nt $gen ]]; then
    gen=$out/gen-lists
    if [[ ! -x $gen || $here/gen-lists.cpp -nt $gen ]]; then
        mkdir -p "$out"
        note "compiling $gen"
        "${CXX:-g++}" -std=c++20 -O2 -o "$gen" "$here/gen-lists.cpp"
    fi
fi

lines() { wc -l < "$1" | tr -d ' '; }
megabytes() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# Median of the numbers on stdin (mean of the middle two for an even count).
median() {
    sort -n | awk '{ v[NR] = $1 }
        END { if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "Host: $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | sed 's/.*: //'), $(nproc) CPU(s), $(uname -sr); $runs run(s) per size"
echo
echo "| size | sections | forums | input MB | median wall s | peak RSS MB | check |"
echo "|------|---------:|-------:|---------:|--------------:|------------:|-------|"

status=0
for size in "${sizes[@]}"; do
    dir=$out/$size
    sections=$dir/sections.txt
    forums=$dir/forums.txt
    expected=$dir/expected
    prog=$dir/prog
    errlog=$dir/twin-stderr.txt

    if [[ ! -f $sections || ! -f $forums ]]; then
        note "generating $size lists"
        "$gen" "$size" "$dir" >/dev/null
    fi
    if [[ ! -f $expected/forum.txt || $sections -nt $expected/forum.txt || $forums -nt $expected/forum.txt ]]; then
        note "computing $size reference outputs"
        rm -rf "$expected"
        mkdir -p "$expected"
        LC_ALL=C awk -v outdir="$expected" -f "$here/reference.awk" "$sections" "$forums"
    fi

    nsections=$(lines "$sections")
    nforums=$(lines "$forums")
    inputmb=$(megabytes $(( $(stat -c %s "$sections") + $(stat -c %s "$forums") )))

    rm -rf "$prog"
    mkdir -p "$prog"
    cp "$twin" "$prog/"

    walls=()
    peakkb=0
    check=ok
    for ((run = 1; run <= runs; run++)); do
        note "$size: run $run/$runs"
        # Nothing from an earlier run may leak in: not the outputs, not the
        # data the previous run left in the database.
        find "$prog" -mindepth 1 ! -name reindex-cli -exec rm -rf {} +
        cp "$database" "$prog/"

        set +e
        /usr/bin/time -f '%e %M' -o "$dir/time.txt" \
            "$prog/reindex-cli" "$sections" "$forums" >/dev/null 2>"$errlog"
        rc=$?
        set -e

        if [[ $rc -ne 0 ]]; then
            check="FAIL: exit $rc"
            note "$size: reindex-cli exited with $rc; its stderr ends with:"
            tail -n 20 "$errlog" >&2
            break
        fi
        # GNU time puts a status line before the figures when the command fails;
        # the figures are always the last line.
        read -r wall kb < <(tail -n 1 "$dir/time.txt")
        walls+=("$wall")
        if (( kb > peakkb )); then peakkb=$kb; fi

        for f in fr_fr.txt forum.txt; do
            if [[ ! -f $prog/$f ]]; then
                check="FAIL: no $f"
            elif [[ $f == fr_fr.txt && $(lines "$prog/$f") -ne $nsections ]]; then
                check="FAIL: $f has $(lines "$prog/$f") lines, want $nsections"
            elif [[ $f == forum.txt && $(lines "$prog/$f") -ne $nforums ]]; then
                check="FAIL: $f has $(lines "$prog/$f") lines, want $nforums"
            elif ! cmp -s "$prog/$f" "$expected/$f"; then
                check="FAIL: $f differs from reference"
                cmp "$prog/$f" "$expected/$f" >&2 || true
            fi
            [[ $check == ok ]] || break
        done
        [[ $check == ok ]] || break
    done
    [[ $check == ok ]] || status=1

    if [[ ${#walls[@]} -gt 0 ]]; then
        wall=$(printf '%s\n' "${walls[@]}" | median)
        rss=$(megabytes $(( peakkb * 1024 )))
    else
        wall=-
        rss=-
    fi
    echo "| $size | $nsections | $nforums | $inputmb | $wall | $rss | $check |"
done

exit $status
