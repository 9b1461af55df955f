#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace micro {

// Lines like those of the generated lists (Cyrillic and Latin words, quotes,
// colons, extra "|", now and then an identifier written "+0042"), made the
// same way on every run so that figures stay comparable.
struct SampleLines
{
    QByteArray sectionsFile; // with a UTF-8 signature, CR LF after every line
    QByteArray forumsFile;   // CR LF after every line
    std::vector<QByteArray> sections; // "ID|title", UTF-8
    std::vector<QByteArray> forums;   // "ID|section ID|title", UTF-8
};

const SampleLines &sampleLines();

// The temporary folder holding a fresh copy of the pristine database, with
// its trailing separator, and the two sample lists as sections.txt and
// forums.txt; made on first use, removed at exit.
const QString &scratchProgramDirectory();

} // namespace micro
