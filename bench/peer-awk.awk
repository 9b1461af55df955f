# The whole transformation as one pass of awk, with no database: the floor
# that reindex-cli is measured against.
#
#   LC_ALL=C mawk -v outdir=DIR -f peer-awk.awk SECTIONS FORUMS
#
# Writes DIR/fr_fr.txt and DIR/forum.txt. Written as someone who knows awk
# would write it for speed: no validation (reference.awk does that), fields
# split by awk itself, identifiers made canonical through awk numbers.
#
# Identifiers are 32-bit, so awk's doubles hold them exactly; "%.10g" keeps
# -2147483648 from turning into "-2.14748e+09" as an array key or on output
# (mawk writes numbers outside its int range with CONVFMT/OFMT). A number
# prints as an integer, so "+007" comes out as "7" and "-0" as "0".
#
# Checked in mawk: a regex RS matches CR LF correctly even when the pair
# straddles its read buffer.

BEGIN {
    RS = "\r\n|\r|\n"
    FS = OFS = "|"
    ORS = "\r\n"
    CONVFMT = OFMT = "%.10g"
    frOut = outdir "/fr_fr.txt"
    forumOut = outdir "/forum.txt"
    # Empty inputs still yield (empty) outputs.
    printf "" > frOut
    printf "" > forumOut
}

# Only a non-empty file has a first line, so the file is told by its name,
# not by counting files; the signature is dropped wherever it starts a file.
FNR == 1 {
    inSections = FILENAME == ARGV[1]
    if (substr($0, 1, 3) == "\357\273\277")
        $0 = substr($0, 4)
}

inSections {
    # A repeated ID takes the number of its last line.
    numberOf[$1 + 0] = ++sectionCount
    print sectionCount, substr($0, length($1) + 2) > frOut
    next
}

{
    section = $2 + 0
    print $1 + 0, (section in numberOf) ? numberOf[section] : 0, substr($0, length($1) + length($2) + 3) > forumOut
}
