// reindex-cli: the reindexing run without a window, for scripts and tests.
// It uses its own folder exactly as the window program does: Database.mdb,
// the intermediates and fr_fr.txt / forum.txt all live beside it, unless
// --dir names another folder for them.
#include "Arguments.h"
#include "CommandLine.h"
#include "Console.h"
#include "ConsoleHost.h"

#include <db/DbError.h>
#include <db/FolderLock.h>
#include <db/Tables.h>
#include <run/LineFile.h>
#include <run/ListCheck.h>
#include <run/ReindexRun.h>
#include <run/FileSystem.h>
#include <run/FolderFiles.h>
#include <run/Journal.h>
#include <run/Replacement.h>
#include <run/ReportText.h>
#include <run/RunError.h>
#include <run/RunSummary.h>
#include <run/SectionMap.h>
#include <run/SystemName.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <optional>

namespace {

enum ExitCode {
    Completed = 0,
    RunFailed = 1,
    UsageError = 2,
    InputMissing = 3,
    DatabaseUnavailable = 4,
    AfterRunFailed = 5
};

void printErr(const QString &text)
{
    console::writeLine(console::Stream::Err, text);
}

// The Russian texts are the window's; a script's log also gets, in English,
// what the twin looked for and where.
void printMissing(const char *what, const QString &path)
{
    const QFileInfo info(path);
    const char *problem = info.isDir() ? "is a folder, not a file" : "no such file";
    printErr(QStringLiteral("reindex-cli: %1 list: %2: %3")
                 .arg(QLatin1String(what), QLatin1String(problem),
                      run::LineFile::shown(QDir::toNativeSeparators(info.absoluteFilePath()))));
}

QString counted(qsizetype n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(QString::number(n), QLatin1String(n == 1 ? one : many));
}

// --check: the run's own existence checks and missing-file messages, then
// every finding of both lists. Nothing is opened for writing.
int check(const CommandLine &command)
{
    if (!run::LineFile::exists(command.sections)) {
        printErr(run::ReindexRun::sectionsMissingText());
        printMissing("sections", command.sections);
        return InputMissing;
    }
    if (!run::LineFile::exists(command.forums)) {
        printErr(run::ReindexRun::forumsMissingText());
        printMissing("forums", command.forums);
        return InputMissing;
    }
    const QString sections = run::LineFile::shown(command.sections);
    const QString forums = run::LineFile::shown(command.forums);
    // stderr is unbuffered: a board with a million orphaned forums would cost
    // a write per line. The findings go out as they come, so the twin's
    // memory does not grow with them either.
    // One buffer for the whole check, its room kept between two writes.
    constexpr qsizetype flushAt = 32768;
    QString text;
    text.reserve(flushAt + 4096);
    const auto flush = [&text] {
        console::write(console::Stream::Err, text);
        text.resize(0);
    };
    std::optional<run::ListCheck> checked;
    try {
        checked.emplace(command.sections, command.forums, command.codePage ? &*command.codePage : nullptr,
                        [&](const run::ListCheck::Finding &f) {
                            const QString &file = f.list == run::ListCheck::List::Sections ? sections : forums;
                            const QLatin1String kind(f.severity == run::ListCheck::Severity::Warning ? "warning: "
                                                                                                      : "");
                            text += file;
                            text += u':';
                            text += QString::number(f.line);
                            text += QLatin1String(": ");
                            text += kind;
                            text += f.message;
                            text += u'\n';
                            if (text.size() >= flushAt)
                                flush();
                        });
    } catch (const run::RunError &e) {
        flush();
        printErr(run::reportText(e.message()));
        return RunFailed;
    }
    flush();
    const run::ListCheck &result = *checked;
    console::writeLine(console::Stream::Out, counted(result.problemCount(), "problem", "problems") + QLatin1String(", ")
                        + counted(result.warningCount(), "warning", "warnings"));
    return result.problemCount() == 0 ? Completed : RunFailed;
}

// False, with the reason, when stdout did not take the report: a script
// must not take a full disk for an empty board.
bool printReport(const run::RunSummary &summary, qint64 nanoseconds, QString &failure)
{
    // A summary line, not a listing: --check names every one with its lines.
    constexpr qsizetype shown = 10;
    const QStringList &ids = summary.repeatedIdentifiers;
    QString repeated = QString::number(ids.size());
    if (!ids.isEmpty())
        repeated += QLatin1String(" (") + ids.first(qMin(shown, ids.size())).join(QLatin1String(", "))
                    + QLatin1String(ids.size() > shown ? ", ...)" : ")");
    const double seconds = double(nanoseconds) / 1e9;
    const qint64 rows = summary.sections + summary.forums;
    const QString rate = seconds > 0 ? QString::number(qint64(double(rows) / seconds + 0.5)) : QStringLiteral("-");
    console::writeLine(console::Stream::Out, QStringLiteral("sections: %1\n"
                                   "forums: %2\n"
                                   "forums without a section: %3\n"
                                   "repeated section identifiers: %4\n"
                                   "wall time: %5 s\n"
                                   "rows per second: %6")
                        .arg(QString::number(summary.sections), QString::number(summary.forums),
                             QString::number(summary.forumsWithoutSection), repeated,
                             QString::number(seconds, 'f', 3), rate));
    // The stream keeps an earlier failure too, the completion message's.
    QString reason;
    if (console::flush(console::Stream::Out, &reason))
        return true;
    failure = QStringLiteral("reindex-cli: could not write the report to standard output");
    if (!reason.isEmpty())
        failure += QLatin1String(": ") + reason;
    return false;
}

// None when the program's own folder is asked for and its name does not
// decode; `undecoded` then holds that name.
std::optional<QString> programDirectory(const CommandLine &command, QByteArray &undecoded)
{
    if (command.directory.isEmpty())
        return run::programFolder(&undecoded);
    QString dir = QDir::toNativeSeparators(QDir(command.directory).absolutePath());
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir;
}

// What --map must not replace, as files, not as names: the run's own files
// in its folder, and the lists it reads. Empty when it is none of them.
QString mapClash(const CommandLine &command, const QString &directory)
{
    const QString &map = command.mapFile;
    for (const char *name : run::folderFiles::outputs)
        if (run::fs::sameFile(map, directory + QLatin1String(name)))
            return QStringLiteral("the output %1").arg(QLatin1String(name));
    for (const char *name : run::folderFiles::intermediates)
        if (run::fs::sameFile(map, directory + QLatin1String(name)))
            return QStringLiteral("the intermediate file %1").arg(QLatin1String(name));
    for (const char *name : run::folderFiles::database)
        if (run::fs::sameFile(map, directory + QLatin1String(name)))
            return QStringLiteral("the database file %1").arg(QLatin1String(name));
    if (run::fs::sameFile(map, command.sections))
        return QStringLiteral("the section list");
    if (run::fs::sameFile(map, command.forums))
        return QStringLiteral("the forum list");
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("reindex-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(REINDEX_VERSION));

    std::optional<QByteArray> undecodable;
    CommandLine command = CommandLine::parse(argumentsOf(argc, argv, undecodable));
    // Help and version need no name; anything else would use one that is not the one given.
    if (undecodable && command.action != CommandLine::Action::Help && command.action != CommandLine::Action::Version) {
        command.action = CommandLine::Action::Usage;
        command.usageError =
            QStringLiteral("argument '%1' is not UTF-8 (bytes shown as \\xHH); give the file or folder a UTF-8 name")
                .arg(run::LineFile::shownBytes(*undecodable));
    }
    switch (command.action) {
    case CommandLine::Action::Help:
        console::write(console::Stream::Out, QString::fromUtf8(CommandLine::helpText()));
        return Completed;
    case CommandLine::Action::Version:
        console::writeLine(console::Stream::Out, QStringLiteral("reindex-cli " REINDEX_VERSION));
        return Completed;
    case CommandLine::Action::Usage:
        printErr(QStringLiteral("reindex-cli: ") + command.usageError);
        printErr(QStringLiteral("Try 'reindex-cli --help'."));
        return UsageError;
    case CommandLine::Action::Check:
        return check(command);
    case CommandLine::Action::Run:
        break;
    }

    QByteArray undecodedFolder;
    const std::optional<QString> folder = programDirectory(command, undecodedFolder);
    if (!folder) {
        printErr(QStringLiteral(u"Ошибка соединения с базой данных!"));
        printErr(
            QStringLiteral("reindex-cli: could not open the database: the name of the program's folder %1 is not UTF-8")
                .arg(run::LineFile::shownBytes(undecodedFolder)));
        return DatabaseUnavailable;
    }
    const QString &directory = *folder;
    if (!command.mapFile.isEmpty()) {
        if (const QString clash = mapClash(command, directory); !clash.isEmpty()) {
            printErr(QStringLiteral("reindex-cli: --map '%1' is %2; name another file for the map")
                         .arg(run::LineFile::shown(QDir::toNativeSeparators(command.mapFile)), clash));
            return UsageError;
        }
    }

    std::optional<db::Tables> tables;
    try {
        tables.emplace(directory);
    } catch (const db::DbError &e) {
        printErr(QStringLiteral(u"Ошибка соединения с базой данных!"));
        printErr(e.message());
        printErr(QStringLiteral("reindex-cli: could not open the database %1")
                     .arg(run::LineFile::shown(directory + QStringLiteral("Database.mdb"))));
        return DatabaseUnavailable;
    }

    ConsoleHost host(command.sections, command.forums, directory, console::isTerminal(console::Stream::Err));
    QElapsedTimer wallTime;
    // The folder is this twin's until the report and the map are made: they
    // read the tables of this run, not of one started meanwhile.
    std::optional<db::FolderLock> lock;
    try {
        lock.emplace(directory);
        run::ReindexRun reindexRun(host, *tables);
        reindexRun.setFolderHeld(true);
        reindexRun.setInputCodePage(command.codePage ? &*command.codePage : nullptr);
        wallTime.start();
        switch (reindexRun.run()) {
        case run::ReindexRun::Outcome::Completed:
            break;
        case run::ReindexRun::Outcome::SectionsMissing:
            printMissing("sections", command.sections);
            return InputMissing;
        case run::ReindexRun::Outcome::ForumsMissing:
            printMissing("forums", command.forums);
            return InputMissing;
        }
    } catch (const run::RunError &e) {
        host.printError(run::reportText(e.message()));
        return RunFailed;
    } catch (const db::DbError &e) {
        host.printError(run::reportText(e.message()));
        return RunFailed;
    }
    const qint64 runNanoseconds = wallTime.nsecsElapsed();

    // The outputs are replaced by now: whatever fails from here on must not
    // look like a failed run, which would leave them as they were.
    int outcome = Completed;
    try {
        QString failure;
        if (command.report && !printReport(run::RunSummary::read(*tables), runNanoseconds, failure)) {
            host.printError(run::reportText(failure));
            outcome = AfterRunFailed;
        }
        if (!command.mapFile.isEmpty()) {
            run::Journal journal(directory);
            run::Replacement::replace(journal, command.mapFile, run::SectionMap::read(*tables));
        }
    } catch (const run::RunError &e) {
        host.printError(run::reportText(e.message()));
        outcome = AfterRunFailed;
    } catch (const db::DbError &e) {
        host.printError(run::reportText(e.message()));
        outcome = AfterRunFailed;
    }
    try {
        tables->close();
    } catch (const db::DbError &e) {
        host.printError(run::reportText(e.message()));
        return AfterRunFailed; // the outputs are replaced by now
    }
    return outcome;
}
