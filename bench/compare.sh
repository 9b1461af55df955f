#!/usr/bin/env bash
# Times reindex-cli against two peers that do the same job on the same lists,
# and checks that all three write the same bytes.
#
#   bench/compare.sh [BUILD_DIR] [SIZE...]       twin, awk peer, sqlite3 peer
#   bench/compare.sh --growth [BUILD_DIR]        twin on medium and on large
#
# BUILD_DIR defaults to build/ at the top of the tree, the sizes (small,
# medium, large, long, and huge: the 1 GB forum list huge.sh makes) to
# "large long". RUNS (default 5) sets the runs of each
# program on each size; AWK (default mawk when installed, else awk) the awk
# that runs the awk peer; BEFORE (a build directory) an earlier twin timed
# beside this one, as the fourth program.
#
# The peers:
#   peer-awk.awk     one pass of awk over the files, no database;
#   peer-sqlite.sql  the sqlite3 shell, set-based, in a database of its own
#                    (run through peer-sqlite.sh).
#
# Runs alternate (twin, awk, sqlite3 on the first size, the same on the next,
# then the second run of each, ...), so a machine that gets busier or quieter
# during the invocation weighs on every program and every size alike. Every
# run starts in a scratch folder of its own kind, emptied first; the twin gets
# a fresh copy of the pristine database the build made
# (build/tests/pristine/Database.mdb; the one in bin/ is filled by every run
# made there), the sqlite3 peer makes its own.
#
# A first, untimed run of the awk peer on each size is the baseline: it is
# itself compared with what reference.awk (which validates every line) derives
# from the lists, and every timed run of every program must then write
# fr_fr.txt and forum.txt byte-identical to it (cmp).
#
# Prints Markdown tables, one per size: median wall time and CPU time (user +
# system), peak resident memory (largest over the runs), the inputs' size and
# the ratios with their goals. The exit status is 1 only when a program failed
# or wrote something else; timings never fail it.
#
# --growth times the twin alone, alternating medium and large, and prints how
# much longer the large lists take than the medium ones against how many more
# lines they have.

set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
out=$here/out
runs=${RUNS:-5}

die() { echo "compare: $*" >&2; exit 2; }
note() { echo "compare: $*" >&2; }
is_size() { [[ $1 == small || $1 == medium || $1 == large || $1 == long || $1 == huge ]]; }

# The goals the ratios are read against. Peak memory is a figure of its own,
# not a share of the input: it must hold whatever the lists' size.
goal_vs_sqlite=0.6
goal_vs_awk=1
goal_peak_mb=100
goal_growth=5.5

mode=compare
if [[ ${1:-} == --growth ]]; then
    mode=growth
    shift
fi
build=$root/build
if [[ $# -gt 0 ]] && ! is_size "$1"; then
    build=$1
    shift
fi
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(large long)
[[ $mode == compare || $# -eq 0 ]] || die "usage: compare.sh [BUILD_DIR] [SIZE...] | compare.sh --growth [BUILD_DIR]"
declare -A seen=()
for s in "${sizes[@]}"; do
    is_size "$s" || die "unknown size '$s' (small, medium, large, long, huge)"
    # Both would log to the same files.
    [[ -z ${seen[$s]:-} ]] || die "size '$s' given twice"
    seen[$s]=1
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, got '$runs'"
[[ -d $build ]] || die "no build directory '$build'"
build=$(cd "$build" && pwd)

source "$here/peers.sh"
if [[ $mode == compare ]]; then
    command -v sqlite3 >/dev/null || die "the sqlite3 shell is missing (apt-get install sqlite3)"
fi

# The build may be rebuilt while the runs go on: every run takes the program
# and the database as they were when this invocation started.
mkdir -p "$out"
snapshot=$(mktemp -d "$out/compare-snapshot.XXXXXX")
trap 'rm -rf "$snapshot"' EXIT
cp "$twin" "$pristine" "$snapshot/"
twin=$snapshot/reindex-cli
pristine=$snapshot/Database.mdb
if [[ -n $before_twin ]]; then
    mkdir "$snapshot/before"
    cp "$before_twin" "$before_pristine" "$snapshot/before/"
    before_twin=$snapshot/before/reindex-cli
    before_pristine=$snapshot/before/Database.mdb
fi

# Prefer the generator the build made, unless it predates its source (it
# would not know the newer sizes); fall back to compiling it here.
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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && a != "-" && b + 0 > 0) printf "%.2f", a / b; else printf "-" }'; }

# Median of the numbers on stdin (mean of the middle two for an even count).
median() {
    sort -n | awk '{ v[NR] = $1 }
        END { if (NR == 0) printf "-"; else if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Makes out/SIZE/sections.txt and forums.txt unless they exist, and the
# baseline the runs are checked against: out/SIZE/compare/baseline/.
prepare_size() {
    local size=$1 dir=$out/$1
    local sections=$dir/sections.txt forums=$dir/forums.txt
    local expected=$dir/expected baseline=$dir/compare/baseline
    if [[ $size == huge && ! -f $forums ]]; then
        die "no $forums; bench/huge.sh makes it"
    elif [[ ! -f $sections || ! -f $forums ]]; then
        note "generating $size lists"
        "$gen" "$size" "$dir" >/dev/null
    fi
    if [[ ! -f $expected/forum.txt || $sections -nt $expected/forum.txt || $forums -nt $expected/forum.txt ]]; then
        note "computing $size reference outputs"
        rm -rf "$expected"
        mkdir -p "$expected"
        LC_ALL=C "$awk" -v outdir="$expected" -f "$here/reference.awk" "$sections" "$forums"
    fi
    rm -rf "$baseline"
    mkdir -p "$baseline"
}

# run_one KIND SIZE: one timed run; appends "wall kb cpu" to the run log of
# KIND and prints its check ("ok" or what went wrong).
run_one() {
    local kind=$1 size=$2 dir=$out/$2
    local sections=$dir/sections.txt forums=$dir/forums.txt
    local scratch=$dir/compare/$kind baseline=$dir/compare/baseline
    local timing=$dir/compare/$kind.time errlog=$dir/compare/$kind.stderr
    local rc

    # Nothing from an earlier run may leak in: not the outputs, not the data
    # the previous run left in the database.
    rm -rf "$scratch"
    mkdir -p "$scratch"
    case $kind in
    twin | before)
        if [[ $kind == twin ]]; then
            cp "$twin" "$pristine" "$scratch/"
        else
            cp "$before_twin" "$before_pristine" "$scratch/"
        fi
        set +e
        /usr/bin/time -f '%e %M %U %S' -o "$timing" \
            "$scratch/reindex-cli" "$sections" "$forums" >/dev/null 2>"$errlog"
        rc=$?
        set -e
        ;;
    awk)
        set +e
        LC_ALL=C /usr/bin/time -f '%e %M %U %S' -o "$timing" \
            "$awk" -v outdir="$scratch" -f "$here/peer-awk.awk" "$sections" "$forums" >/dev/null 2>"$errlog"
        rc=$?
        set -e
        ;;
    sqlite)
        set +e
        /usr/bin/time -f '%e %M %U %S' -o "$timing" \
            "$here/peer-sqlite.sh" "$sections" "$forums" "$scratch" >/dev/null 2>"$errlog"
        rc=$?
        set -e
        ;;
    esac

    if [[ $rc -ne 0 ]]; then
        note "$kind ($size) exited with $rc; its stderr ends with:"
        tail -n 20 "$errlog" >&2
        echo "FAIL: exit $rc"
        return
    fi
    # GNU time puts a status line before the figures when the command fails;
    # the figures are always the last line.
    local wall kb user sys
    read -r wall kb user sys < <(tail -n 1 "$timing")
    echo "$wall $kb $(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')" >> "$dir/compare/$kind.runs"

    local f
    if [[ ! -f $baseline/forum.txt ]]; then
        # The first awk run: checked against the validating reference, then
        # kept as what every other run must write.
        for f in fr_fr.txt forum.txt; do
            [[ -f $scratch/$f ]] || { echo "FAIL: no $f"; return; }
            if ! cmp -s "$scratch/$f" "$dir/expected/$f"; then
                cmp "$scratch/$f" "$dir/expected/$f" >&2 || true
                echo "FAIL: $f differs from reference.awk"
                return
            fi
        done
        cp "$scratch/fr_fr.txt" "$scratch/forum.txt" "$baseline/"
    fi
    for f in fr_fr.txt forum.txt; do
        if [[ ! -f $scratch/$f ]]; then
            echo "FAIL: no $f"
            return
        fi
        if ! cmp -s "$scratch/$f" "$baseline/$f"; then
            note "$kind ($size): $f differs from the awk peer's"
            cmp "$scratch/$f" "$baseline/$f" >&2 || true
            echo "FAIL: $f differs"
            return
        fi
    done
    echo ok
}

# Column N of the run log of KIND on SIZE (1 wall, 2 peak KB, 3 CPU).
logged() { [[ -f $out/$2/compare/$1.runs ]] && awk -v n="$3" '{ print $n }' "$out/$2/compare/$1.runs" || true; }
median_of() { logged "$1" "$2" "$3" | median; }
peak_mb_of() {
    local kb
    kb=$(logged "$1" "$2" 2 | sort -n | tail -n 1)
    [[ -n $kb ]] && megabytes $((kb * 1024)) || printf -- "-"
}
input_bytes() { echo $(($(stat -c %s "$out/$1/sections.txt") + $(stat -c %s "$out/$1/forums.txt"))); }

host() {
    echo "Host: $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | sed 's/.*: //'), $(nproc) CPU(s), $(uname -sr)," \
        "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $runs run(s) each; awk: $(basename "$awk")"
}

status=0

if [[ $mode == growth ]]; then
    sizes=(medium large)
    declare -A check
    for s in "${sizes[@]}"; do
        prepare_size "$s"
        rm -f "$out/$s/compare/"*.runs
        check[$s]=ok
        # The baseline comes from one untimed awk run.
        result=$(run_one awk "$s")
        [[ $result == ok ]] || { check[$s]="awk peer: $result"; status=1; }
        rm -f "$out/$s/compare/awk.runs"
    done
    for ((run = 1; run <= runs; run++)); do
        for s in "${sizes[@]}"; do
            [[ ${check[$s]} == ok ]] || continue
            note "twin $s: run $run/$runs"
            result=$(run_one twin "$s")
            [[ $result == ok ]] || { check[$s]=$result; status=1; }
        done
    done

    host
    echo
    echo "| size | lines | input MB | median wall s | median CPU s | peak RSS MB | check |"
    echo "|------|------:|---------:|--------------:|-------------:|------------:|-------|"
    for s in "${sizes[@]}"; do
        n=$(($(lines "$out/$s/sections.txt") + $(lines "$out/$s/forums.txt")))
        echo "| $s | $n | $(megabytes "$(input_bytes "$s")") | $(median_of twin "$s" 1) | $(median_of twin "$s" 3)" \
            "| $(peak_mb_of twin "$s") | ${check[$s]} |"
    done
    echo
    mlines=$(($(lines "$out/medium/sections.txt") + $(lines "$out/medium/forums.txt")))
    llines=$(($(lines "$out/large/sections.txt") + $(lines "$out/large/forums.txt")))
    echo "| large / medium | ratio | goal |"
    echo "|----------------|------:|-----:|"
    echo "| lines | $(ratio "$llines" "$mlines") | |"
    echo "| wall time | $(ratio "$(median_of twin large 1)" "$(median_of twin medium 1)") | ≤ $goal_growth |"
    echo "| CPU time | $(ratio "$(median_of twin large 3)" "$(median_of twin medium 3)") | |"
    exit $status
fi

kinds=(twin awk sqlite)
names=([0]="reindex-cli" [1]="awk peer" [2]="sqlite3 peer")
if [[ -n $before_twin ]]; then
    kinds+=(before)
    names+=("reindex-cli before ($BEFORE)")
fi
declare -A check=()
for size in "${sizes[@]}"; do
    prepare_size "$size"
    rm -f "$out/$size/compare/"*.runs
    for kind in "${kinds[@]}"; do
        check[$kind/$size]=ok
    done
    # The baseline comes from one untimed awk run, which also brings the lists
    # into the page cache for everyone.
    note "awk $size: baseline run"
    result=$(run_one awk "$size")
    rm -f "$out/$size/compare/awk.runs"
    if [[ $result != ok ]]; then
        check[twin/$size]="not run: no baseline"
        check[awk/$size]=$result
        check[sqlite/$size]="not run: no baseline"
        [[ -z $before_twin ]] || check[before/$size]="not run: no baseline"
        status=1
    fi
done
for ((run = 1; run <= runs; run++)); do
    for size in "${sizes[@]}"; do
        for kind in "${kinds[@]}"; do
            [[ ${check[$kind/$size]} == ok ]] || continue
            note "$kind $size: run $run/$runs"
            result=$(run_one "$kind" "$size")
            [[ $result == ok ]] || { check[$kind/$size]=$result; status=1; }
        done
    done
done

# Median of column N for KIND on SIZE, or "-" when that program wrote
# something else: such a run has no figure worth comparing.
checked_median() {
    if [[ ${check[$1/$2]} == ok ]]; then median_of "$1" "$2" "$3"; else printf -- "-"; fi
}

host
for size in "${sizes[@]}"; do
    echo
    echo "Lists: $size, $(lines "$out/$size/sections.txt") sections + $(lines "$out/$size/forums.txt") forums," \
        "$(megabytes "$(input_bytes "$size")") MB, forum lines of $(awk -v b="$(stat -c %s "$out/$size/forums.txt")" \
        -v n="$(lines "$out/$size/forums.txt")" 'BEGIN { printf "%.1f", n ? b / n : 0 }') bytes on average"
    echo
    echo "| program | median wall s | median CPU s | peak RSS MB | check |"
    echo "|---------|--------------:|-------------:|------------:|-------|"
    for i in "${!kinds[@]}"; do
        kind=${kinds[$i]}
        echo "| ${names[$i]} | $(median_of "$kind" "$size" 1) | $(median_of "$kind" "$size" 3) | $(peak_mb_of "$kind" "$size") | ${check[$kind/$size]} |"
    done
    echo
    twinpeak=-
    [[ ${check[twin/$size]} == ok ]] && twinpeak=$(peak_mb_of twin "$size")
    echo "| ratio, $size | value | goal |"
    echo "|-------------|------:|-----:|"
    echo "| twin / sqlite3 peer, wall | $(ratio "$(checked_median twin "$size" 1)" "$(checked_median sqlite "$size" 1)") | ≤ $goal_vs_sqlite |"
    echo "| twin / awk peer, wall | $(ratio "$(checked_median twin "$size" 1)" "$(checked_median awk "$size" 1)") | ≤ $goal_vs_awk |"
    echo "| twin peak RSS, MB | $twinpeak | ≤ $goal_peak_mb |"
    # CPU time is what a busy machine disturbs least; for reading, not for goals.
    echo "| twin / sqlite3 peer, CPU | $(ratio "$(checked_median twin "$size" 3)" "$(checked_median sqlite "$size" 3)") | |"
    echo "| twin / awk peer, CPU | $(ratio "$(checked_median twin "$size" 3)" "$(checked_median awk "$size" 3)") | |"
    if [[ -n $before_twin ]]; then
        echo "| twin / twin before, wall | $(ratio "$(checked_median twin "$size" 1)" "$(checked_median before "$size" 1)") | |"
        echo "| twin before / awk peer, wall | $(ratio "$(checked_median before "$size" 1)" "$(checked_median awk "$size" 1)") | |"
    fi
done
exit $status
