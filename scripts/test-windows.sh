#!/usr/bin/env bash
# The windows stage of scripts/test.sh: the Windows build tried under Wine.
#   1. scripts/windows.sh builds (or finds) Qt, SQLite, the programs and the zip;
#   2. every test suite, cross-built, runs under Wine through ctest (the
#      window's suites on the offscreen platform, as on Linux; suites that
#      only Linux can run say so by name and skip);
#   3. the twin from the unzipped zip, in a folder named in Cyrillic, runs the
#      example lists and a generated list of a million forums: its outputs,
#      stdout and stderr must be byte for byte the Linux twin's; a second run,
#      a missing list and a console are tried too;
#   4. the window from the unzipped zip starts under Wine on a virtual X
#      display (Xvfb), is driven by keys through a run and its browse dialog,
#      and is photographed: build-windows/test/*.png.
# Needs the Linux build (build/) for the twin to compare with: test.sh makes it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-common.sh

# Xvfb and the X tools find and drive the window and photograph it; script
# gives the twin a terminal of its own.
export REINDEX_DEPS_EXTRA="${REINDEX_DEPS_EXTRA:-} xvfb xauth x11-utils xdotool imagemagick bsdutils fonts-dejavu-core"
bash scripts/windows.sh

# Wine gives Windows programs the host's file names in the locale's
# encoding: a folder named in Cyrillic needs a UTF-8 one.
export LC_ALL=C.UTF-8

out=$windows_build/test
rm -rf "$out"
mkdir -p "$out"
runner=$windows_root/$windows_build/wine-run
prefix=$windows_root/$windows_build/wine-prefix

t=$SECONDS
wstep "building the tests" nice -n 19 cmake --build "$windows_build" --parallel 2

# --- Wine ------------------------------------------------------------------
if [[ ! -f $prefix/system.reg ]]; then
    wstep "making the Wine prefix (once)" "$runner" wineboot --init
    WINEPREFIX=$prefix wineserver -w
fi
# A Windows program sees only the fonts in its prefix's Fonts folder; the
# offscreen platform reads the folder QT_QPA_FONTDIR names.
cp /usr/share/wine/fonts/tahoma*.ttf "$prefix/drive_c/windows/Fonts/"
mkdir -p "$windows_build/fonts"
cp /usr/share/wine/fonts/tahoma*.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf "$windows_build/fonts/"
# Wine starts its services with the first program of a session, and they
# keep that program's output pipes open: ctest would wait out the test's
# timeout. So a server kept for the whole stage starts them first, on nothing.
WINEPREFIX=$prefix wineserver -p 2>/dev/null || true # one may be running already
"$runner" cmd /c exit </dev/null >/dev/null 2>&1
stop_wine() {
    [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
}
trap stop_wine EXIT

# Windows' own spelling of a path of this machine.
winpath() {
    local p
    p=$(realpath -m "$1")
    echo "Z:${p//\//\\}"
}

# A virtual screen for what shows a real window: the start-up test and the
# window from the zip.
for n in $(seq 91 199); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || break
done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.2
done

# --- the suites ------------------------------------------------------------
export QT_FORCE_STDERR_LOGGING=1
QT_QPA_FONTDIR=$(winpath "$windows_build/fonts")
export QT_QPA_FONTDIR
echo "ctest under Wine (output in $out/ctest.log)"
if ctest --test-dir "$windows_build" -j2 --verbose --label-exclude '^slow$' >"$out/ctest.log" 2>&1; then
    sed -n '/% tests passed/,$p' "$out/ctest.log"
else
    grep -a -A4 'FAIL!' "$out/ctest.log" || true
    sed -n '/% tests passed/,$p' "$out/ctest.log"
    echo "windows: suites failed under Wine; all of their output is in $out/ctest.log" >&2
    exit 1
fi
skipped=$(grep -c 'SKIP   :' "$out/ctest.log" || true)
echo "windows: suites passed under Wine, $skipped rows skipped (each with its reason in $out/ctest.log);" \
    "tst_FaultInjection not built: it traces the twin with strace, which only Linux has"

# --- the twin from the zip ------------------------------------------------------
program=$out/Переиндексация/reindex
lists=$out/списки
linux=$out/linux/reindex
mkdir -p "$(dirname "$program")" "$lists/examples" "$lists/million" "$linux"
unzip -q dist/reindex-windows-x64.zip -d "$(dirname "$program")"
cp build/bin/reindex-cli "$linux/"
cp build/tests/pristine/Database.mdb "$linux/"
cp examples/sections.txt examples/forums.txt "$lists/examples/"
build/bin/gen-lists large "$lists/million"

# Without the build's search path: what the zip holds must be enough.
windows_twin() {
    REINDEX_WINEPATH= "$runner" "$program/reindex-cli.exe" "$@"
}

fail() {
    echo "windows: $*" >&2
    exit 1
}

# same_run NAME SECTIONS FORUMS: both twins on the same lists give the same
# exit code, stdout, stderr and outputs.
same_run() {
    local name=$1 sections=$2 forums=$3 rc_l=0 rc_w=0 t0=$SECONDS
    "$linux/reindex-cli" "$sections" "$forums" >"$out/$name.linux.out" 2>"$out/$name.linux.err" || rc_l=$?
    local t1=$SECONDS
    windows_twin "$(winpath "$sections")" "$(winpath "$forums")" >"$out/$name.windows.out" 2>"$out/$name.windows.err" || rc_w=$?
    [[ $rc_l == "$rc_w" ]] || fail "$name: exit code $rc_w under Wine, $rc_l on Linux"
    cmp -s "$out/$name.linux.out" "$out/$name.windows.out" || fail "$name: stdout differs (see $out/$name.*.out)"
    cmp -s "$out/$name.linux.err" "$out/$name.windows.err" || fail "$name: stderr differs (see $out/$name.*.err)"
    for f in fr_fr.txt forum.txt; do
        cmp -s "$linux/$f" "$program/$f" || fail "$name: $f differs from the Linux twin's"
    done
    echo "windows: twin on $name: exit $rc_w, outputs byte-identical to Linux ($((t1 - t0)) s on Linux, $((SECONDS - t1)) s under Wine)"
}

same_run examples "$lists/examples/sections.txt" "$lists/examples/forums.txt"
same_run "a million forums" "$lists/million/sections.txt" "$lists/million/forums.txt"
cp "$linux/fr_fr.txt" "$out/million-fr_fr.txt"
cp "$linux/forum.txt" "$out/million-forum.txt"
# A second run over the outputs of the first: the same bytes again.
same_run "the examples again" "$lists/examples/sections.txt" "$lists/examples/forums.txt"

rc=0
windows_twin "$(winpath "$lists/none.txt")" "$(winpath "$lists/examples/forums.txt")" >"$out/missing.out" 2>"$out/missing.err" || rc=$?
[[ $rc == 3 ]] || fail "a missing list: exit code $rc, not 3"
grep -qF "$(winpath "$lists/none.txt")" "$out/missing.err" || fail "a missing list: its path is not in $out/missing.err"
echo "windows: twin on a missing list: exit 3, the path in Windows' spelling"

# On a terminal the twin writes to a console: the window's Russian must
# arrive readable, whatever Wine's console does with it.
script -qec "REINDEX_WINEPATH= '$runner' '$program/reindex-cli.exe' '$(winpath "$lists/examples/sections.txt")' '$(winpath "$lists/examples/forums.txt")'" \
    "$out/console.typescript" >/dev/null </dev/null
grep -q "Обработка завершена!" "$out/console.typescript" || fail "the console shows no readable Russian (see $out/console.typescript)"
# Its progress line shows only where the twin found a console.
grep -q "1/5 Разделы" "$out/console.typescript" || fail "the twin drew no progress line on the console (see $out/console.typescript)"
echo "windows: twin on a console: its progress line and \"Обработка завершена!\" readable"

# A twin killed while it makes its files: the next start puts the pair right
# from the journal alone, though it refuses its lists at once.
rm -f "$program/fr_fr.txt" "$program/forum.txt"
windows_twin "$(winpath "$lists/examples/sections.txt")" "$(winpath "$lists/examples/forums.txt")" >/dev/null 2>&1
cp "$program/fr_fr.txt" "$out/previous-fr_fr.txt"
cp "$program/forum.txt" "$out/previous-forum.txt"
# Started straight, not through a function: its process is the one killed.
REINDEX_WINEPATH= "$runner" "$program/reindex-cli.exe" "$(winpath "$lists/million/sections.txt")" \
    "$(winpath "$lists/million/forums.txt")" >/dev/null 2>&1 &
twin_pid=$!
# Killed once it has begun to make files of its own: its journal is there
# from the first intermediate to the last rename.
for _ in $(seq 1200); do
    compgen -G "$program/reindex~*.journal" >/dev/null && break
    sleep 0.05
done
kill -9 "$twin_pid" 2>/dev/null || true
wait "$twin_pid" 2>/dev/null || true
compgen -G "$program/reindex~*.journal" >/dev/null || fail "the killed twin left no journal"
rc=0
windows_twin "$(winpath "$lists/none.txt")" "$(winpath "$lists/examples/forums.txt")" >"$out/after-kill.out" 2>"$out/after-kill.err" || rc=$?
[[ $rc == 3 ]] || fail "after a kill, a missing list: exit code $rc (see $out/after-kill.err)"
{ cmp -s "$program/fr_fr.txt" "$out/previous-fr_fr.txt" && cmp -s "$program/forum.txt" "$out/previous-forum.txt"; } ||
    { cmp -s "$program/fr_fr.txt" "$out/million-fr_fr.txt" && cmp -s "$program/forum.txt" "$out/million-forum.txt"; } ||
    fail "after a kill and a start, the outputs are neither the previous pair nor the new one"
leftovers=$(cd "$program" && ls | grep -E '~[0-9a-f]{16}\.|^[12]\.txt$' || true)
[[ -z $leftovers ]] || fail "after a kill and a start, the run's own files stay: $leftovers"
echo "windows: twin killed while making its files: the next start left a whole pair and nothing of the run's"

echo "windows: the twin under Wine took $((SECONDS - t)) s with the suites"

# --- the window from the zip ------------------------------------------------------
t=$SECONDS
shots=$out
window_lists=$out/window-lists
mkdir -p "$window_lists"
cp examples/sections.txt examples/forums.txt "$window_lists/"
rm -f "$program/fr_fr.txt" "$program/forum.txt"
REINDEX_WINEPATH= "$runner" "$program/reindex.exe" >"$out/window.out" 2>&1 &
window_pid=$!
window=""
for _ in $(seq 120); do
    window=$(xdotool search --onlyvisible --name 'Переиндексация БД' 2>/dev/null | head -n 1 || true)
    [[ -n $window ]] && break
    sleep 0.5
done
[[ -n $window ]] || fail "the window did not show within a minute (see $out/window.out)"
sleep 2 # its first paint
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "windows: the window is up after $((SECONDS - t)) s: ${WIDTH}x${HEIGHT} at $X,$Y"
import -window root "$shots/window.png"
colours=$(convert "$shots/window.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" -format %k info:)
((colours > 8)) || fail "the window's first paint has $colours colours (see $shots/window.png)"

# The browse dialog of the first field, opened with Alt+Down.
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
# The dialog has no title of its own (Windows shows its default one): it is
# told by being a new window of the program.
before=$(xdotool search --onlyvisible --class 'reindex' 2>/dev/null | sort)
xdotool key --clearmodifiers alt+Down
dialog=""
for _ in $(seq 40); do
    dialog=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --class 'reindex' 2>/dev/null | sort) | head -n 1)
    [[ -n $dialog ]] && break
    sleep 0.5
done
[[ -n $dialog ]] || fail "Alt+Down opened no dialog"
sleep 2
import -window root "$shots/browse-dialog.png"
eval "$(xdotool getwindowgeometry --shell "$dialog")"
echo "windows: Alt+Down opened the browse dialog, ${WIDTH}x${HEIGHT}"
xdotool key --clearmodifiers Escape
sleep 1

# A run by keys: both names typed, Tab to the button, Space.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 15 "$(winpath "$window_lists/sections.txt")"
xdotool key --clearmodifiers Tab
xdotool type --delay 15 "$(winpath "$window_lists/forums.txt")"
xdotool key --clearmodifiers Tab space
box=""
for _ in $(seq 120); do
    box=$(xdotool search --onlyvisible --name 'Внимание!' 2>/dev/null | head -n 1 || true)
    [[ -n $box ]] && break
    sleep 0.5
done
[[ -n $box ]] || { import -window root "$shots/window-no-box.png"; fail "the run by keys showed no box (see $shots/window-no-box.png)"; }
sleep 1
import -window root "$shots/window-completed.png"
xdotool key --clearmodifiers Return
"$linux/reindex-cli" "$window_lists/sections.txt" "$window_lists/forums.txt" >/dev/null
for f in fr_fr.txt forum.txt; do
    cmp -s "$linux/$f" "$program/$f" || fail "the window's $f differs from the Linux twin's"
done
echo "windows: a run from the window by keys: \"Обработка завершена!\", outputs byte-identical to Linux"
# Closed as a person closes it, with Alt+F4.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers alt+F4
for _ in $(seq 60); do
    kill -0 "$window_pid" 2>/dev/null || break
    sleep 0.5
done
kill -0 "$window_pid" 2>/dev/null && fail "the window did not end when closed"
echo "windows: the window closed; screenshots in $shots/ (window.png, browse-dialog.png, window-completed.png), $((SECONDS - t)) s"
