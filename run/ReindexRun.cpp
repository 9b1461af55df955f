#include "ReindexRun.h"

#include "FileSystem.h"
#include "FolderFiles.h"
#include "Identifier.h"
#include "Journal.h"
#include "LineFile.h"
#include "LineReader.h"
#include "LineWriter.h"
#include "Replacement.h"
#include "RunError.h"
#include "RunHost.h"
#include "SpaceRelease.h"

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
// Rows that go in between two commits: enough that the few flushes of the
// journal each commit waits for cost nothing next to them. However many, a
// commit stays short: the engine's small cache and the writeback below have
// sent nearly every page on its way to the disk before it.
constexpr qint64 rowsPerCommit = 1 << 20;
constexpr int rowsPerEmptyingSlice = 1 << 15;
// Rows between two requests that the disk start on what the engine wrote:
// a few hundred kilobytes, so that the disk keeps pace with the run.
constexpr qint64 rowsPerWriteback = 1 << 12;

db::Number requireIdentifier(QByteArrayView field, const LineReader &list, const QString &what)
{
    const std::optional<db::Number> value = identifierValue(field);
    if (value && asInt32(*value))
        return *value;
    const QString text = value ? QStringLiteral(u"Файл \"%1\", строка %2: %3 \"%4\" выходит за пределы "
                                                u"от -2147483648 до 2147483647")
                               : QStringLiteral(u"Файл \"%1\", строка %2: %3 \"%4\" не является целым числом");
    throw RunError(text.arg(LineFile::fullPath(list.path()), QString::number(list.lineNumber()), what,
                            LineFile::shown(LineFile::text(field))));
}

void refuseIfSame(const QString &list, const QString &dir, const char *name)
{
    const QString working = dir + QLatin1String(name);
    if (fs::of(working) && fs::sameFile(list, working))
        throw RunError(QStringLiteral(u"Файл \"%1\" нельзя взять списком: это рабочий файл программы \"%2\".")
                           .arg(LineFile::fullPath(list), QLatin1String(name)));
}

// A list must not be one of the folder's own files that the run writes
// while it reads the lists: an intermediate, the database or its engine's
// files. An output may be: it is replaced only once both lists are read.
void refuseWorkingFile(const QString &list, const QString &dir)
{
    if (!fs::of(list))
        return; // it cannot be opened either; the open failure tells
    for (const char *name : folderFiles::intermediates)
        refuseIfSame(list, dir, name);
    for (const char *name : folderFiles::database)
        refuseIfSame(list, dir, name);
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
    const QString dir = host_.programDirectory();
    Outcome outcome = Outcome::Completed;
    {
        // The folder is this run's from before its first step to its last:
        // the runs of one folder share the tables, the intermediates and the
        // outputs. It is let go before any box waits for the user.
        std::optional<db::FolderLock> folder;
        if (!folderHeld_)
            folder.emplace(dir);

        // A run killed on the way left what its journal names: finish or
        // undo it before anything reads the outputs.
        Journal::recover(dir);

        // Checks.
        if (!LineFile::exists(host_.sectionsFileName()))
            outcome = Outcome::SectionsMissing;
        else if (!LineFile::exists(host_.forumsFileName()))
            outcome = Outcome::ForumsMissing;
        else
            work();
    }
    switch (outcome) {
    case Outcome::SectionsMissing:
        host_.showMessage(sectionsMissingText(), caption(), MessageIcon::Warning);
        return outcome;
    case Outcome::ForumsMissing:
        host_.showMessage(forumsMissingText(), caption(), MessageIcon::Warning);
        return outcome;
    case Outcome::Completed:
        break;
    }
    host_.setBusyCursor(false);
    host_.showMessage(completedText(), caption(), MessageIcon::Information);
    host_.setStartEnabled(true);
    host_.setOverallPosition(0);
    return outcome;
}

void ReindexRun::work()
{
    const QString dir = host_.programDirectory();
    // Preparation.
    host_.setStartEnabled(false);
    host_.setOperationPosition(0);
    host_.setOverallPosition(0);
    const PumpDuringStatements pumping(tables_.database(), host_);

    // Both lists are judged whole before anything changes: a list refused
    // for its bytes leaves the tables and the outputs as they were.
    const QString sectionsPath = host_.sectionsFileName();
    const QString forumsPath = host_.forumsFileName();
    refuseWorkingFile(sectionsPath, dir);
    refuseWorkingFile(forumsPath, dir);
    LineReader sections(sectionsPath, codePage_);
    LineReader forums(forumsPath, codePage_);
    const auto tick = [this] { host_.pump(); };
    const qsizetype sectionLines = sections.check(tick);
    const qsizetype forumLines = forums.check(tick);

    Journal journal(dir);
    db::Transaction transaction(tables_.database());
    transaction_ = &transaction;
    uncommitted_ = 0;
    struct Forget
    {
        db::Transaction *&t;
        ~Forget() { t = nullptr; }
    } forget{transaction_};
    try {
        while (tables_.emptySome(rowsPerEmptyingSlice))
            commitAndGoOn();
        host_.setBusyCursor(true);

        importSections(sections, sectionLines);
        importForums(forums, forumLines);
        // Both lists are let go before any file is written: a list may be
        // the very output that replaces it, and Windows replaces no file
        // another handle holds.
        sections.close();
        forums.close();
        renumber(journal);
        exportForums(journal);
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
    host_.pumpBeforeLongStep();
    transaction.commit();
    finalCopy(journal);
}

void ReindexRun::rowAdded()
{
    if (++uncommitted_ % rowsPerWriteback == 0)
        tables_.database().startWriteback();
    if (uncommitted_ < rowsPerCommit)
        return;
    tables_.flush();
    commitAndGoOn();
    uncommitted_ = 0;
}

void ReindexRun::commitAndGoOn()
{
    host_.pumpBeforeLongStep();
    transaction_->renew();
}

void ReindexRun::endPhase()
{
    host_.stepOverall();
    host_.setOperationPosition(0);
    host_.pump();
}

void ReindexRun::importSections(LineReader &list, qsizetype lines)
{
    host_.setOperationMaximum(int(lines));
    const QString what = QStringLiteral(u"идентификатор");
    QByteArrayView line;
    numbers_.clear();
    sectionRows_ = 0;
    for (qint64 number = 1; list.next(line); ++number) {
        const LineFile::Split split = LineFile::splitField(line);
        const db::Number id = requireIdentifier(split.field, list, what);
        tables_.addSection(number, id, split.rest);
        numbers_.add(qint32(id.integer), qint32(number));
        sectionRows_ = number;
        rowAdded();
        host_.stepOperation();
        host_.pump();
    }
    endPhase();
}

void ReindexRun::importForums(LineReader &list, qsizetype lines)
{
    host_.setOperationMaximum(int(lines));
    const QString what = QStringLiteral(u"идентификатор");
    const QString sectionWhat = QStringLiteral(u"идентификатор раздела");
    numbers_.seal();
    forumRows_ = 0;
    // A forum's section number is a read at a random place in a table larger
    // than the processor's nearer caches: the lines are taken a batch at a
    // time, each number's memory asked for as its line is read, so that the
    // batch waits for memory once instead of once a line.
    struct Parsed
    {
        db::Number id;
        db::Number sectionId;
        qsizetype titleEnd;
    };
    constexpr int batch = 32;
    Parsed parsed[batch];
    int count = 0;
    QByteArray titles;
    const auto handOver = [&] {
        qsizetype start = 0;
        for (int i = 0; i < count; ++i) {
            const Parsed &f = parsed[i];
            const qint32 number = numbers_.numberOf(f.sectionId.integer);
            tables_.addForum(f.id, f.sectionId, number, QByteArrayView(titles).sliced(start, f.titleEnd - start));
            start = f.titleEnd;
            ++forumRows_;
            rowAdded();
            host_.stepOperation();
            host_.pump();
        }
        count = 0;
        titles.resize(0); // keeps its room for the next batch
    };
    QByteArrayView line;
    bool more = true;
    while (more) {
        try {
            while (count < batch && (more = list.next(line))) {
                const LineFile::Split first = LineFile::splitField(line);
                const LineFile::Split second = LineFile::splitField(first.rest);
                const db::Number id = requireIdentifier(first.field, list, what);
                const db::Number sectionId = requireIdentifier(second.field, list, sectionWhat);
                numbers_.prefetch(sectionId.integer);
                titles.append(second.rest);
                parsed[count++] = Parsed{id, sectionId, titles.size()};
            }
        } catch (...) {
            // The lines before the one that failed go in first, as they
            // would have one by one: a line before it that the tables
            // refuse is the failure to tell.
            handOver();
            tables_.flush();
            throw;
        }
        handOver();
    }
    endPhase();
}

// An intermediate file of the run: "1.txt" or "2.txt" in the folder, unless
// a file that is not the run's own has that name; it then stays as it is,
// and the intermediate takes a name of the run's own beside it.
LineWriter ReindexRun::intermediate(Journal &journal, int index)
{
    const QString name = host_.programDirectory() + (index == 0 ? sectionsIntermediate : forumsIntermediate);
    fs::Handle file = journal.createPreferring(Journal::Role::Working, name, name, &intermediates_[index]);
    intermediateIds_[index] = file.id();
    return LineWriter(std::move(file));
}

void ReindexRun::renumber(Journal &journal)
{
    // The forums were stamped as they went in; what is left is the sections'
    // own list with their numbers.
    host_.setOperationMaximum(int(sectionRows_));
    LineWriter out = intermediate(journal, 0);
    db::Tables::Sections sections = tables_.sections();
    for (qint64 number = 1; sections.next(); ++number) {
        out.line(number, "|", sections.title());
        host_.stepOperation();
        host_.pump();
    }
    out.close();
    endPhase();
}

void ReindexRun::exportForums(Journal &journal)
{
    host_.setOperationMaximum(int(forumRows_));
    LineWriter out = intermediate(journal, 1);
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

void ReindexRun::finalCopy(Journal &journal)
{
    const QString dir = host_.programDirectory();
    Replacement outputs(journal, {dir + sectionsOutput, dir + forumsOutput});
    for (int i = 0; i < 2; ++i) {
        // The intermediate the run wrote, and no file put in its place.
        const QString &from = intermediates_[i];
        fs::Handle source = fs::openOwnForReading(from);
        if (!source.isOpen())
            throw RunError(LineFile::openFailure(from, fs::lastError()));
        if (source.id() != intermediateIds_[i])
            throw RunError(LineFile::openFailure(from, fs::deniedText()));
        outputs.begin(i);
        // The signature stays behind: the outputs never have one.
        outputs.copy(i, source, 3, [this] { host_.pump(); });
        outputs.finish(i);
        // One step for the file read, one for the file written.
        host_.stepOperation();
        host_.pump();
        host_.stepOperation();
        host_.pump();
    }
    outputs.commit(&release_);

    host_.stepOverall();
    for (const QString &intermediate : intermediates_) {
        release_.hold(intermediate);
        journal.removeOwn(intermediate);
    }
    release_.letGo();
    host_.setOperationPosition(0);
    host_.pump();
}

} // namespace run
