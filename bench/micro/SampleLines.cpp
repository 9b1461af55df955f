#include "SampleLines.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace micro {

namespace {

constexpr int sectionCount = 1'000;
constexpr int forumCount = 10'000;

// splitmix64, as the list generator uses: the same bytes everywhere.
struct Rng
{
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    bool chance(unsigned perMille) { return below(1000) < perMille; }
};

const char16_t *const words[] = {
    u"Новости", u"форума", u"Правила", u"вопросы", u"Обсуждение", u"Игры", u"Программирование",
    u"Железо", u"Разное", u"ёлка", u"Щука", u"News", u"General", u"Discussion", u"Help",
    u"Hardware", u"Software", u"Linux", u"café", u"Zürich", u"C++", u"v2.0",
};
const char16_t *const extras[] = {
    u"O'Hara", u"\"Лучшее\"", u"«ёлочки»", u"`code`", u"std::vector", u"C:\\Temp", u"😀 smile",
    u"| Архив", u"|x|y",
};

QString title(Rng &rng)
{
    QString t;
    if (rng.chance(30))
        t = QStringLiteral(u"Тема: ");
    const auto count = 1 + rng.below(4);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (i)
            t += u' ';
        t += QString::fromUtf16(words[rng.below(std::size(words))]);
    }
    if (rng.chance(80)) {
        t += u' ';
        t += QString::fromUtf16(extras[rng.below(std::size(extras))]);
    }
    return t;
}

QString identifier(Rng &rng, std::int64_t value)
{
    const QString digits = QString::number(value);
    return rng.chance(6) ? QStringLiteral("+00") + digits : digits;
}

SampleLines make()
{
    SampleLines s;
    Rng rng{0x6D6963726Full};
    s.sectionsFile = "\xEF\xBB\xBF";
    for (int i = 0; i < sectionCount; ++i) {
        const QString line = identifier(rng, 1 + std::int64_t(rng.below(400'000))) + u'|' + title(rng);
        s.sections.push_back(line.toUtf8());
        s.sectionsFile += line.toUtf8() + "\r\n";
    }
    for (int i = 0; i < forumCount; ++i) {
        const QString line = identifier(rng, 1 + std::int64_t(rng.below(1'500'000))) + u'|'
            + identifier(rng, 1 + std::int64_t(rng.below(400'000))) + u'|' + title(rng);
        s.forums.push_back(line.toUtf8());
        s.forumsFile += line.toUtf8() + "\r\n";
    }
    return s;
}

} // namespace

const SampleLines &sampleLines()
{
    static const SampleLines lines = make();
    return lines;
}

const QString &scratchProgramDirectory()
{
    static std::unique_ptr<QTemporaryDir> dir;
    static QString path;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        if (!dir->isValid() || !QFile::copy(QStringLiteral(REINDEX_TEST_DATABASE), dir->filePath(QStringLiteral("Database.mdb")))) {
            std::fprintf(stderr, "micro: cannot copy %s into a temporary folder\n", REINDEX_TEST_DATABASE);
            std::exit(1);
        }
        // A copy keeps the source's permissions; the session writes to it.
        QFile::setPermissions(dir->filePath(QStringLiteral("Database.mdb")),
                              QFile::ReadOwner | QFile::WriteOwner);
        path = dir->path() + u'/';
        for (const auto &[name, bytes] : {std::pair{"sections.txt", sampleLines().sectionsFile},
                                          std::pair{"forums.txt", sampleLines().forumsFile}}) {
            QFile f(dir->filePath(QString::fromLatin1(name)));
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
                std::fprintf(stderr, "micro: cannot write %s\n", name);
                std::exit(1);
            }
        }
    }
    return path;
}

} // namespace micro
