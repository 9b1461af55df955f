// reindex-cli: the reindexing run without a window, for scripts and tests.
// It uses its own folder exactly as the window program does: Database.mdb,
// the intermediates and fr_fr.txt / forum.txt all live beside it.
#include "ConsoleHost.h"

#include <db/DbError.h>
#include <db/Session.h>
#include <run/ReindexRun.h>
#include <run/ReportText.h>
#include <run/RunError.h>

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

enum ExitCode { Completed = 0, RunFailed = 1, UsageError = 2, InputMissing = 3, DatabaseUnavailable = 4 };

const char usage[] =
    "Usage: reindex-cli SECTIONS FORUMS\n"
    "\n"
    "Loads the section list SECTIONS (lines \"ID|title\") and the forum list FORUMS\n"
    "(lines \"ID|section ID|title\"), UTF-8, into Database.mdb, numbers the sections\n"
    "1, 2, 3 ... in file order, gives every forum its section's new number (0 when\n"
    "no section has its section ID) and writes fr_fr.txt and forum.txt.\n"
    "\n"
    "Database.mdb, the intermediate files and both outputs live in the folder of\n"
    "this program file, whatever the current directory.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Exit codes: 0 completed; 1 the run failed; 2 usage error; 3 an input file\n"
    "is missing; 4 the database could not be opened.\n"
    "\n"
    "Example:\n"
    "  reindex-cli sections.txt forums.txt\n";

void printErr(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("reindex-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(REINDEX_VERSION));

    QStringList files;
    bool optionsEnded = false;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (const QString &arg : args) {
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == QLatin1String("-h") || arg == QLatin1String("--help"))) {
            std::fputs(usage, stdout);
            return Completed;
        } else if (!optionsEnded && (arg == QLatin1String("-V") || arg == QLatin1String("--version"))) {
            std::printf("reindex-cli %s\n", REINDEX_VERSION);
            return Completed;
        } else if (!optionsEnded && arg.startsWith(u'-') && arg.size() > 1) {
            printErr(QStringLiteral("reindex-cli: unknown option '%1'").arg(arg));
            std::fputs("Try 'reindex-cli --help'.\n", stderr);
            return UsageError;
        } else {
            files.append(arg);
        }
    }
    if (files.size() != 2) {
        std::fputs("reindex-cli: expected two files, SECTIONS and FORUMS\n", stderr);
        std::fputs("Try 'reindex-cli --help'.\n", stderr);
        return UsageError;
    }

    const QString programDirectory = QCoreApplication::applicationDirPath() + QDir::separator();

    db::Session session;
    try {
        session.open(programDirectory);
    } catch (const db::DbError &e) {
        printErr(QStringLiteral(u"Ошибка соединения с базой данных!"));
        printErr(e.message());
        return DatabaseUnavailable;
    }

    ConsoleHost host(files.at(0), files.at(1), programDirectory, isatty(fileno(stderr)) != 0);
    try {
        switch (run::ReindexRun(host, session).run()) {
        case run::ReindexRun::Outcome::Completed:
            break;
        case run::ReindexRun::Outcome::SectionsMissing:
        case run::ReindexRun::Outcome::ForumsMissing:
            return InputMissing;
        }
    } catch (const run::RunError &e) {
        host.printError(run::reportText(e.message()));
        return RunFailed;
    } catch (const db::DbError &e) {
        host.printError(run::reportText(e.message()));
        return RunFailed;
    }
    try {
        session.ADOConnection1.close();
    } catch (const db::DbError &e) {
        host.printError(run::reportText(e.message()));
        return RunFailed;
    }
    return Completed;
}
