#!/usr/bin/env bash
# Runs peer-sqlite.sql on two lists stored anywhere.
#
#   bench/peer-sqlite.sh SECTIONS FORUMS DIR
#
# The peer makes its own database, DIR/peer.db, removed first along with its
# log, so that no run inherits the rows or the pages of an earlier one;
# fr_fr.txt and forum.txt are written to DIR. The script imports sections.txt
# and forums.txt from its working directory, so the lists are linked in under
# those names for the run. Needs the sqlite3 shell (Debian: sqlite3).

set -euo pipefail

if [[ $# -ne 3 ]]; then
    echo "usage: peer-sqlite.sh SECTIONS FORUMS DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sections=$(realpath "$1")
forums=$(realpath "$2")
dir=$3
[[ -d $dir ]] || { echo "peer-sqlite: no folder $dir" >&2; exit 2; }
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

rm -f peer.db peer.db-wal peer.db-shm
# The journal-mode pragma answers "wal" on stdout.
sqlite3 -bail peer.db < "$here/peer-sqlite.sql" >/dev/null
