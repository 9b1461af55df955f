#pragma once

#include <QString>

namespace db {
class Session;
}

namespace run {

class RunHost;

// The reindexing run behind the start button: both lists into the tables,
// sections numbered in file order, forums stamped with their section's
// number, and fr_fr.txt and forum.txt written into the program directory.
class ReindexRun
{
public:
    enum class Outcome { Completed, SectionsMissing, ForumsMissing };

    ReindexRun(RunHost &host, db::Session &session);

    // Runs to the end, pumping the host as it goes. A missing input file is
    // reported to the host and changes nothing; every other failure is thrown
    // (run::RunError or db::DbError) with what was done so far left in place.
    Outcome run();

    static QString caption();
    static QString sectionsMissingText();
    static QString forumsMissingText();
    static QString completedText();

private:
    void importSections(const QString &path);
    void importForums(const QString &path);
    void renumber();
    void exportForums();
    void finalCopy();

    RunHost &host_;
    db::Session &session_;
};

} // namespace run
