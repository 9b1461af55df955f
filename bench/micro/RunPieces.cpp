// The run's side of a line: the check of its bytes, reading a list file line by
// line, a line's "|" fields and its identifiers.

#include "SampleLines.h"

#include <run/Identifier.h>
#include <run/LineFile.h>
#include <run/LineReader.h>
#include <run/Utf8Check.h>

#include <benchmark/benchmark.h>

namespace {

using micro::sampleLines;
using micro::scratchProgramDirectory;

void firstNulOrIllFormedUtf8(benchmark::State &state)
{
    const QByteArray &file = sampleLines().forumsFile;
    for (auto _ : state)
        benchmark::DoNotOptimize(run::firstNulOrIllFormedUtf8(file));
    state.SetBytesProcessed(state.iterations() * file.size());
}
BENCHMARK(firstNulOrIllFormedUtf8);

// The same check line by line, as the run makes it.
void firstNulOrIllFormedUtf8Lines(benchmark::State &state)
{
    const auto &forums = sampleLines().forums;
    qint64 bytes = 0;
    for (const QByteArray &line : forums)
        bytes += line.size();
    for (auto _ : state) {
        for (const QByteArray &line : forums)
            benchmark::DoNotOptimize(run::firstNulOrIllFormedUtf8(line));
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.SetItemsProcessed(state.iterations() * qint64(forums.size()));
}
BENCHMARK(firstNulOrIllFormedUtf8Lines);

// The same check on text with no byte above 0x7F, the common case of
// identifiers and Latin titles.
void firstNulOrIllFormedUtf8Ascii(benchmark::State &state)
{
    QByteArray file = sampleLines().forumsFile;
    for (char &c : file)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = 'x';
    for (auto _ : state)
        benchmark::DoNotOptimize(run::firstNulOrIllFormedUtf8(file));
    state.SetBytesProcessed(state.iterations() * file.size());
}
BENCHMARK(firstNulOrIllFormedUtf8Ascii);

// A forum list as the run reads it: the checking pass, then every line.
void readForumList(benchmark::State &state)
{
    const QString path = scratchProgramDirectory() + QStringLiteral("forums.txt");
    qsizetype lines = 0;
    for (auto _ : state) {
        run::LineReader reader(path);
        lines = reader.check();
        QByteArrayView line;
        while (reader.next(line))
            benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(state.iterations() * sampleLines().forumsFile.size());
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(readForumList);

// Both splits of a forum line and both identifiers.
void splitAndIdentifiers(benchmark::State &state)
{
    const auto &forums = sampleLines().forums;
    std::size_t i = 0;
    for (auto _ : state) {
        const run::LineFile::Split first = run::LineFile::splitField(forums[i]);
        const run::LineFile::Split second = run::LineFile::splitField(first.rest);
        benchmark::DoNotOptimize(run::identifierValue(first.field));
        benchmark::DoNotOptimize(run::identifierValue(second.field));
        benchmark::DoNotOptimize(second.rest.size());
        if (++i == forums.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(splitAndIdentifiers);

} // namespace
