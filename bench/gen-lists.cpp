// gen-lists: writes sample section and forum lists for timing the reindexer.
//
//   gen-lists SIZE OUTDIR     SIZE = small | medium | large | long
//
// Output is a pure function of SIZE: the generator carries its own PRNG and
// never touches std::random_device, the clock or the standard distributions
// (whose results differ between library implementations), so every machine
// produces byte-identical files and timings stay comparable. Each PRNG draw
// is a statement of its own: operands of "+" on strings are evaluated in
// an order the compiler is free to choose, and gcc and clang do differ.
//
// Every line is one the reindexer must accept: an integer identifier, the
// needed "|" separators, valid UTF-8, no CR/LF/NUL inside. The awkward but
// legal cases show up at a low rate so they ride along with the bulk load:
// a UTF-8 signature on sections.txt, identifiers written as "+42" or "0042",
// repeated section identifiers, forums pointing at no section, the 32-bit
// extremes, quotes, colons, backslashes, extra "|" in titles, empty titles.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Size {
    std::string_view name;
    std::uint32_t sections;
    std::uint32_t forums;
    // A title made of words has minWords + [0, wordSpread) of them. The draw
    // is the same single call for every size, so the sizes that keep 1 and 4
    // keep the bytes they have always had.
    std::uint32_t minWords = 1;
    std::uint32_t wordSpread = 4;
    // Told apart from a size of the same counts, so its identifiers and
    // sections are not those of that size with longer titles hung on.
    std::uint64_t seedSalt = 0;
};

constexpr Size kSizes[] = {
    {"small", 200, 5'000},
    {"medium", 10'000, 200'000},
    {"large", 100'000, 1'000'000},
    // The counts of large with lines about 75 bytes long instead of 44, to
    // see what is paid per byte rather than per line.
    {"long", 100'000, 1'000'000, 5, 4, 0x4C4F4E47},
};

// splitmix64: tiny, fast, and defined entirely by its own arithmetic.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // The modulo bias is below 2^-40 for the ranges used here; irrelevant for
    // sample data and keeps the sequence trivially reproducible.
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }

    // True with probability perMille / 1000.
    bool chance(unsigned perMille) { return below(1000) < perMille; }

    template <class T>
    const T& pick(const std::vector<T>& v) { return v[below(v.size())]; }

private:
    std::uint64_t state_;
};

const std::vector<std::string> kCyrillicPhrases = {
    "Новости форума", "Правила", "Вопросы и ответы", "Техническая поддержка",
    "Помощь новичкам", "Жалобы и предложения", "Объявления", "Флейм",
    "Куплю / продам", "Знакомства", "Обсуждение игр", "Архив",
};

const std::vector<std::string> kCyrillicWords = {
    "Новости", "форума", "Правила", "вопросы", "ответы", "Обсуждение", "Игры",
    "Музыка", "Кино", "Программирование", "Железо", "Софт", "Разное", "Архив",
    "Юмор", "Путешествия", "Авто", "Спорт", "Фотография", "ёлка", "Щука",
    "Эхо", "Жизнь", "сайта", "модераторов", "Беседка", "Ремонт", "Дача",
};

const std::vector<std::string> kLatinWords = {
    "News", "General", "Discussion", "Help", "Support", "Off-topic",
    "Announcements", "Games", "Music", "Movies", "Hardware", "Software",
    "Linux", "Windows", "Archive", "Feedback", "Trading", "Introductions",
    "Rules", "FAQ", "C++", "Qt", "SQL", "café", "naïve", "Zürich", "Straße",
    "100%", "under_score", "v2.0", "#general", "&more",
};

// Other scripts and 4-byte sequences, so byte and character counts differ.
const std::vector<std::string> kExotic = {
    "日本語", "Ελληνικά", "עברית", "العربية", "😀 smile", "Ω≈ç√", "€ 5",
};

const std::vector<std::string> kPrefixes = {
    "Тема: ", "Topic: ", "RE: ", "Вопрос: ", "Важно: ", "[Архив]: ",
};

const std::vector<std::string> kQuoted = {
    "O'Hara", "Rock'n'roll", "д'Артаньян", "it's", "'single'",
    "\"Лучшее\"", "\"Best of\"", "«ёлочки»", "\"\"",
    "`make install`", "`code`", "a::b", "std::vector", "Qt::Core", "::",
    "C:\\Temp", "back\\slash", "'; DROP TABLE forum; --",
};

std::string word(Rng& rng)
{
    return rng.chance(550) ? rng.pick(kCyrillicWords) : rng.pick(kLatinWords);
}

std::string title(Rng& rng, const Size& size)
{
    if (rng.chance(5))
        return {};

    std::string t;
    if (rng.chance(300)) {
        t = rng.pick(kCyrillicPhrases);
    } else {
        const auto count = size.minWords + rng.below(size.wordSpread);
        for (std::uint64_t i = 0; i < count; ++i) {
            if (i)
                t += ' ';
            t += word(rng);
        }
    }

    if (rng.chance(30))
        t = rng.pick(kPrefixes) + t;
    if (rng.chance(40))
        t += ' ' + rng.pick(kQuoted);
    if (rng.chance(10))
        t += ' ' + rng.pick(kExotic);
    if (rng.chance(25)) {
        // A title may hold any number of "|"; only the leading separators count.
        switch (rng.below(5)) {
        case 0: t += " | " + word(rng); break;
        case 1:
            t += "|" + word(rng);
            t += "|" + word(rng);
            break;
        case 2: t = "|" + t; break;
        case 3: t += "|"; break;
        default: t += " || "; t += word(rng); break;
        }
    }
    if (rng.chance(2)) {
        // Long titles, to keep any fixed-size buffer honest.
        const std::string base = t.empty() ? std::string("Длинное название") : t;
        while (t.size() < 600)
            t += " " + base;
    }
    return t;
}

// Mostly canonical decimal; now and then a form that must be read as the
// same integer, so lookups have to compare values rather than text.
std::string idText(Rng& rng, std::int64_t value)
{
    const std::string digits = std::to_string(value);
    if (value < 0 || !rng.chance(6))
        return digits;
    switch (rng.below(3)) {
    case 0: return "+" + digits;
    case 1: return "00" + digits;
    default: return "+0" + digits;
    }
}

// Fisher-Yates over 1..n, written out so the order never depends on the
// standard library in use.
std::vector<std::int64_t> shuffledRange(Rng& rng, std::uint32_t n)
{
    std::vector<std::int64_t> v(n);
    for (std::uint32_t i = 0; i < n; ++i)
        v[i] = i + 1;
    for (std::uint32_t i = n; i > 1; --i)
        std::swap(v[i - 1], v[rng.below(i)]);
    return v;
}

void appendLine(std::string& out, std::string_view line)
{
    out += line;
    out += "\r\n";
}

bool writeFile(const std::filesystem::path& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    f.close();
    if (!f) {
        std::cerr << "gen-lists: cannot write " << path.string() << '\n';
        return false;
    }
    return true;
}

int usage()
{
    std::cerr << "usage: gen-lists SIZE OUTDIR\n"
                 "  SIZE: small (200 sections / 5,000 forums),\n"
                 "        medium (10,000 / 200,000), large (100,000 / 1,000,000),\n"
                 "        long (as large, forum lines of 75 bytes on average)\n"
                 "  writes OUTDIR/sections.txt and OUTDIR/forums.txt\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return usage();

    const Size* size = nullptr;
    for (const auto& s : kSizes)
        if (s.name == argv[1])
            size = &s;
    if (!size)
        return usage();

    const std::filesystem::path outDir = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::cerr << "gen-lists: cannot create " << outDir.string() << ": " << ec.message() << '\n';
        return 1;
    }

    const std::uint32_t nSections = size->sections;
    const std::uint32_t nForums = size->forums;
    Rng rng(0x5EC7104F0E0D5EEDull ^ (std::uint64_t{nSections} << 32 | nForums) ^ size->seedSalt);

    // Section IDs: a sparse, shuffled subset of 1..4N, so numbering by file
    // position never coincides with the stored ID.
    std::vector<std::int64_t> sectionIds = shuffledRange(rng, nSections * 4);
    sectionIds.resize(nSections);
    const std::int64_t maxSectionId = std::int64_t{nSections} * 4;

    // The top of the 32-bit range must survive the round trip too.
    sectionIds[nSections / 2] = 2147483647;

    // About 0.5% of the lines repeat an earlier ID; forums of that ID must
    // end up with the number of the last such line.
    std::vector<bool> repeated(nSections, false);
    const std::uint32_t nRepeats = std::max<std::uint32_t>(2, nSections / 200);
    for (std::uint32_t k = 0; k < nRepeats; ++k)
        repeated[1 + rng.below(nSections - 1)] = true;
    repeated[nSections / 2] = false;
    for (std::uint32_t i = 1; i < nSections; ++i)
        if (repeated[i])
            sectionIds[i] = sectionIds[rng.below(i)];

    std::string sections;
    const std::size_t lineGuess = 48 + std::size_t{size->minWords - 1} * 7;
    sections.reserve(std::size_t{nSections} * lineGuess);
    sections += "\xEF\xBB\xBF"; // signature: the reader must skip it
    for (std::uint32_t i = 0; i < nSections; ++i) {
        // One padded ID is guaranteed even in the small list.
        const std::string id = i == nSections / 3 ? "+00" + std::to_string(sectionIds[i])
                                                  : idText(rng, sectionIds[i]);
        const std::string name = title(rng, *size);
        appendLine(sections, id + "|" + name);
    }

    // Forum IDs: unique, shuffled subset of 1..1.5M.
    std::vector<std::int64_t> forumIds = shuffledRange(rng, nForums + nForums / 2);
    forumIds.resize(nForums);

    std::string forums;
    forums.reserve(std::size_t{nForums} * (lineGuess + 8));
    for (std::uint32_t i = 0; i < nForums; ++i) {
        std::int64_t sectionId;
        if (rng.chance(10)) {
            // A section that no longer exists: beyond every generated ID,
            // zero (also written "-0"), negative, or the 32-bit minimum.
            switch (rng.below(10)) {
            case 0: sectionId = 0; break;
            case 1: sectionId = -1 - std::int64_t(rng.below(1000)); break;
            case 2: sectionId = -2147483648LL; break;
            default: sectionId = maxSectionId + 1 + std::int64_t(rng.below(maxSectionId)); break;
            }
        } else {
            sectionId = sectionIds[rng.below(nSections)];
        }
        const std::string id = idText(rng, forumIds[i]);
        std::string sid = idText(rng, sectionId);
        if (sectionId == 0 && rng.chance(500))
            sid = "-0";
        const std::string name = title(rng, *size);
        appendLine(forums, id + "|" + sid + "|" + name);
    }

    if (!writeFile(outDir / "sections.txt", sections) || !writeFile(outDir / "forums.txt", forums))
        return 1;

    std::cout << size->name << ": " << nSections << " sections, " << nForums << " forums -> "
              << outDir.string() << '\n';
    return 0;
}
