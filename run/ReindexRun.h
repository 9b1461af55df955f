#pragma once

#include "FileSystem.h"
#include "SectionNumbers.h"
#include "SpaceRelease.h"

#include <QString>

namespace db {
class Tables;
class Transaction;
}

namespace run {

class CodePage;
class Journal;
class LineReader;
class LineWriter;
class RunHost;

// The reindexing run behind the start button: both lists into the tables,
// sections numbered in file order, forums stamped with their section's
// number, and fr_fr.txt and forum.txt written into the program directory.
class ReindexRun
{
public:
    enum class Outcome { Completed, SectionsMissing, ForumsMissing };

    ReindexRun(RunHost &host, db::Tables &tables);

    // Runs to the end, pumping the host as it goes. A missing input file is
    // reported to the host and changes nothing; every other failure is thrown
    // (run::RunError or db::DbError) with what was done so far left in the
    // tables and on the disk, and the previous outputs as they were.
    Outcome run();

    // Both lists are read in this code page instead of UTF-8 (none: UTF-8).
    // The code page must outlive the run.
    void setInputCodePage(const CodePage *codePage) { codePage_ = codePage; }

    // The caller holds the folder's lock (db::FolderLock) from before the
    // run to after what it does with the run's tables: the run takes none.
    void setFolderHeld(bool held) { folderHeld_ = held; }

    static QString caption();
    static QString sectionsMissingText();
    static QString forumsMissingText();
    static QString completedText();

private:
    void work();
    // The overall bar one on, the operation bar back to 0.
    void endPhase();
    // Called after each row that goes in.
    void rowAdded();
    // Commits and goes on in a new transaction, the host let in before the
    // commit, a long step.
    void commitAndGoOn();
    void importSections(LineReader &list, qsizetype lines);
    void importForums(LineReader &list, qsizetype lines);
    LineWriter intermediate(Journal &journal, int index);
    void renumber(Journal &journal);
    void exportForums(Journal &journal);
    void finalCopy(Journal &journal);

    SpaceRelease release_;
    RunHost &host_;
    db::Tables &tables_;
    const CodePage *codePage_ = nullptr;
    bool folderHeld_ = false;
    QString intermediates_[2];
    fs::FileId intermediateIds_[2];
    SectionNumbers numbers_;
    db::Transaction *transaction_ = nullptr;
    qint64 uncommitted_ = 0;
    // The rows this run put in each table, which after the emptying are all
    // of them: counting them with the engine reads every page in one step.
    qint64 sectionRows_ = 0;
    qint64 forumRows_ = 0;
};

} // namespace run
