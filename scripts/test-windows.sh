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
# Wine's services would otherwise hold ctest's output pipes open until each
# test's timeout; a server kept running for the whole stage owns them.
WINEPREFIX=$prefix wineserver -p
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

# --- the suites ------------------------------------------------------------
export QT_FORCE_STDERR_LOGGING=1
QT_QPA_FONTDIR=$(winpath "$windows_build/fonts")
export QT_QPA_FONTDIR
echo "ctest under Wine (output in $out/ctest.log)"
if ctest --test-dir "$windows_build" -j2 --output-on-failure --label-exclude '^slow$' >"$out/ctest.log" 2>&1; then
    sed -n '/% tests passed/,$p' "$out/ctest.log"
else
    cat "$out/ctest.log"
    exit 1
fi
skipped=$(grep -c '^SKIP   :' "$out/ctest.log" || true)
echo "windows: suites passed under Wine, $skipped rows skipped (each with its reason in $out/ctest.log)"

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
echo "windows: twin on a console: \"Обработка завершена!\" readable"
echo "windows: the twin under Wine took $((SECONDS - t)) s with the suites"
