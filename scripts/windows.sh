#!/usr/bin/env bash
# Builds the Windows program (64-bit, Windows 10 and 11) on this Debian
# machine and writes dist/reindex-windows-x64.zip:
#   1. installs what cross-building needs (MinGW-w64, Wine, Tcl, Ninja);
#   2. builds Qt and SQLite for Windows from Debian's own source packages,
#      once, into a cache outside the tree (REINDEX_WINDOWS_CACHE, by default
#      ~/.cache/reindex-windows), reused for as long as what went into them
#      is the same;
#   3. cross-builds the programs into build-windows/;
#   4. lays out the program folder a Windows user unzips and zips it.
# One line a step on the terminal; the long output goes to
# build-windows/windows.log (and its end to the terminal when a step fails).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-common.sh

started=$SECONDS

# MinGW's posix compilers, Wine to run what they make (the schema tool runs
# natively, the tests and the twin under Wine), Tcl for SQLite's source
# generator, dpkg-dev to unpack source packages, zip for the archive.
export REINDEX_DEPS_EXTRA="${REINDEX_DEPS_EXTRA:-} $windows_packages"
bash scripts/deps.sh

mkdir -p "$windows_build"
: >"$windows_log"

qt_prefix=$(windows_qt_prefix)
sqlite_prefix=$(windows_sqlite_prefix)

# --- Qt ------------------------------------------------------------------
if [[ -f $qt_prefix/.complete ]]; then
    echo "windows: Qt $(windows_qt_version) for Windows from the cache ($qt_prefix)"
else
    t=$SECONDS
    echo "windows: building Qt $(windows_qt_version) for Windows into $qt_prefix (once; about 35 minutes on 2 free cores)"
    source_dir=$(windows_fetch_source qt6-base "$(windows_qt_version)")
    qt_build=$windows_cache/qt-build
    rm -rf "$qt_build" "$qt_prefix"
    wstep "configuring Qt" nice -n 19 cmake -S "$source_dir" -B "$qt_build" -G Ninja \
        -DCMAKE_INSTALL_PREFIX="$qt_prefix" \
        "${windows_qt_configure[@]}"
    wstep "compiling Qt" nice -n 19 cmake --build "$qt_build" --parallel 2
    wstep "installing Qt" cmake --install "$qt_build"
    # Only what was installed is kept: the source comes again when needed.
    rm -rf "$qt_build" "$(dirname "$source_dir")"
    windows_recipe_qt >"$qt_prefix/.complete"
    windows_prune qt "$qt_prefix"
    echo "windows: Qt built in $((SECONDS - t)) s"
fi

# Qt's own translations are a package of their own; Debian's serve Windows
# as they are, for the tests as for the zip.
mkdir -p "$qt_prefix/translations"
cp -u /usr/share/qt6/translations/qt_*.qm /usr/share/qt6/translations/qtbase_*.qm \
    /usr/share/qt6/translations/qtmultimedia_*.qm "$qt_prefix/translations/"

# --- SQLite --------------------------------------------------------------
if [[ -f $sqlite_prefix/.complete ]]; then
    echo "windows: SQLite $(windows_sqlite_version) for Windows from the cache"
else
    t=$SECONDS
    echo "windows: building SQLite $(windows_sqlite_version) for Windows into $sqlite_prefix"
    source_dir=$(windows_fetch_source sqlite3 "$(windows_sqlite_version)")
    sqlite_build=$windows_cache/sqlite-build
    rm -rf "$sqlite_build" "$sqlite_prefix"
    mkdir -p "$sqlite_build" "$sqlite_prefix/include" "$sqlite_prefix/lib"
    # The amalgamation is generated on this machine; only its compilation is
    # Windows'. The engine's options are the ones Debian builds its own with.
    wstep "generating sqlite3.c" bash -c 'cd "$1" && "$2/configure" --disable-tcl && make sqlite3.c' \
        _ "$sqlite_build" "$source_dir"
    mapfile -t defines < <(windows_sqlite_defines "$source_dir")
    wstep "compiling SQLite" nice -n 19 "$windows_triple-gcc-posix" -O2 -fno-strict-aliasing "${defines[@]}" \
        -c "$sqlite_build/sqlite3.c" -o "$sqlite_build/sqlite3.o"
    wstep "archiving SQLite" "$windows_triple-ar" rcs "$sqlite_prefix/lib/libsqlite3.a" "$sqlite_build/sqlite3.o"
    cp "$sqlite_build/sqlite3.h" "$sqlite_build/sqlite3ext.h" "$sqlite_prefix/include/"
    rm -rf "$sqlite_build" "$(dirname "$source_dir")"
    windows_recipe_sqlite >"$sqlite_prefix/.complete"
    windows_prune sqlite "$sqlite_prefix"
    echo "windows: SQLite built in $((SECONDS - t)) s"
fi

# --- the programs ----------------------------------------------------------
t=$SECONDS
echo "windows: cross-building the programs into $windows_build/"
from=$(($(wc -l <"$windows_log") + 1))
wstep "configuring" windows_configure "$qt_prefix" "$sqlite_prefix"
wstep "compiling" nice -n 19 cmake --build "$windows_build" --parallel 2 --target reindex reindex-cli database
warnings=$(tail -n "+$from" "$windows_log" | grep -c 'warning:' || true)
echo "windows: programs built in $((SECONDS - t)) s, $warnings compiler warnings"

# --- the zip -------------------------------------------------------------
wstep "laying out the program folder" windows_layout "$qt_prefix" "$windows_build/package/reindex"
mkdir -p dist
rm -f dist/reindex-windows-x64.zip
wstep "zipping" bash -c 'cd "$1" && zip -9 -r -q "$2" reindex' _ "$windows_build/package" "$PWD/dist/reindex-windows-x64.zip"
size=$(du -k dist/reindex-windows-x64.zip | cut -f1)
echo "windows: dist/reindex-windows-x64.zip, $((size / 1024)) MB, in $((SECONDS - started)) s"
