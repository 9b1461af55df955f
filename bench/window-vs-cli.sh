#!/usr/bin/env bash
# Times a run from the window program against reindex-cli on the same lists.
#
#   bench/window-vs-cli.sh [BUILD_DIR] [SIZE]
#
# BUILD_DIR defaults to build/ at the top of the tree, SIZE (small, medium,
# large, long) to large. RUNS (default 3) sets the runs of each program.
#
# The window program is driven as a person would drive it, under a private
# Xvfb server: xdotool types both file names into the fields, clicks the start
# button and waits for the final box. Its time runs from the click to the
# moment the box "Внимание!" is up (seen by polling, see await_window); reindex-cli
# is timed from its start to its "Обработка завершена!" on stdout, so the
# window's figure leaves out its start-up and the twin's does not. Processor
# time (user + system) is given beside the wall time, as it is far less
# disturbed by other load on the machine: the window's over the same span,
# the twin's for its whole life, closing the database included. After each
# run both programs must have written the same fr_fr.txt and forum.txt.
#
# Needs Xvfb and xauth (Debian: xvfb, xauth), xdotool, inotifywait (inotify-tools) and /usr/bin/time (time);
# xev (x11-utils) times the box's mapping exactly, else the box is looked for
# every 50 ms (NO_XEV=1 forces that). Prints the medians and their ratio, and
# the median of the ratios run by run; the exit status is 1 if a run failed or
# the outputs differ.

set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")

die() { echo "window-vs-cli: $*" >&2; exit 2; }
note() { echo "window-vs-cli: $*" >&2; }

# Start over inside a throw-away X server; everything below runs there.
if [[ -z ${WINDOW_VS_CLI_DISPLAY:-} ]]; then
    command -v xvfb-run >/dev/null || die "xvfb-run is missing; install xvfb and xauth (apt-get install xvfb xauth)"
    command -v xauth >/dev/null || die "xauth is missing (apt-get install xauth)"
    command -v xdotool >/dev/null || die "xdotool is missing (apt-get install xdotool)"
    command -v inotifywait >/dev/null || die "inotifywait is missing (apt-get install inotify-tools)"
    # Away from the usual :99, which other jobs on the machine may be racing for.
    exec xvfb-run -a -n $((200 + RANDOM % 600)) -s "-screen 0 1280x1024x24 -nolisten tcp" \
        env WINDOW_VS_CLI_DISPLAY=1 "${BASH_SOURCE[0]}" "$@"
fi

is_size() { [[ $1 == small || $1 == medium || $1 == large || $1 == long ]]; }

build=$root/build
if [[ $# -gt 0 ]] && ! is_size "$1"; then
    build=$1
    shift
fi
size=${1:-large}
runs=${RUNS:-3}
is_size "$size" || die "unknown size '$size' (small, medium, large, long)"
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, got '$runs'"
[[ -d $build ]] || die "no build directory '$build'"
build=$(cd "$build" && pwd)

window=$build/bin/reindex
twin=$build/bin/reindex-cli
# Without xev the box is looked for every 50 ms (see run_window).
use_xev=0
if [[ ${NO_XEV:-} != 1 ]] && command -v xev >/dev/null && command -v stdbuf >/dev/null; then
    use_xev=1
else
    note "no xev (apt-get install x11-utils): the final box is looked for every 50 ms, which the window's figure pays"
fi
# The empty database the build keeps for tests, else the one beside the
# programs (the tables are emptied by every run in any case).
database=$build/tests/pristine/Database.mdb
[[ -f $database ]] || database=$build/bin/Database.mdb
for f in "$window" "$twin"; do
    [[ -x $f ]] || die "no $f; build it first (cmake --build --preset default)"
done
# Prefer the generator the build made, unless it predates its source (it
# would not know the newer sizes); fall back to compiling it here.
gen=$build/bin/gen-lists
if [[ ! -x $gen || $here/gen-lists.cpp -nt $gen ]]; then
    gen=$here/out/gen-lists
    if [[ ! -x $gen || $here/gen-lists.cpp -nt $gen ]]; then
        mkdir -p "$here/out"
        note "compiling $gen"
        "${CXX:-g++}" -std=c++20 -O2 -o "$gen" "$here/gen-lists.cpp"
    fi
fi
[[ -f $database ]] || die "no $database; the build makes it next to the programs"
[[ -x /usr/bin/time ]] || die "/usr/bin/time is missing (apt-get install time)"

lists=$here/out/$size
sections=$lists/sections.txt
forums=$lists/forums.txt
if [[ ! -f $sections || ! -f $forums ]]; then
    note "generating $size lists"
    "$gen" "$size" "$lists" >/dev/null
fi

scratch=$here/out/window-vs-cli
mkdir -p "$scratch"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
median() {
    sort -n | awk '{ v[NR] = $1 }
        END { if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# A fresh program folder: the program and a pristine copy of the database.
fresh() {
    local dir=$1 program=$2
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$program" "$database" "$dir/"
}

# Waits up to $2 seconds for a window titled exactly $1; prints its id. Looks
# every 50 ms for the first 2 s, then every 200 ms: each look is a process of
# its own, and on a busy machine a fast poll would slow what it is timing.
await_window() {
    local title=$1 limit=$2 id start waited
    start=$(now)
    while :; do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
        if [[ -n $id ]]; then
            echo "$id"
            return 0
        fi
        waited=$(elapsed "$start" "$(now)")
        if awk -v w="$waited" -v l="$limit" 'BEGIN { exit !(w > l) }'; then
            return 1
        fi
        if awk -v w="$waited" 'BEGIN { exit !(w < 2) }'; then
            sleep 0.05
        else
            sleep 0.2
        fi
    done
}

# Prints three times: wall to the twin's "Обработка завершена!" on stdout, wall
# to its exit, and its processor time (user + system).
run_twin() {
    local dir=$scratch/cli start finished end
    fresh "$dir" "$twin"
    start=$(now)
    finished=$(/usr/bin/time -o "$scratch/cli-cpu.txt" -f '%U %S' \
        "$dir/reindex-cli" "$sections" "$forums" 2>"$scratch/cli-stderr.txt" \
        | { IFS= read -r _ && now; cat >/dev/null; }) \
        || { note "reindex-cli failed:"; tail -n 5 "$scratch/cli-stderr.txt" >&2; return 1; }
    end=$(now)
    echo "$(elapsed "$start" "$finished") $(elapsed "$start" "$end") $(awk '{ printf "%.2f", $1 + $2 }' "$scratch/cli-cpu.txt")"
}

# User plus system time of process $1 so far, in clock ticks.
cpu_ticks() {
    # Fields 14 and 15 of stat, counted after the parenthesised command name.
    sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}

# Clicks at (x, y) within window $1.
click_at() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

run_window() {
    local dir=$scratch/window pid main box start end cpu_start cpu_end
    fresh "$dir" "$window"
    "$dir/reindex" >"$scratch/window-log.txt" 2>&1 &
    pid=$!
    # shellcheck disable=SC2064
    trap "kill $pid 2>/dev/null || true" RETURN
    main=$(await_window "Переиндексация БД" 20) || { note "the window did not appear"; return 1; }
    # Mapped is not yet ready for input.
    sleep 0.5
    xdotool windowfocus --sync "$main" 2>/dev/null || true

    # Client coordinates of the fields' and the button's middles.
    click_at "$main" 232 34
    xdotool type --delay 0 "$sections"
    click_at "$main" 232 61
    xdotool type --delay 0 "$forums"
    sleep 0.3

    # The outputs land just before the final box. Waiting for them costs
    # nothing while the run goes on, whereas looking for the box again and
    # again is a process every 50 ms on the processors the run needs.
    inotifywait -q -q -t 3600 -e moved_to --include '/forum\.txt$' "$dir" &
    local watcher=$!
    # The moment the box is mapped, as the X server tells it (xev, package
    # x11-utils): looking for it every 50 ms would add a wait of the script's
    # own to the window's figure, which the twin's stdout line does not have.
    local maps=$scratch/maps.txt spy=
    : >"$maps"
    if ((use_xev)); then
        stdbuf -oL xev -root -event substructure 2>/dev/null \
            > >(while IFS= read -r line; do
                [[ $line == MapNotify* ]] && echo "${EPOCHREALTIME/,/.}"
            done >"$maps") &
        spy=$!
        # shellcheck disable=SC2064
        trap "kill $pid $spy 2>/dev/null || true" RETURN
    fi
    sleep 0.2
    cpu_start=$(cpu_ticks "$pid")
    start=$(now)
    click_at "$main" 196 194
    wait "$watcher" || true
    box=$(await_window "Внимание!" 3600) || { note "no final box"; return 1; }
    end=$(now)
    if [[ -n $spy ]]; then
        # The first window mapped after the click is the box.
        local mapped
        mapped=$(awk -v s="$start" '$1 > s { print; exit }' "$maps")
        [[ -n $mapped ]] && end=$mapped
        kill "$spy" 2>/dev/null || true
    fi
    cpu_end=$(cpu_ticks "$pid")
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key Return
    sleep 0.3
    if xdotool search --onlyvisible --name "^Внимание!\$" >/dev/null 2>&1; then
        note "the final box did not go away on Return"
        return 1
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        note "the window program ended during the run"
        return 1
    fi
    # A box without the outputs is a warning about a file name gone astray.
    if [[ ! -f $dir/fr_fr.txt || ! -f $dir/forum.txt ]]; then
        note "the window showed a box but wrote nothing: a file name was not typed as meant"
        return 1
    fi
    echo "$(elapsed "$start" "$end") $(awk -v a="$cpu_start" -v b="$cpu_end" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { printf "%.2f", (b - a) / hz }')"
}

note "$size lists: $(wc -l <"$sections") sections, $(wc -l <"$forums") forums; $runs run(s) each"
twin_times=()
twin_exits=()
twin_cpus=()
window_times=()
window_cpus=()
status=0
for ((run = 1; run <= runs; run++)); do
    note "run $run/$runs: reindex-cli"
    t=$(run_twin) || { status=1; break; }
    read -r t_done t_exit t_cpu <<<"$t"
    twin_times+=("$t_done")
    twin_exits+=("$t_exit")
    twin_cpus+=("$t_cpu")
    note "run $run/$runs: reindex (window)"
    t=$(run_window) || { status=1; break; }
    read -r t_wall t_cpu <<<"$t"
    window_times+=("$t_wall")
    window_cpus+=("$t_cpu")
    for f in fr_fr.txt forum.txt; do
        if ! cmp -s "$scratch/cli/$f" "$scratch/window/$f"; then
            note "$f differs between the two programs"
            status=1
        fi
    done
    [[ $status -eq 0 ]] || break
    note "run $run/$runs: reindex-cli ${twin_times[-1]} s, window ${window_times[-1]} s"
done

# A run that failed half-way leaves one list a run longer than the other.
n=${#window_times[@]}
if ((n > 0)); then
    twin_times=("${twin_times[@]:0:n}")
    twin_exits=("${twin_exits[@]:0:n}")
    twin_cpus=("${twin_cpus[@]:0:n}")
    med() { printf '%s\n' "$@" | median; }
    twin_median=$(med "${twin_times[@]}")
    window_median=$(med "${window_times[@]}")
    twin_cpu_median=$(med "${twin_cpus[@]}")
    window_cpu_median=$(med "${window_cpus[@]}")
    ratio() { awk -v w="$1" -v c="$2" 'BEGIN { printf "%.3f", w / c }'; }
    echo "Host: $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | sed 's/.*: //'), $(nproc) CPU(s), load $(cut -d' ' -f1-3 /proc/loadavg); $size lists; $n run(s)"
    echo
    echo "| program | wall to the final message (s) | median | processor time (s) | median |"
    echo "|---------|-------------------------------|-------:|--------------------|-------:|"
    echo "| reindex-cli, from its start | ${twin_times[*]} | $twin_median | ${twin_cpus[*]} | $twin_cpu_median |"
    echo "| reindex window, from the click | ${window_times[*]} | $window_median | ${window_cpus[*]} | $window_cpu_median |"
    echo
    echo "reindex-cli from start to exit: ${twin_exits[*]} (median $(med "${twin_exits[@]}") s)"
    echo "window / cli: wall $(ratio "$window_median" "$twin_median"), processor time $(ratio "$window_cpu_median" "$twin_cpu_median")"
    # Each pair ran within seconds of itself, so its ratio is far less moved
    # by a host whose speed drifts from one minute to the next.
    pair_ratios() {
        local -n w=$1 c=$2
        local i
        for ((i = 0; i < n; i++)); do
            ratio "${w[i]}" "${c[i]}"
            echo
        done | median3
    }
    median3() {
        sort -n | awk '{ v[NR] = $1 }
            END { if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
    }
    echo "window / cli, median of the pairs' ratios: wall $(pair_ratios window_times twin_times), processor time $(pair_ratios window_cpus twin_cpus)"
fi
exit $status
