#!/usr/bin/env bash
# Runs peer-sqlite.sql on two lists stored anywhere.
#
#   bench/peer-sqlite.sh SECTIONS FORUMS DIR
#
# DIR must hold the copy of Database.mdb to fill; fr_fr.txt and forum.txt are
# written there. The script imports sections.txt and forums.txt from its
# working directory, so the lists are linked in under those names for the
# run. Needs the sqlite3 shell (Debian: sqlite3).

set -euo pipefail

if [[ $# -ne 3 ]]; then
    echo "usage: peer-sqlite.sh SECTIONS FORUMS DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sections=$(realpath "$1")
forums=$(realpath "$2")
dir=$3
[[ -f $dir/Database.mdb ]] || { echo "peer-sqlite: no $dir/Database.mdb" >&2; exit 2; }
cd "$dir"

link() {
    local target=$1 name=$2
    [[ $(realpath "$name" 2>/dev/null) == "$target" ]] && return 0
    if [[ -e $name && ! -L $name ]]; then
        echo "peer-sqlite: $dir/$name is another file; not replacing it" >&2
        exit 2
    fi
    ln -sfn "$target" "$name"
    linked+=("$name")
}
linked=()
trap 'rm -f "${linked[@]}"' EXIT
link "$sections" sections.txt
link "$forums" forums.txt

# The journal-mode pragma answers "wal" on stdout.
sqlite3 -bail Database.mdb < "$here/peer-sqlite.sql" >/dev/null
