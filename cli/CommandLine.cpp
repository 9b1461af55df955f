#include "CommandLine.h"

#include <run/LineFile.h>

#include <QFileInfo>

namespace {

// What the command line was given, as a message to the terminal may show it.
QString shown(const QString &argument)
{
    return run::LineFile::shown(argument);
}

const char help[] =
    "Usage: reindex-cli [OPTIONS] SECTIONS FORUMS\n"
    "       reindex-cli --check [--encoding NAME] SECTIONS FORUMS\n"
    "\n"
    "Loads the section list SECTIONS (lines \"ID|title\") and the forum list FORUMS\n"
    "(lines \"ID|section ID|title\"), UTF-8, into Database.mdb, numbers the sections\n"
    "1, 2, 3 ... in file order, gives every forum its section's new number (0 when\n"
    "no section has its section ID) and writes fr_fr.txt and forum.txt.\n"
    "\n"
    "Database.mdb, the intermediate files and both outputs live in the folder of\n"
    "this program file, whatever the current directory (see --dir).\n"
    "\n"
    "Options:\n"
    "  --check          check both lists and change nothing: no database is opened\n"
    "                   (none is needed) and no file is written. Each problem that\n"
    "                   would stop a run (a line that does not decode, a NUL byte, an\n"
    "                   empty line, a missing \"|\", an identifier that is not a whole\n"
    "                   number of 32 bits) goes to stderr as FILE:LINE: message, every\n"
    "                   one of them; so do warnings that would not stop it\n"
    "                   (\"warning:\" a forum whose section ID names no section, a\n"
    "                   section ID on more than one line). Then the count of both on\n"
    "                   stdout. IDs are compared as numbers: 007 is 7. A list that is\n"
    "                   not a regular file (a pipe, a device) is refused, as by a run.\n"
    "  --report         after a completed run, print on stdout the sections, forums,\n"
    "                   forums without a section, repeated section IDs (the first\n"
    "                   ten of them), the wall time and rows per second\n"
    "  --map FILE       after a completed run, write FILE: \"old ID|new number\" for\n"
    "                   every section in output order, UTF-8 with CR LF; FILE is\n"
    "                   replaced whole or not at all, like the outputs. An output,\n"
    "                   an intermediate, the database or a list is refused (2)\n"
    "  --encoding NAME  read both lists in NAME instead of UTF-8: windows-1251\n"
    "                   (cp1251), koi8-r, cp866 (ibm866) or utf-8; letter case does\n"
    "                   not matter. The outputs are UTF-8 whatever NAME is. A byte\n"
    "                   NAME does not define stops the run naming file and line\n"
    "  --dir DIR        use DIR in place of the program's folder: Database.mdb (copy\n"
    "                   the one beside the program there first, and remove any\n"
    "                   Database.mdb-journal, -wal and -shm there: they belong to\n"
    "                   the file it replaces), the intermediate files and fr_fr.txt\n"
    "                   and forum.txt\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    show the version and exit\n"
    "An option's value may also follow an \"=\": --map=map.txt.\n"
    "\n"
    "Messages: the run's own are the window's, in Russian; those of --check,\n"
    "--report and the command line are in English. A control character from a\n"
    "list or a name is shown as \\xHH.\n"
    "\n"
    "Names of files and folders are read as UTF-8: one that is not (as a legacy\n"
    "export may be named, in windows-1251) is a usage error, its other bytes\n"
    "shown as \\xHH; rename it first. This program's folder must be UTF-8 too:\n"
    "in one that is not, the database cannot be opened (exit code 4).\n"
    "\n"
    "Exit codes: 0 completed (with --check: the lists would run clean); 1 the run\n"
    "failed, the previous outputs untouched (with --check: a problem was found, or\n"
    "a list could not be read); 2 usage error; 3 an input file is missing; 4 the\n"
    "database could not be opened; 5 the run completed and replaced the outputs,\n"
    "but --report or --map failed. The order: usage is judged first, then the\n"
    "database is opened (never with --check), then the input files are looked for.\n"
    "\n"
    "Examples:\n"
    "  reindex-cli sections.txt forums.txt\n"
    "  reindex-cli --check --encoding cp1251 sections.txt forums.txt\n"
    "  reindex-cli --encoding cp1251 --dir ~/reindex --report --map map.txt \\\n"
    "      sections.txt forums.txt\n";

} // namespace

const char *CommandLine::helpText()
{
    return help;
}

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine out;
    auto fail = [&out](const QString &reason) {
        out.action = Action::Usage;
        out.usageError = reason;
        return out;
    };
    QString encoding;
    bool check = false;
    QStringList files;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(u'-') || arg.size() == 1) {
            files.append(arg);
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            out.action = Action::Help;
            return out;
        } else if (arg == QLatin1String("-V") || arg == QLatin1String("--version")) {
            out.action = Action::Version;
            return out;
        } else if (arg == QLatin1String("--check")) {
            check = true;
        } else if (arg == QLatin1String("--report")) {
            out.report = true;
        } else {
            // The options that take a value, in both spellings: "--map FILE" and "--map=FILE".
            QString *target = nullptr;
            QString name = arg;
            const qsizetype eq = arg.indexOf(u'=');
            if (eq > 0)
                name = arg.first(eq);
            if (name == QLatin1String("--map"))
                target = &out.mapFile;
            else if (name == QLatin1String("--encoding"))
                target = &encoding;
            else if (name == QLatin1String("--dir"))
                target = &out.directory;
            else
                return fail(QStringLiteral("unknown option '%1'").arg(shown(arg)));
            if (eq > 0)
                *target = arg.sliced(eq + 1);
            else if (i + 1 < arguments.size())
                *target = arguments.at(++i);
            else
                return fail(QStringLiteral("option '%1' needs a value").arg(shown(name)));
            if (target->isEmpty())
                return fail(QStringLiteral("option '%1' needs a value").arg(shown(name)));
        }
    }
    if (!encoding.isEmpty() && encoding.compare(QLatin1String("utf-8"), Qt::CaseInsensitive) != 0
        && encoding.compare(QLatin1String("utf8"), Qt::CaseInsensitive) != 0) {
        out.codePage = run::CodePage::byName(encoding);
        if (!out.codePage)
            return fail(QStringLiteral("unknown encoding '%1'; known: utf-8, %2")
                            .arg(shown(encoding), run::CodePage::names().join(QLatin1String(", "))));
    }
    if (check && (out.report || !out.mapFile.isEmpty()))
        return fail(QStringLiteral("--check runs nothing, so it takes neither --report nor --map"));
    // Checked here, not left to the database open: a mistyped folder is the
    // command line's fault, not the database's.
    if (!check && !out.directory.isEmpty() && !QFileInfo(out.directory).isDir())
        return fail(QStringLiteral("--dir '%1' is not a directory").arg(shown(out.directory)));
    if (files.size() != 2)
        return fail(QStringLiteral("expected two files, SECTIONS and FORUMS"));
    out.sections = files.at(0);
    out.forums = files.at(1);
    out.action = check ? Action::Check : Action::Run;
    return out;
}
