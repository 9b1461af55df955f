#!/usr/bin/env bash
# Runs reindex-cli and the awk peer once each on a forum list of about 1 GB,
# and checks that both write the same bytes.
#
#   bench/huge.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build/ at the top of the tree. The forum list is the
# large one written over and over (23 times, 23,000,000 forums, 1.00 GB) and
# goes with the large section list, so lines and sections are those the other
# figures are taken on, only many more of them; HUGE_BYTES (default
# 1000000000) sets the size to reach. AWK (default mawk when installed, else
# awk) picks the awk of the awk peer.
#
# The twin runs from a folder of its own with a copy of the pristine database
# the build made, as compare.sh runs it; then the awk peer. Each is timed by
# /usr/bin/time (wall time and peak resident memory), and both must exit 0
# and write fr_fr.txt and forum.txt byte-identical to each other (cmp).
#
# Everything lives under out/huge/. The list stays there, with the large
# section list beside it as sections.txt, for `liveness.sh huge` and
# `compare.sh huge` (which times the sqlite3 peer too, and an earlier twin
# with BEFORE); it is written again only when missing or of another size.
# The twin's database and both programs' outputs, several GB, are removed
# when the script ends, however it ends; the timings and the programs'
# stderr stay.
#
# Prints a Markdown table with the goals beside the twin's figures. The exit
# status is 1 when a program failed or the outputs differ, 2 on a usage or
# set-up error; timings never fail it.

set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
out=$here/out
dir=$out/huge
target=${HUGE_BYTES:-1000000000}

die() { echo "huge: $*" >&2; exit 2; }
note() { echo "huge: $*" >&2; }

goal_wall_s=60
goal_peak_mb=100
goal_vs_awk=1

[[ $# -le 1 ]] || die "usage: huge.sh [BUILD_DIR]"
build=${1:-$root/build}
[[ -d $build ]] || die "no build directory '$build'"
build=$(cd "$build" && pwd)
[[ $target =~ ^[1-9][0-9]*$ ]] || die "HUGE_BYTES must be a positive integer, got '$target'"

source "$here/peers.sh"

# The list, the twin's database and its log, and two pairs of outputs each
# about the list's size: five times the list leaves some room to spare.
mkdir -p "$dir"
free=$(df -P -B1 "$dir" | awk 'NR == 2 { print $4 }')
(( free > 5 * target )) || die "$((free / 1048576)) MB free under $dir; want $((5 * target / 1048576)) MB"

# Prefer the generator the build made, unless it predates its source (it
# would not know the newer sizes); fall back to compiling it here.
gen=$build/bin/gen-lists
if [[ ! -x $gen || $here/gen-lists.cpp -nt $gen ]]; then
    gen=$out/gen-lists
    if [[ ! -x $gen || $here/gen-lists.cpp -nt $gen ]]; then
        note "compiling $gen"
        "${CXX:-g++}" -std=c++20 -O2 -o "$gen" "$here/gen-lists.cpp"
    fi
fi

sections=$out/large/sections.txt
unit=$out/large/forums.txt
if [[ ! -f $sections || ! -f $unit ]]; then
    note "generating large lists"
    "$gen" large "$out/large" >/dev/null
fi

forums=$dir/forums.txt
scratch_twin=$dir/twin
scratch_awk=$dir/awk
cleanup() { rm -rf "$scratch_twin" "$scratch_awk"; }
trap cleanup EXIT
cleanup
mkdir -p "$scratch_twin" "$scratch_awk"

# The build may be rebuilt meanwhile; the run takes them as they are now.
cp "$twin" "$pristine" "$scratch_twin/"

# Written a copy at a time, so the list is never held in memory; the large
# list ends in CR LF, so the copies join into whole lines.
unitbytes=$(stat -c %s "$unit")
copies=$(((target + unitbytes - 1) / unitbytes))
if [[ ! -f $forums || $(stat -c %s "$forums") -ne $((copies * unitbytes)) ]]; then
    note "writing $copies copies of the large forum list to $forums"
    for ((i = 0; i < copies; i++)); do
        cat "$unit"
    done > "$forums"
fi
cp "$sections" "$dir/sections.txt"
bytes=$(($(stat -c %s "$sections") + $(stat -c %s "$forums")))
nforums=$(($(wc -l < "$unit") * copies))

lines() { wc -l < "$1" | tr -d ' '; }
megabytes() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

declare -A wall peak check

# timed KIND COMMAND...: one run under /usr/bin/time; its figures go to
# wall[KIND] and peak[KIND] (MB), its failure to check[KIND].
timed() {
    local kind=$1 rc
    shift
    note "$kind: running"
    set +e
    /usr/bin/time -f '%e %M' -o "$dir/$kind.time" "$@" >/dev/null 2>"$dir/$kind.stderr"
    rc=$?
    set -e
    local w=- kb=
    # GNU time puts a status line before the figures when the command fails;
    # the figures are always the last line.
    read -r w kb < <(tail -n 1 "$dir/$kind.time") || true
    wall[$kind]=$w
    peak[$kind]=-
    [[ $kb =~ ^[0-9]+$ ]] && peak[$kind]=$(megabytes $((kb * 1024)))
    check[$kind]=ok
    if [[ $rc -ne 0 ]]; then
        note "$kind exited with $rc; its stderr ends with:"
        tail -n 20 "$dir/$kind.stderr" >&2
        check[$kind]="FAIL: exit $rc"
    fi
}

timed twin "$scratch_twin/reindex-cli" "$sections" "$forums"
twindisk=$(du -sm "$scratch_twin" | cut -f1)
# The twin's database is not needed any more, and the disk may be short.
rm -f "$scratch_twin"/Database.mdb*
timed awk env LC_ALL=C "$awk" -v outdir="$scratch_awk" -f "$here/peer-awk.awk" "$sections" "$forums"

status=0
for kind in twin awk; do
    [[ ${check[$kind]} == ok ]] || status=1
done
if [[ $status -eq 0 ]]; then
    for f in fr_fr.txt forum.txt; do
        if [[ ! -f $scratch_twin/$f || ! -f $scratch_awk/$f ]]; then
            check[twin]="FAIL: no $f"
        elif [[ $f == forum.txt && $(lines "$scratch_awk/$f") -ne $nforums ]]; then
            check[awk]="FAIL: $f has $(lines "$scratch_awk/$f") lines, want $nforums"
        elif ! cmp -s "$scratch_twin/$f" "$scratch_awk/$f"; then
            cmp "$scratch_twin/$f" "$scratch_awk/$f" >&2 || true
            check[twin]="FAIL: $f differs from the awk peer's"
        fi
        [[ ${check[twin]} == ok && ${check[awk]} == ok ]] || { status=1; break; }
    done
fi

echo "Host: $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | sed 's/.*: //'), $(nproc) CPU(s), $(uname -sr)," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; awk: $(basename "$awk")"
echo "Lists: large sections ($(lines "$sections")) + the large forums $copies times over ($nforums)," \
    "$(megabytes "$bytes") MB; the twin's folder took $twindisk MB at its end"
echo
echo "| program | wall s | peak RSS MB | check |"
echo "|---------|-------:|------------:|-------|"
echo "| reindex-cli | ${wall[twin]} | ${peak[twin]} | ${check[twin]} |"
echo "| awk peer | ${wall[awk]} | ${peak[awk]} | ${check[awk]} |"
echo "| goal for reindex-cli | ≤ $goal_wall_s | ≤ $goal_peak_mb | |"
echo
echo "| twin / awk peer, wall | $(awk -v a="${wall[twin]}" -v b="${wall[awk]}" \
    'BEGIN { if (a != "-" && b + 0 > 0) printf "%.2f", a / b; else printf "-" }') | ≤ $goal_vs_awk |"
exit $status
