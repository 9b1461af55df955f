// The database's side of a run: forums going in, several to a statement, and
// the tables read back in order.

#include "SampleLines.h"

#include <db/Tables.h>
#include <db/Transaction.h>
#include <run/Identifier.h>
#include <run/LineFile.h>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using micro::sampleLines;

db::Tables &tables()
{
    static const std::unique_ptr<db::Tables> t = std::make_unique<db::Tables>(micro::scratchProgramDirectory());
    return *t;
}

// One forum into the table inside a transaction, its number known: what the
// forum import costs a line beyond reading it.
void addForum(benchmark::State &state)
{
    db::Tables &t = tables();
    const auto &forums = sampleLines().forums;
    std::size_t i = 0;
    db::Transaction transaction(t.database());
    while (t.emptySome(1 << 16)) {
    }
    for (auto _ : state) {
        const run::LineFile::Split first = run::LineFile::splitField(forums[i]);
        const run::LineFile::Split second = run::LineFile::splitField(first.rest);
        t.addForum(*run::identifierValue(first.field), *run::identifierValue(second.field), 1, second.rest);
        if (++i == forums.size())
            i = 0;
    }
    t.flush();
    transaction.commit();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(addForum);

// The forums read back in their order, as the export takes them.
void readForums(benchmark::State &state)
{
    db::Tables &t = tables();
    {
        db::Transaction transaction(t.database());
        while (t.emptySome(1 << 16)) {
        }
        for (const QByteArray &line : sampleLines().forums) {
            const run::LineFile::Split first = run::LineFile::splitField(line);
            const run::LineFile::Split second = run::LineFile::splitField(first.rest);
            t.addForum(*run::identifierValue(first.field), *run::identifierValue(second.field), 1, second.rest);
        }
        t.flush();
        transaction.commit();
    }
    qint64 rows = 0;
    for (auto _ : state) {
        db::Tables::Forums forums = t.forums();
        rows = 0;
        while (forums.next()) {
            benchmark::DoNotOptimize(forums.title().data());
            ++rows;
        }
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(readForums);

} // namespace
