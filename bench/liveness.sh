#!/usr/bin/env bash
# How long the window freezes during a run: the longest stretch its main
# thread stays away from the event loop (where it repaints and takes input),
# in a first run into empty tables and in a second run into the full tables
# the first one left.
#
#   bench/liveness.sh [BUILD_DIR] [SIZE|huge]
#
# BUILD_DIR defaults to build/; SIZE (small, medium, large, long) to large;
# "huge" is the forum list of about 1 GB that huge.sh makes. The window runs
# under a private Xvfb server with build/bin/libloop-stretch.so preloaded
# (bench/stretch/loop-stretch.c), driven by xdotool as a person would drive
# it. STRETCH_MS (default 30) is the shortest stretch listed.
#
# Prints, per run, the longest stretch and how many reached 100 ms; the
# exit status is 1 if a run failed. A figure, not a test: nothing fails on it.

set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")

die() { echo "liveness: $*" >&2; exit 2; }
note() { echo "liveness: $*" >&2; }

if [[ -z ${LIVENESS_DISPLAY:-} ]]; then
    command -v xvfb-run >/dev/null || die "xvfb-run is missing; install xvfb and xauth"
    command -v xdotool >/dev/null || die "xdotool is missing (apt-get install xdotool)"
    exec xvfb-run -a -n $((200 + RANDOM % 600)) -s "-screen 0 1280x1024x24 -nolisten tcp" \
        env LIVENESS_DISPLAY=1 "${BASH_SOURCE[0]}" "$@"
fi

build=$root/build
if [[ $# -gt 0 && -d $1 ]]; then
    build=$1
    shift
fi
build=$(cd "$build" && pwd)
size=${1:-large}
window=$build/bin/reindex
shim=$build/bin/libloop-stretch.so
database=$build/tests/pristine/Database.mdb
[[ -f $database ]] || database=$build/bin/Database.mdb
[[ -x $window ]] || die "no $window; build it first"
[[ -f $shim ]] || die "no $shim; build the target loop-stretch"

if [[ $size == huge ]]; then
    lists=$here/out/huge
    [[ -f $lists/forums.txt ]] || die "no $lists/forums.txt; bench/huge.sh makes it"
else
    lists=$here/out/$size
    if [[ ! -f $lists/forums.txt ]]; then
        note "generating $size lists"
        "$build/bin/gen-lists" "$size" "$lists" >/dev/null
    fi
fi

now() { date +%s.%N; }

await_window() { # TITLE LIMIT: the id of a visible window of exactly that title
    local title=$1 limit=$2 start id
    start=$SECONDS
    while ((SECONDS - start < limit)); do
        for id in $(xdotool search --onlyvisible --name "$title" 2>/dev/null); do
            if [[ $(xdotool getwindowname "$id" 2>/dev/null) == "$title" ]]; then
                echo "$id"
                return 0
            fi
        done
        sleep 0.2
    done
    return 1
}

dir=$here/out/liveness
rm -rf "$dir"
mkdir -p "$dir"
cp "$window" "$database" "$dir/"
log=$dir/stretches.txt
LD_PRELOAD=$shim STRETCH_LOG=$log STRETCH_MS=${STRETCH_MS:-30} "$dir/reindex" >"$dir/window-log.txt" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
main=$(await_window "Переиндексация БД" 20) || die "the window did not appear"
sleep 0.5
xdotool mousemove --window "$main" 232 34 click 1
xdotool type --delay 0 "$lists/sections.txt"
xdotool mousemove --window "$main" 232 61 click 1
xdotool type --delay 0 "$lists/forums.txt"
sleep 0.3

marks=()
status=0
for run in first second; do
    start=$(now)
    xdotool mousemove --window "$main" 196 194 click 1
    box=$(await_window "Внимание!" 7200) || { note "no final box in the $run run"; status=1; break; }
    end=$(now)
    marks+=("$run $start $end")
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key Return
    sleep 0.5
done
# Every stretch is in the log already (a line each, as it ends).
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
trap - EXIT

echo "| run | wall | longest stretch away from the event loop | stretches of 100 ms or more |"
echo "|---|---:|---:|---:|"
for m in "${marks[@]}"; do
    read -r run start end <<<"$m"
    awk -v s="$start" -v e="$end" -v run="$run" '
        $1 != "longest" && $1 >= s && $1 <= e + 0.5 { if ($2 > max) { max = $2; at = $1 - s }; if ($2 >= 100) over++ }
        END { printf "| %s | %.2f s | %.0f ms (ending %.2f s in) | %d |\n", run, e - s, max, at, over }' "$log"
done
exit $status
