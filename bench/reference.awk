# Expected outputs of the reindexer, computed without Qt or SQLite so the
# benchmark can tell a fast wrong answer from a fast right one.
#
#   LC_ALL=C awk -v outdir=DIR -f reference.awk SECTIONS FORUMS
#
# Writes DIR/fr_fr.txt and DIR/forum.txt. LC_ALL=C makes every string
# operation bytewise, so UTF-8 titles pass through untouched whatever awk
# (mawk, gawk, busybox) is installed.
#
# Lines may end in CR LF, CR or LF. Records are read on LF and split again on
# bare CR: a regex RS would be simpler, but some awks lose a CR LF pair that
# straddles a read buffer.

BEGIN {
    if (ARGC != 3 || outdir == "") {
        print "usage: awk -v outdir=DIR -f reference.awk SECTIONS FORUMS" > "/dev/stderr"
        failed = 1
        exit 2
    }
    sectionsFile = ARGV[1]
    frOut = outdir "/fr_fr.txt"
    forumOut = outdir "/forum.txt"
    # Open both now so empty inputs still yield (empty) outputs.
    printf "" > frOut
    printf "" > forumOut
    RS = "\n"
    sectionCount = 0
    bom = "\357\273\277"
}

function fail(msg) {
    printf "reference.awk: %s:%d: %s\n", FILENAME, FNR, msg > "/dev/stderr"
    failed = 1
    exit 2
}

# The integer an identifier denotes, written canonically: "+007" -> "7",
# "-0" -> "0". Done on the text, not through awk numbers, so no
# awk-dependent number formatting can creep in.
function canonical(text,    neg, digits) {
    if (text !~ /^[+-]?[0-9]+$/)
        fail("not an integer identifier: \"" text "\"")
    neg = substr(text, 1, 1) == "-"
    digits = text
    sub(/^[+-]/, "", digits)
    sub(/^0+/, "", digits)
    if (digits == "")
        return "0"
    if (length(digits) > 10 || (length(digits) == 10 && digits > (neg ? "2147483648" : "2147483647")))
        fail("identifier out of 32-bit range: \"" text "\"")
    return (neg ? "-" : "") digits
}

function section(line,    bar, id) {
    bar = index(line, "|")
    if (bar == 0)
        fail("section line without \"|\"")
    id = canonical(substr(line, 1, bar - 1))
    ++sectionCount
    # Every line gets a number, repeated IDs included; the last one wins.
    numberOf[id] = sectionCount
    printf "%d|%s\r\n", sectionCount, substr(line, bar + 1) > frOut
}

function forum(line,    bar, rest, id, sid) {
    bar = index(line, "|")
    if (bar == 0)
        fail("forum line without \"|\"")
    id = canonical(substr(line, 1, bar - 1))
    rest = substr(line, bar + 1)
    bar = index(rest, "|")
    if (bar == 0)
        fail("forum line without a second \"|\"")
    sid = canonical(substr(rest, 1, bar - 1))
    printf "%s|%d|%s\r\n", id, (sid in numberOf) ? numberOf[sid] : 0, substr(rest, bar + 1) > forumOut
}

{
    record = $0
    if (substr(record, length(record)) == "\r")
        record = substr(record, 1, length(record) - 1)
    n = split(record, piece, "\r")
    if (n == 0) {
        n = 1
        piece[1] = ""
    }
    for (i = 1; i <= n; ++i) {
        line = piece[i]
        if (FNR == 1 && i == 1 && substr(line, 1, 3) == bom)
            line = substr(line, 4)
        if (line == "")
            fail("empty line")
        if (FILENAME == sectionsFile)
            section(line)
        else
            forum(line)
    }
}

END {
    if (failed)
        exit 2
    close(frOut)
    close(forumOut)
}
