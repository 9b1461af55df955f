# What scripts/windows.sh and the windows stage of scripts/test.sh share:
# where things are, what Qt and SQLite are built from and with, and how the
# cross-built programs are configured, laid out and run under Wine.
# Sourced, from the repository's root.

windows_triple=x86_64-w64-mingw32
windows_packages="g++-mingw-w64-x86-64-posix wine wine64 tcl ninja-build dpkg-dev xz-utils zip unzip"
windows_root=$PWD
windows_build=build-windows
windows_log=$windows_build/windows.log
windows_cache=${REINDEX_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/reindex-windows}
windows_toolchain=$windows_root/cmake/mingw-w64-x86_64.cmake

# wstep TEXT COMMAND...: one line on the terminal, COMMAND's output in the log.
wstep() {
    local text=$1
    shift
    echo "windows: $text"
    echo "== $*" >>"$windows_log"
    if ! "$@" >>"$windows_log" 2>&1 </dev/null; then
        echo "windows: $text failed; the end of $windows_log:" >&2
        tail -n 40 "$windows_log" >&2
        exit 1
    fi
}

installed_version() {
    dpkg-query -W -f='${Version}' "$1"
}

# Qt is the version of the build machine's own Qt tools: they run moc, rcc
# and uic for the Windows build, and must be the version they generate for.
windows_qt_version() {
    installed_version qt6-base-dev-tools
}

# SQLite is the version Debian builds the Linux programs with.
windows_sqlite_version() {
    installed_version libsqlite3-dev
}

# Only what the programs and their tests use. Two traps of Debian's 6.4.2:
# its tarball lacks the folder with wintab.h (so no tablet events), and
# dynamic OpenGL goes off only through INPUT_opengl.
windows_qt_configure=(
    -DCMAKE_TOOLCHAIN_FILE="$windows_toolchain"
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DINPUT_opengl=no
    -DFEATURE_opengl=OFF
    -DFEATURE_vulkan=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_network=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_tabletevent=OFF
)

compiler_version() {
    installed_version "g++-mingw-w64-x86-64-posix"
}

# What a cached build is made of: a change to any of it builds anew.
windows_recipe_qt() {
    echo "qt6-base $(windows_qt_version)"
    echo "compiler $(compiler_version)"
    echo "toolchain $(sha256sum <"$windows_toolchain" | cut -d' ' -f1)"
    printf '%s\n' "${windows_qt_configure[@]}" | grep -v '^-DCMAKE_TOOLCHAIN_FILE='
}

windows_recipe_sqlite() {
    echo "sqlite3 $(windows_sqlite_version)"
    echo "compiler $(compiler_version)"
}

recipe_key() {
    "$1" | sha256sum | cut -c1-16
}

windows_qt_prefix() {
    echo "$windows_cache/qt-$(recipe_key windows_recipe_qt)"
}

windows_sqlite_prefix() {
    echo "$windows_cache/sqlite-$(recipe_key windows_recipe_sqlite)"
}

# windows_prune KIND KEEP: earlier builds of KIND go, KEEP stays.
windows_prune() {
    local d
    for d in "$windows_cache/$1"-*; do
        [[ -d $d && $d != "$2" && $d != "$windows_cache/$1-build" ]] && rm -rf "$d"
    done
    return 0
}

# windows_fetch_source PACKAGE VERSION: unpacks Debian's source package
# (with Debian's patches) into the cache and prints its folder. A private
# list of Debian's sources serves apt, so the system's own lists and
# configuration stay as they are.
windows_fetch_source() {
    local package=$1 version=$2
    local apt=$windows_cache/apt dir=$windows_cache/src/${1}_$2
    if [[ -f $dir/.complete ]]; then
        echo "$dir"/*/
        return
    fi
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
    cat >"$apt/sources.list" <<'EOF'
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
    local options=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o APT::Sandbox::User="$(id -un)")
    rm -rf "$dir"
    mkdir -p "$dir"
    {
        echo "== apt-get update (private source lists) and apt-get source $package=$version"
        apt-get "${options[@]}" update &&
            (cd "$dir" && { apt-get "${options[@]}" source "$package=$version" ||
                apt-get "${options[@]}" source "$package"; })
    } >>"$windows_log" 2>&1 </dev/null || {
        echo "windows: fetching the source of $package failed; the end of $windows_log:" >&2
        tail -n 20 "$windows_log" >&2
        exit 1
    }
    rm -f "$dir"/*.tar.* "$dir"/*.dsc
    touch "$dir/.complete"
    echo "$dir"/*/
}

# The engine's compile-time options as Debian's own build sets them.
windows_sqlite_defines() {
    sed -n '/^export CFLAGS += /,/[^\\]$/p' "$1/debian/rules" | grep -o -- '-DSQLITE_[A-Za-z0-9_]*\(=[0-9]*\)\?'
}

# The folders of the DLLs a cross-built program needs and does not carry:
# Qt's and MinGW's runtime.
windows_runtime_dirs() {
    local qt=$1
    echo "$qt/bin"
    dirname "$("$windows_triple-g++-posix" -print-file-name=libstdc++-6.dll)"
    dirname "$("$windows_triple-g++-posix" -print-file-name=libwinpthread-1.dll)"
}

# Writes build-windows/wine-run, through which everything cross-built runs
# here (ctest uses it as the emulator): a Wine prefix of the build's own,
# Wine's chatter off, the runtime DLLs on the search path. Wine hands a
# Windows program no QT_* variable of the host's; WINEQT_* ones arrive as
# QT_*, so each is passed on that way.
windows_write_runner() {
    local qt=$1 path="" d
    while read -r d; do
        path+="${path:+;}Z:${d//\//\\}"
    done < <(windows_runtime_dirs "$qt")
    cat >"$windows_build/wine-run" <<EOF
#!/bin/sh
# Runs a cross-built program under Wine (written by scripts/windows-common.sh).
export WINEPREFIX="$windows_root/$windows_build/wine-prefix"
export WINEDEBUG=\${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# REINDEX_WINEPATH set (even empty) replaces the search path: a program
# folder that must hold every DLL it needs is tried with none.
export WINEPATH="\${REINDEX_WINEPATH-$path}"
for v in \$(env | sed -n 's/^\(QT_[A-Za-z0-9_]*\)=.*/\1/p'); do
    eval "export WINE\$v=\\"\\\$\$v\\""
done
exec wine "\$@"
EOF
    chmod +x "$windows_build/wine-run"
}

windows_configure() {
    local qt=$1 sqlite=$2
    windows_write_runner "$qt"
    cmake -S . -B "$windows_build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$windows_toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DSQLite3_INCLUDE_DIR="$sqlite/include" \
        -DSQLite3_LIBRARY="$sqlite/lib/libsqlite3.a" \
        -DREINDEX_BUILD_BENCH=OFF \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$windows_root/$windows_build/wine-run"
}

# windows_layout QT FOLDER: the program folder as a Windows user gets it:
# both programs, an empty database, Qt's DLLs and the two plugins the window
# loads, MinGW's runtime, Qt's translations, and a qt.conf that tells Qt its
# plugins and translations are in this folder. Everything stripped.
windows_layout() {
    local qt=$1 to=$2 d f
    rm -rf "$to"
    mkdir -p "$to/plugins/platforms" "$to/plugins/styles" "$to/translations"
    cp "$windows_build/bin/reindex.exe" "$windows_build/bin/reindex-cli.exe" "$windows_build/bin/Database.mdb" "$to/"
    cp "$qt/bin/Qt6Core.dll" "$qt/bin/Qt6Gui.dll" "$qt/bin/Qt6Widgets.dll" "$to/"
    cp "$qt/plugins/platforms/qwindows.dll" "$to/plugins/platforms/"
    cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$to/plugins/styles/"
    for f in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        cp "$("$windows_triple-g++-posix" -print-file-name=$f)" "$to/"
    done
    # Debian's catalogs serve Windows as they are; "qt_XX" loads the others.
    for f in /usr/share/qt6/translations/qt_*.qm; do
        case $f in */qt_help_*) continue ;; esac
        local lang=${f##*/qt_}
        lang=${lang%.qm}
        cp "$f" "$to/translations/"
        for d in qtbase qtmultimedia; do
            [[ -f /usr/share/qt6/translations/${d}_$lang.qm ]] && cp "/usr/share/qt6/translations/${d}_$lang.qm" "$to/translations/"
        done
    done
    printf '[Paths]\nPrefix = .\n' >"$to/qt.conf"
    "$windows_triple-strip" --strip-unneeded "$to"/*.exe "$to"/*.dll "$to"/plugins/*/*.dll
}
