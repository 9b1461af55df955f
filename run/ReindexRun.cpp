#include "ReindexRun.h"

#include "Identifier.h"
#include "LineFile.h"
#include "LineList.h"
#include "OutputPair.h"
#include "RunError.h"
#include "RunHost.h"
#include "StatementText.h"

#include <db/Session.h>

namespace run {

namespace {

const QString sectionsOutput = QStringLiteral("fr_fr.txt");
const QString forumsOutput = QStringLiteral("forum.txt");
const QString sectionsIntermediate = QStringLiteral("1.txt");
const QString forumsIntermediate = QStringLiteral("2.txt");
constexpr qint64 exportCacheBytes = 4 << 20;

using run::StatementText;

void requireIdentifier(QStringView field, const QString &path, qsizetype line, const QString &what)
{
    if (!isPlainInteger(field))
        throw RunError(QStringLiteral(u"Файл \"%1\", строка %2: %3 \"%4\" не является целым числом")
                           .arg(LineFile::fullPath(path))
                           .arg(line)
                           .arg(what, field));
}

// Whatever way the run ends, the statements it ran are made durable.
struct CommitOnExit
{
    db::Connection &connection;
    ~CommitOnExit()
    {
        try {
            connection.commit();
        } catch (...) {
        }
    }
};

} // namespace

ReindexRun::ReindexRun(RunHost &host, db::Session &session) : host_(host), session_(session) {}

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

    // Preparation.
    host_.setStartEnabled(false);
    host_.setOperationPosition(0);
    host_.setOverallPosition(0);
    CommitOnExit commitOnExit{session_.ADOConnection1};
    db::Query &qTemp = session_.qTemp;
    qTemp.close();
    qTemp.setSql(QStringLiteral("DELETE * FROM Razdel_table"));
    qTemp.execSql();
    qTemp.close();
    qTemp.setSql(QStringLiteral("DELETE * FROM Forum_table"));
    qTemp.execSql();
    host_.setBusyCursor(true);

    importSections(host_.sectionsFileName());
    importForums(host_.forumsFileName());
    renumber();
    exportForums();
    finalCopy();

    host_.setBusyCursor(false);
    host_.showMessage(completedText(), caption(), MessageIcon::Information);
    host_.setStartEnabled(true);
    host_.setOverallPosition(0);
    return Outcome::Completed;
}

void ReindexRun::endPhase()
{
    host_.stepOverall();
    host_.setOperationPosition(0);
    host_.pump();
}

void ReindexRun::importSections(const QString &path)
{
    LineList lines;
    LineFile::load(path, lines, codePage_);
    const qsizetype count = lines.count();
    host_.setOperationMaximum(int(count));
    db::Query &qTemp = session_.qTemp;
    const QString head = QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(");
    for (qsizetype i = 0; i < count; ++i) {
        qTemp.close();
        const QString line = lines.line(i);
        const LineFile::Split split = LineFile::splitField(line);
        requireIdentifier(split.field, path, i + 1, QStringLiteral(u"идентификатор"));
        qTemp.setSql(StatementText::concat({head, split.field, u","}));
        qTemp.setSql(StatementText::concat({qTemp.sql(), StatementText::quoted(split.rest), u")"}));
        qTemp.execSql();
        host_.stepOperation();
        host_.pump();
    }
    endPhase();
}

void ReindexRun::importForums(const QString &path)
{
    LineList lines;
    LineFile::load(path, lines, codePage_);
    // The tables will hold about as much again as the forum list: a cache of
    // that size keeps a large run from reading its pages back over and over,
    // and the run stays within three times its input.
    session_.ADOConnection1.fitCacheTo(lines.byteSize());
    const qsizetype count = lines.count();
    host_.setOperationMaximum(int(count));
    db::Query &qTemp = session_.qTemp;
    const QString head = QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(");
    for (qsizetype i = 0; i < count; ++i) {
        qTemp.close();
        const QString line = lines.line(i);
        const LineFile::Split first = LineFile::splitField(line);
        const LineFile::Split second = LineFile::splitField(first.rest);
        requireIdentifier(first.field, path, i + 1, QStringLiteral(u"идентификатор"));
        requireIdentifier(second.field, path, i + 1, QStringLiteral(u"идентификатор раздела"));
        qTemp.setSql(StatementText::concat({head, first.field, u","}));
        qTemp.setSql(StatementText::concat({qTemp.sql(), second.field, u",0,"}));
        qTemp.setSql(StatementText::concat({qTemp.sql(), StatementText::quoted(second.rest), u")"}));
        qTemp.execSql();
        host_.stepOperation();
        host_.pump();
    }
    endPhase();
}

void ReindexRun::renumber()
{
    db::Query &qTemp = session_.qTemp;
    db::Query &qTempEx = session_.qTempEx;
    db::Query &qExec = session_.qExec;
    LineList lines;

    qTemp.close();
    qTemp.setSql(QStringLiteral("SELECT * FROM Razdel_table ORDER BY id"));
    qTemp.open();
    qTemp.first();
    host_.setOperationMaximum(qTemp.recordCount());
    qint32 number = 1;
    while (!qTemp.eof()) {
        qTempEx.close();
        qTempEx.setSql(StatementText::concat({u"SELECT * FROM Forum_table WHERE podrazdel_id = ",
                                              qTemp.fieldAsString(u"old_id"), u" ORDER BY id"}));
        qTempEx.open();
        qTempEx.first();
        const QString numberText = QString::number(number);
        while (!qTempEx.eof()) {
            qExec.close();
            qExec.setSql(StatementText::concat(
                {u"UPDATE Forum_table SET new_id = ", numberText, u" WHERE id = ", qTempEx.fieldAsString(u"id")}));
            qExec.execSql();
            qTempEx.next();
            host_.pump();
        }
        lines.appendJoined({numberText, u"|", qTemp.fieldAsString(u"str_value")});
        qTemp.next();
        ++number;
        host_.stepOperation();
        host_.pump();
    }
    LineFile::saveWithSignature(lines, host_.programDirectory() + sectionsIntermediate);
    lines.clear();
    endPhase();
}

void ReindexRun::exportForums()
{
    db::Query &qTemp = session_.qTemp;
    LineList lines;
    qTemp.close();
    qTemp.setSql(QStringLiteral("SELECT * FROM Forum_table ORDER BY id"));
    qTemp.open();
    // What is left is one pass over the table in order: the cache's memory
    // is better spent on the output's lines.
    session_.ADOConnection1.shrinkCacheTo(exportCacheBytes);
    qTemp.first();
    host_.setOperationMaximum(qTemp.recordCount());
    while (!qTemp.eof()) {
        lines.appendJoined({qTemp.fieldAsString(u"old_id"), u"|", qTemp.fieldAsString(u"new_id"), u"|",
                            qTemp.fieldAsString(u"str_value")});
        qTemp.next();
        host_.stepOperation();
        host_.pump();
    }
    // All database work is done: make it durable before any file is replaced.
    // The result is let go first, or the commit would fetch it whole.
    qTemp.close();
    session_.ADOConnection1.commit();
    endPhase();
    LineFile::saveWithSignature(lines, host_.programDirectory() + forumsIntermediate);
    lines.release();
    host_.setOperationMaximum(4);
    host_.pump();
}

void ReindexRun::finalCopy()
{
    const QString dir = host_.programDirectory();
    OutputPair outputs(dir + sectionsOutput, dir + forumsOutput);

    QByteArray copy = LineFile::readWhole(dir + sectionsIntermediate);
    host_.stepOperation();
    host_.pump();
    outputs.stage(0, QByteArrayView(copy).sliced(qMin<qsizetype>(3, copy.size())));
    copy = QByteArray();
    host_.stepOperation();
    host_.pump();

    copy = LineFile::readWhole(dir + forumsIntermediate);
    host_.stepOperation();
    host_.pump();
    outputs.stage(1, QByteArrayView(copy).sliced(qMin<qsizetype>(3, copy.size())));
    copy = QByteArray();
    host_.stepOperation();
    host_.pump();
    outputs.commit();

    host_.stepOverall();
    LineFile::quietDelete(dir + sectionsIntermediate);
    LineFile::quietDelete(dir + forumsIntermediate);
    host_.setOperationPosition(0);
    host_.pump();
}

} // namespace run
