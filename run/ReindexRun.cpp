#include "ReindexRun.h"

#include "FileOps.h"
#include "Identifier.h"
#include "LineFile.h"
#include "LineReader.h"
#include "LineWriter.h"
#include "OutputPair.h"
#include "RunError.h"
#include "RunHost.h"

#include <db/FolderLock.h>
#include <db/Tables.h>
#include <db/Transaction.h>

#include <optional>

namespace run {

namespace {

const QString sectionsOutput = QStringLiteral("fr_fr.txt");
const QString forumsOutput = QStringLiteral("forum.txt");
const QString sectionsIntermediate = QStringLiteral("1.txt");
const QString forumsIntermediate = QStringLiteral("2.txt");
// Rows that go in between two commits: enough that a commit costs nothing
// next to them, few enough that the engine's log and the work of merging it
// into the database stay small, so no commit stops the window for long.
constexpr qint64 rowsPerCommit = 1 << 17;

db::Number requireIdentifier(QByteArrayView field, const LineReader &list, const QString &what, db::Tables &tables)
{
    if (const std::optional<db::Number> value = identifierValue(field))
        return *value;
    // A line before this one that the tables refuse is the failure to tell.
    tables.flush();
    throw RunError(QStringLiteral(u"Файл \"%1\", строка %2: %3 \"%4\" не является целым числом")
                       .arg(LineFile::fullPath(list.path()))
                       .arg(list.lineNumber())
                       .arg(what, LineFile::text(field)));
}

// Ticks the host while the engine works on a long statement.
class PumpDuringStatements
{
public:
    PumpDuringStatements(db::Database &db, RunHost &host) : db_(db)
    {
        db_.setProgressHandler([&host] { host.pump(); });
    }
    ~PumpDuringStatements() { db_.setProgressHandler({}); }

private:
    db::Database &db_;
};

} // namespace

ReindexRun::ReindexRun(RunHost &host, db::Tables &tables) : host_(host), tables_(tables) {}

QString ReindexRun::caption()
{
    return QStringLiteral(u"Внимание!");
}

QString ReindexRun::sectionsMissingText()
{
    return QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!");
}

QString ReindexRun::forumsMissingText()
{
    return QStringLiteral(u"Указан несуществующий файл \"forum.txt\"!");
}

QString ReindexRun::completedText()
{
    return QStringLiteral(u"Обработка завершена!");
}

ReindexRun::Outcome ReindexRun::run()
{
    // The folder is this run's from before its first step to its last: the
    // runs of one folder share the tables, the intermediates and the outputs.
    const db::FolderLock folder(host_.programDirectory());

    // A run killed while replacing the outputs left them mid-way: make the
    // pair whole before anything reads it.
    OutputPair::recover(host_.programDirectory() + sectionsOutput, host_.programDirectory() + forumsOutput);

    // Checks.
    if (!LineFile::exists(host_.sectionsFileName())) {
        host_.showMessage(sectionsMissingText(), caption(), MessageIcon::Warning);
        return Outcome::SectionsMissing;
    }
    if (!LineFile::exists(host_.forumsFileName())) {
        host_.showMessage(forumsMissingText(), caption(), MessageIcon::Warning);
        return Outcome::ForumsMissing;
    }

    work();

    host_.setBusyCursor(false);
    host_.showMessage(completedText(), caption(), MessageIcon::Information);
    host_.setStartEnabled(true);
    host_.setOverallPosition(0);
    return Outcome::Completed;
}

void ReindexRun::work()
{
    // Preparation.
    host_.setStartEnabled(false);
    host_.setOperationPosition(0);
    host_.setOverallPosition(0);
    const PumpDuringStatements pumping(tables_.database(), host_);
    db::Transaction transaction(tables_.database());
    transaction_ = &transaction;
    uncommitted_ = 0;
    struct Forget
    {
        db::Transaction *&t;
        ~Forget() { t = nullptr; }
    } forget{transaction_};
    try {
        tables_.empty();
        host_.setBusyCursor(true);

        importSections(host_.sectionsFileName());
        importForums(host_.forumsFileName());
        renumber();
        exportForums();
    } catch (...) {
        // What was done stays, durable, before the failure reaches anyone.
        try {
            tables_.flush();
        } catch (...) {
        }
        try {
            transaction.commit();
        } catch (...) {
        }
        throw;
    }
    // All database work is done: durable before any output is replaced.
    transaction.commit();
    tables_.database().checkpoint();
    finalCopy();
}

void ReindexRun::rowAdded()
{
    if (++uncommitted_ < rowsPerCommit)
        return;
    tables_.flush();
    transaction_->renew();
    uncommitted_ = 0;
}

void ReindexRun::endPhase()
{
    host_.stepOverall();
    host_.setOperationPosition(0);
    host_.pump();
}

void ReindexRun::importSections(const QString &path)
{
    LineReader list(path, codePage_);
    host_.setOperationMaximum(int(list.check([this] { host_.pump(); })));
    const QString what = QStringLiteral(u"идентификатор");
    QByteArrayView line;
    numbers_.clear();
    for (qint64 number = 1; list.next(line); ++number) {
        const LineFile::Split split = LineFile::splitField(line);
        const db::Number id = requireIdentifier(split.field, list, what, tables_);
        tables_.addSection(number, id, split.rest);
        // The shipped table refuses any identifier beyond 32 bits itself; one
        // made without its rules must not hand the map a key it cannot hold.
        const std::optional<qint32> key = asInt32(id);
        if (!key)
            throw RunError(QStringLiteral("CHECK constraint failed: old_id BETWEEN -2147483648 AND 2147483647"));
        numbers_.add(*key, qint32(number));
        rowAdded();
        host_.stepOperation();
        host_.pump();
    }
    endPhase();
}

void ReindexRun::importForums(const QString &path)
{
    LineReader list(path, codePage_);
    host_.setOperationMaximum(int(list.check([this] { host_.pump(); })));
    const QString what = QStringLiteral(u"идентификатор");
    const QString sectionWhat = QStringLiteral(u"идентификатор раздела");
    numbers_.seal();
    QByteArrayView line;
    while (list.next(line)) {
        const LineFile::Split first = LineFile::splitField(line);
        const LineFile::Split second = LineFile::splitField(first.rest);
        const db::Number id = requireIdentifier(first.field, list, what, tables_);
        const db::Number sectionId = requireIdentifier(second.field, list, sectionWhat, tables_);
        const qint32 number = sectionId.isReal ? 0 : numbers_.numberOf(sectionId.integer);
        tables_.addForum(id, sectionId, number, second.rest);
        rowAdded();
        host_.stepOperation();
        host_.pump();
    }
    endPhase();
}

void ReindexRun::renumber()
{
    // The forums were stamped as they went in; what is left is the sections'
    // own list with their numbers.
    host_.setOperationMaximum(int(tables_.sectionCount()));
    LineWriter out(host_.programDirectory() + sectionsIntermediate);
    db::Tables::Sections sections = tables_.sections();
    for (qint64 number = 1; sections.next(); ++number) {
        out.line(number, "|", sections.title());
        host_.stepOperation();
        host_.pump();
    }
    out.close();
    endPhase();
}

void ReindexRun::exportForums()
{
    host_.setOperationMaximum(int(tables_.forumCount()));
    LineWriter out(host_.programDirectory() + forumsIntermediate);
    db::Tables::Forums forums = tables_.forums();
    while (forums.next()) {
        out.line(forums.oldId(), "|", forums.sectionNumber(), "|", forums.title());
        host_.stepOperation();
        host_.pump();
    }
    out.close();
    endPhase();
    host_.setOperationMaximum(4);
    host_.pump();
}

void ReindexRun::finalCopy()
{
    const QString dir = host_.programDirectory();
    OutputPair outputs(dir + sectionsOutput, dir + forumsOutput);
    const QString intermediates[] = {dir + sectionsIntermediate, dir + forumsIntermediate};
    for (int i = 0; i < 2; ++i) {
        // The signature stays behind: the outputs never have one.
        outputs.stageCopy(i, intermediates[i], 3, [this] { host_.pump(); });
        // One step for the file read, one for the file written.
        host_.stepOperation();
        host_.pump();
        host_.stepOperation();
        host_.pump();
    }
    outputs.commit();

    host_.stepOverall();
    FileOps::removeQuietly(intermediates[0]);
    FileOps::removeQuietly(intermediates[1]);
    host_.setOperationPosition(0);
    host_.pump();
}

} // namespace run
