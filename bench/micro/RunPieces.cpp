// The run's side of a line: the UTF-8 check and line split of a whole file,
// a line's text, its "|" fields and the identifier check.

#include "SampleLines.h"

#include <run/Identifier.h>
#include <run/LineFile.h>
#include <run/LineList.h>
#include <run/Utf8Check.h>

#include <benchmark/benchmark.h>

namespace {

using micro::sampleLines;

void firstIllFormedUtf8(benchmark::State &state)
{
    const QByteArray &file = sampleLines().forumsFile;
    for (auto _ : state)
        benchmark::DoNotOptimize(run::firstIllFormedUtf8(file));
    state.SetBytesProcessed(state.iterations() * file.size());
}
BENCHMARK(firstIllFormedUtf8);

// The same check on text with no byte above 0x7F, the common case of
// identifiers and Latin titles.
void firstIllFormedUtf8Ascii(benchmark::State &state)
{
    QByteArray file = sampleLines().forumsFile;
    for (char &c : file)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = 'x';
    for (auto _ : state)
        benchmark::DoNotOptimize(run::firstIllFormedUtf8(file));
    state.SetBytesProcessed(state.iterations() * file.size());
}
BENCHMARK(firstIllFormedUtf8Ascii);

void assignUtf8(benchmark::State &state)
{
    const QByteArray &file = sampleLines().sectionsFile;
    run::LineList lines;
    for (auto _ : state) {
        lines.assignUtf8(file, 3); // past the signature
        benchmark::DoNotOptimize(lines.count());
    }
    state.SetBytesProcessed(state.iterations() * file.size());
    state.SetItemsProcessed(state.iterations() * lines.count());
}
BENCHMARK(assignUtf8);

void assignUtf8Forums(benchmark::State &state)
{
    const QByteArray &file = sampleLines().forumsFile;
    run::LineList lines;
    for (auto _ : state) {
        lines.assignUtf8(file);
        benchmark::DoNotOptimize(lines.count());
    }
    state.SetBytesProcessed(state.iterations() * file.size());
    state.SetItemsProcessed(state.iterations() * lines.count());
}
BENCHMARK(assignUtf8Forums);

// A line back as text, as the import loops take it.
void lineText(benchmark::State &state)
{
    run::LineList lines;
    lines.assignUtf8(sampleLines().forumsFile);
    const qsizetype count = lines.count();
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lines.line(i));
        if (++i == count)
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(lineText);

// Both splits of a forum line.
void splitField(benchmark::State &state)
{
    const auto &forums = sampleLines().forums;
    std::size_t i = 0;
    for (auto _ : state) {
        const run::LineFile::Split first = run::LineFile::splitField(forums[i]);
        const run::LineFile::Split second = run::LineFile::splitField(first.rest);
        benchmark::DoNotOptimize(first.field.data());
        benchmark::DoNotOptimize(second.rest.size());
        if (++i == forums.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(splitField);

// Both identifiers of a forum line.
void isPlainInteger(benchmark::State &state)
{
    std::vector<std::pair<QStringView, QStringView>> fields;
    for (const QString &line : sampleLines().forums) {
        const run::LineFile::Split first = run::LineFile::splitField(line);
        fields.emplace_back(first.field, run::LineFile::splitField(first.rest).field);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(run::isPlainInteger(fields[i].first));
        benchmark::DoNotOptimize(run::isPlainInteger(fields[i].second));
        if (++i == fields.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(isPlainInteger);

} // namespace
