// The database side of a line: the statement texts the run builds and reads
// back, the parameter-marker scan, the shape parse and UTF-8 encoding of a
// statement, a field's text, and a few statements run end to end on a
// scratch copy of the pristine database.

#include "SampleLines.h"

#include <run/StatementText.h>
#include <db/ParamMarkerScan.h>
#include <db/Session.h>
#include <db/StatementShape.h>
#include <db/Utf8Text.h>
#include <run/LineFile.h>

#include <benchmark/benchmark.h>

#include <initializer_list>
#include <memory>

namespace {

using micro::sampleLines;

// The statement pieces as the run puts them together.
QString concat(std::initializer_list<QStringView> parts)
{
    return run::StatementText::concat(parts);
}

QString quoted(QStringView text)
{
    return run::StatementText::quoted(text);
}

const QString sectionHead = QStringLiteral("INSERT INTO Razdel_table(old_id,str_value) VALUES(");
const QString forumHead = QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) VALUES(");

void buildSectionInsert(db::Query &q, const QString &line)
{
    const run::LineFile::Split split = run::LineFile::splitField(line);
    q.setSql(concat({sectionHead, split.field, u","}));
    q.setSql(q.sql() + quoted(split.rest) + u')');
}

void buildForumInsert(db::Query &q, const QString &line)
{
    const run::LineFile::Split first = run::LineFile::splitField(line);
    const run::LineFile::Split second = run::LineFile::splitField(first.rest);
    q.setSql(concat({forumHead, first.field, u","}));
    q.setSql(concat({q.sql(), second.field, u",0,"}));
    q.setSql(q.sql() + quoted(second.rest) + u')');
}

// One session for the whole program, opened on first use.
db::Session &session()
{
    // Made after the scratch folder, so it is closed before the folder goes.
    static const std::unique_ptr<db::Session> s = [] {
        const QString &dir = micro::scratchProgramDirectory();
        auto opened = std::make_unique<db::Session>();
        opened->open(dir);
        return opened;
    }();
    return *s;
}

// The forum insert texts, as the engine is handed them.
const std::vector<QString> &forumStatements()
{
    static const std::vector<QString> texts = [] {
        std::vector<QString> out;
        db::Query &q = session().qTempEx;
        for (const QString &line : sampleLines().forums) {
            buildForumInsert(q, line);
            out.push_back(q.sql());
        }
        return out;
    }();
    return texts;
}

void setSqlSectionInsert(benchmark::State &state)
{
    const auto &sections = sampleLines().sections;
    db::Query &q = session().qTemp;
    std::size_t i = 0;
    for (auto _ : state) {
        buildSectionInsert(q, sections[i]);
        benchmark::DoNotOptimize(q.sql().size());
        if (++i == sections.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(setSqlSectionInsert);

void setSqlForumInsert(benchmark::State &state)
{
    const auto &forums = sampleLines().forums;
    db::Query &q = session().qTemp;
    std::size_t i = 0;
    for (auto _ : state) {
        buildForumInsert(q, forums[i]);
        benchmark::DoNotOptimize(q.sql().size());
        if (++i == forums.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(setSqlForumInsert);

// Most texts hold no ":" at all; arg 1 takes only those that do ("Тема: ",
// "std::vector"), which the scan must walk through.
void scanParameterMarkers(benchmark::State &state)
{
    std::vector<QString> texts;
    for (const QString &t : forumStatements())
        if (state.range(0) == 0 || t.contains(u':'))
            texts.push_back(t);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(db::scanParameterMarkers(texts[i]));
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) == 0 ? "all statements" : "statements with ':'");
}
BENCHMARK(scanParameterMarkers)->Arg(0)->Arg(1);

void statementShapeParse(benchmark::State &state)
{
    std::vector<QByteArray> texts;
    for (const QString &t : forumStatements())
        texts.push_back(t.toUtf8());
    db::StatementShape shape;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(shape.parse(texts[i]));
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(statementShapeParse);

// The same from the statement's UTF-16, as the connection takes it apart; one
// text after another, as the run sends them.
void statementShapeParseUtf16(benchmark::State &state)
{
    const auto &texts = forumStatements();
    db::StatementShape shape;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(shape.parse(QStringView(texts[i])));
        if (++i == texts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(statementShapeParseUtf16);

void appendUtf8(benchmark::State &state)
{
    const auto &texts = forumStatements();
    QByteArray out;
    out.reserve(4096);
    std::size_t i = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        out.resize(0);
        db::appendUtf8(out, texts[i]);
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
        if (++i == texts.size())
            i = 0;
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(appendUtf8);

void decodeUtf8(benchmark::State &state)
{
    std::vector<QByteArray> texts;
    for (const QString &line : sampleLines().forums)
        texts.push_back(line.toUtf8());
    std::size_t i = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(db::decodeUtf8(texts[i]));
        bytes += texts[i].size();
        if (++i == texts.size())
            i = 0;
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(decodeUtf8);

// Fills Forum_table with a few forums of section 7 once.
void ensureForums()
{
    static const bool filled = [] {
        db::Query &q = session().qExec;
        q.setSql(QStringLiteral("DELETE * FROM Forum_table"));
        q.execSql();
        for (std::size_t i = 0; i < 8; ++i) {
            const QStringView title =
                run::LineFile::splitField(run::LineFile::splitField(sampleLines().forums[i]).rest).rest;
            buildForumInsert(q, concat({QString::number(100 + i), u"|7|", title}));
            q.execSql();
        }
        return true;
    }();
    (void)filled;
}

// The three fields the export reads from each row.
void fieldAsString(benchmark::State &state)
{
    ensureForums();
    db::Query &q = session().qTempEx;
    q.setSql(QStringLiteral("SELECT * FROM Forum_table ORDER BY id"));
    q.open();
    q.first();
    for (auto _ : state) {
        benchmark::DoNotOptimize(q.fieldAsString(u"old_id"));
        benchmark::DoNotOptimize(q.fieldAsString(u"new_id"));
        benchmark::DoNotOptimize(q.fieldAsString(u"str_value"));
        q.next();
        if (q.eof())
            q.first();
    }
    q.close();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(fieldAsString);

// End to end through the session and the engine: a section insert built and
// run, the renumbering's select of a section's forums, and its update.
void execSectionInsert(benchmark::State &state)
{
    const auto &sections = sampleLines().sections;
    db::Query &q = session().qTemp;
    std::size_t i = 0;
    for (auto _ : state) {
        buildSectionInsert(q, sections[i]);
        q.execSql();
        if (++i == sections.size())
            i = 0;
    }
    session().ADOConnection1.commit();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(execSectionInsert);

// The renumbering's select of section 7's forums, built, opened and read.
void readForumsOfSection(db::Query &q)
{
    q.close();
    q.setSql(QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = ") + QString::number(7)
             + QStringLiteral(" ORDER BY id"));
    q.open();
    q.first();
    int rows = 0;
    while (!q.eof()) {
        benchmark::DoNotOptimize(q.fieldAsString(u"id"));
        q.next();
        ++rows;
    }
    benchmark::DoNotOptimize(rows);
}

void openForumsOfSection(benchmark::State &state)
{
    ensureForums();
    db::Query &q = session().qTempEx;
    for (auto _ : state)
        readForumsOfSection(q);
    q.close();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(openForumsOfSection);

// The same select once the connection answers it from an image of the table,
// as it does in a long renumbering: an update held back keeps a group open,
// and reads go on until they have sought enough rows for the image.
void openForumsOfSectionFromImage(benchmark::State &state)
{
    ensureForums();
    db::Session &s = session();
    s.qExec.close();
    s.qExec.setSql(QStringLiteral("UPDATE Forum_table SET new_id = 1 WHERE id = 1"));
    s.qExec.execSql();
    db::Query &q = s.qTempEx;
    for (int i = 0; i < 100000 && !s.ADOConnection1.hasImage(); ++i)
        readForumsOfSection(q);
    if (!s.ADOConnection1.hasImage()) {
        state.SkipWithError("no image was made");
        return;
    }
    for (auto _ : state)
        readForumsOfSection(q);
    q.close();
    s.ADOConnection1.commit();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(openForumsOfSectionFromImage);

void execForumUpdate(benchmark::State &state)
{
    ensureForums();
    db::Query &q = session().qExec;
    int n = 0;
    for (auto _ : state) {
        q.close();
        q.setSql(QStringLiteral("UPDATE Forum_table SET new_id = ") + QString::number(1 + n % 1000)
                 + QStringLiteral(" WHERE id = ") + QString::number(1 + n % 8));
        q.execSql();
        ++n;
    }
    session().ADOConnection1.commit();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(execForumUpdate);

// The renumbering's updates as a run makes them: forums of ten thousand
// sections in no order of their ids, each update held back, then all of them
// applied by the commit in the order of the ids.
void holdAndApplyUpdates(benchmark::State &state)
{
    constexpr int forums = 10000;
    ensureForums(); // first: it empties the table
    static const std::vector<int> ids = [] {
        db::Query &q = session().qExec;
        q.setSql(QStringLiteral("INSERT INTO Forum_table(old_id,podrazdel_id,new_id,str_value) "
                                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                "SELECT 1000 + i, 8, 0, 'Форум номер ' || i FROM n")
                     .arg(forums));
        q.execSql();
        session().ADOConnection1.commit();
        db::Query &r = session().qTemp;
        r.setSql(QStringLiteral("SELECT * FROM Forum_table WHERE podrazdel_id = 8 ORDER BY id"));
        r.open();
        std::vector<int> found;
        for (r.first(); !r.eof(); r.next())
            found.push_back(r.fieldAsString(u"id").toInt());
        r.close();
        std::uint64_t x = 42; // a fixed shuffle
        for (std::size_t k = found.size(); k > 1; --k) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            std::swap(found[k - 1], found[std::size_t(x >> 33) % k]);
        }
        return found;
    }();
    db::Query &q = session().qExec;
    int number = 0;
    for (auto _ : state) {
        for (int id : ids) {
            q.close();
            q.setSql(run::StatementText::concat({u"UPDATE Forum_table SET new_id = ", QString::number(1 + number++ % 1000),
                                                 u" WHERE id = ", QString::number(id)}));
            q.execSql();
        }
        session().ADOConnection1.commit();
    }
    state.SetItemsProcessed(state.iterations() * qint64(ids.size()));
}
BENCHMARK(holdAndApplyUpdates);

} // namespace
