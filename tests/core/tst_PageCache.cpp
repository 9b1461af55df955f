#include <db/PageCache.h>

#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using db::PageCache;
using Handle = sqlite3_pcache_page;

namespace {

// What a page of seed `seed` holds at byte i: never zero, so that an area
// cleared by mistake can never pass for one still intact, and different for
// the content and the extra bytes, so that the two cannot stand in for each
// other.
quint8 patternByte(unsigned seed, std::size_t i, bool extra)
{
    quint32 x = (seed * 0x9E3779B1u) ^ (quint32(i) * 0x85EBCA77u) ^ (extra ? 0xC2B2AE3Du : 0u);
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return quint8(x | 1);
}

void stamp(Handle *page, unsigned seed, int pageSize, int extraSize)
{
    auto *buf = static_cast<quint8 *>(page->pBuf);
    auto *extra = static_cast<quint8 *>(page->pExtra);
    for (int i = 0; i < pageSize; ++i)
        buf[i] = patternByte(seed, std::size_t(i), false);
    for (int i = 0; i < extraSize; ++i)
        extra[i] = patternByte(seed, std::size_t(i), true);
}

bool bears(const Handle *page, unsigned seed, int pageSize, int extraSize)
{
    const auto *buf = static_cast<const quint8 *>(page->pBuf);
    const auto *extra = static_cast<const quint8 *>(page->pExtra);
    for (int i = 0; i < pageSize; ++i) {
        if (buf[i] != patternByte(seed, std::size_t(i), false))
            return false;
    }
    for (int i = 0; i < extraSize; ++i) {
        if (extra[i] != patternByte(seed, std::size_t(i), true))
            return false;
    }
    return true;
}

bool extraIsZero(const Handle *page, int extraSize)
{
    const auto *extra = static_cast<const quint8 *>(page->pExtra);
    return std::all_of(extra, extra + extraSize, [](quint8 b) { return b == 0; });
}

// As the engine asks for a page it must have: easily first, then insisting.
Handle *acquire(PageCache &cache, unsigned key)
{
    if (Handle *page = cache.fetch(key, 1))
        return page;
    return cache.fetch(key, 2);
}

// ---- the engine with the cache in place -----------------------------------

struct Row
{
    std::string tag;
    std::string body;
};
using Model = std::map<qint64, Row>;

class Scratch
{
public:
    explicit Scratch(const QString &path)
    {
        open_ = sqlite3_open_v2(path.toUtf8().constData(), &h_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
            == SQLITE_OK;
    }
    ~Scratch()
    {
        for (auto &[sql, st] : statements_)
            sqlite3_finalize(st);
        sqlite3_close(h_);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    bool isOpen() const { return open_; }
    sqlite3 *handle() const { return h_; }
    QByteArray error() const { return sqlite3_errmsg(h_); }

    bool exec(const QByteArray &sql) { return sqlite3_exec(h_, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK; }

    // The first column of the first row, as text; empty on failure.
    QByteArray value(const QByteArray &sql)
    {
        sqlite3_stmt *st = nullptr;
        QByteArray out;
        if (sqlite3_prepare_v2(h_, sql.constData(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            out = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return out;
    }

    // Prepared once for the connection and reset for each use, as the
    // program's own statements are.
    sqlite3_stmt *statement(const QByteArray &sql)
    {
        sqlite3_stmt *&st = statements_[sql];
        if (!st && sqlite3_prepare_v2(h_, sql.constData(), -1, &st, nullptr) != SQLITE_OK)
            return nullptr;
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        return st;
    }

private:
    sqlite3 *h_ = nullptr;
    bool open_ = false;
    std::map<QByteArray, sqlite3_stmt *> statements_;
};

// Rows large and varied enough that a few tens of thousands fill thousands of
// pages, a share of them spilling onto overflow chains.
class Rows
{
public:
    explicit Rows(quint32 seed) : rng_(seed) {}

    Row next()
    {
        Row row;
        row.tag = text(6 + pick(10));
        row.body = text(pick(40) == 0 ? 3000 + pick(9000) : 80 + pick(600));
        return row;
    }
    std::size_t pick(std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(rng_); }
    std::mt19937 &engine() { return rng_; }

private:
    std::string text(std::size_t length)
    {
        std::string out(length, ' ');
        for (char &c : out)
            c = char('a' + pick(26));
        return out;
    }
    std::mt19937 rng_;
};

} // namespace

class tst_PageCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void keepsContentAndExtra_data();
    void keepsContentAndExtra();
    void operationsLeaveTheRightPages_data();
    void operationsLeaveTheRightPages();
    void newPageHasZeroExtra_data();
    void newPageHasZeroExtra();
    void easyFetchRefusesWhenNearlyAllPinned_data();
    void easyFetchRefusesWhenNearlyAllPinned();
    void recyclesWithinCapacity_data();
    void recyclesWithinCapacity();
    void recentlyUsedPagesOutliveUnusedOnes_data();
    void recentlyUsedPagesOutliveUnusedOnes();
    void nonPurgeableCacheNeverEvicts_data();
    void nonPurgeableCacheNeverEvicts();

    void engineKeepsEveryRow_data();
    void engineKeepsEveryRow();

private:
    void compare(Scratch &db, const QByteArray &table, const Model &model);
    void checkIntegrity(Scratch &db, const QByteArray &schema);
    void insert(Scratch &db, const QByteArray &table, Model &model, Rows &rows, qint64 id);
    void update(Scratch &db, const QByteArray &table, Model &model, Rows &rows, qint64 id);
    void remove(Scratch &db, const QByteArray &table, Model &model, qint64 id);
    void changeSome(Scratch &db, const QByteArray &table, Model &model, Rows &rows, int updates, int deletes,
                    int inserts);
};

void tst_PageCache::initTestCase()
{
    // The engine takes a page cache only before its first use in the process:
    // nothing in this test may touch it earlier.
    qunsetenv("REINDEX_BUILTIN_PAGE_CACHE");
    QVERIFY(PageCache::install());
    QVERIFY(PageCache::isInstalled());
}

// ---- the class driven directly --------------------------------------------

void tst_PageCache::keepsContentAndExtra_data()
{
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("extraSize");
    QTest::addColumn<bool>("purgeable");

    QTest::newRow("small pages") << 512 << 8 << true;
    QTest::newRow("extra not a multiple of eight") << 4096 << 121 << true;
    QTest::newRow("largest pages, largest extra") << 65536 << 249 << true;
    QTest::newRow("in memory") << 4096 << 136 << false;
}

void tst_PageCache::keepsContentAndExtra()
{
    QFETCH(int, pageSize);
    QFETCH(int, extraSize);
    QFETCH(bool, purgeable);
    PageCache cache(pageSize, extraSize, purgeable);
    cache.setCapacity(100);
    // Across the boundaries of the table that finds pages by number.
    const std::vector<unsigned> keys{1, 2, 3, 1023, 1024, 1025, 2048, 99999};
    std::map<unsigned, Handle *> handles;
    for (unsigned key : keys) {
        Handle *page = cache.fetch(key, 1);
        QVERIFY(page);
        QVERIFY(page->pBuf && page->pExtra);
        stamp(page, key, pageSize, extraSize);
        handles[key] = page;
    }
    // A memory cache's pages stay pinned until the engine deletes them.
    if (purgeable) {
        for (std::size_t i = 0; i < keys.size(); i += 2)
            cache.unpin(handles[keys[i]], false);
    }
    QCOMPARE(cache.pageCount(), int(keys.size()));
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        Handle *page = cache.fetch(*key, 0);
        QCOMPARE(page, handles[*key]);
        QVERIFY2(bears(page, *key, pageSize, extraSize), qPrintable(QString::number(*key)));
    }
    QCOMPARE(cache.pinnedCount(), int(keys.size()));
}

void tst_PageCache::operationsLeaveTheRightPages_data()
{
    // Every case starts from pages 1, 2 and 1500 pinned, 3, 1024 and 70000
    // unpinned, each bearing its own number, with room for a hundred. "held"
    // lists the pages left, "key=seed" for one bearing another's content.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("held");
    QTest::addColumn<int>("pinned");

    QTest::newRow("nothing done") << "" << "1 2 1500 3 1024 70000" << 3;
    QTest::newRow("unpin keeps the page") << "unpin 1" << "1 2 1500 3 1024 70000" << 2;
    QTest::newRow("fetch pins an unpinned page") << "fetch 3; shrink" << "1 2 1500 3" << 4;
    QTest::newRow("one unpin undoes any number of fetches")
        << "fetch 1; fetch 1; unpin 1; shrink" << "2 1500" << 2;
    QTest::newRow("discard drops a pinned page") << "discard 2" << "1 1500 3 1024 70000" << 2;
    QTest::newRow("discard after a second fetch") << "fetch 1024; discard 1024" << "1 2 1500 3 70000" << 3;
    QTest::newRow("capacity lowered below the pinned pages") << "capacity 2" << "1 2 1500" << 3;
    QTest::newRow("capacity lowered to zero") << "capacity 0" << "1 2 1500" << 3;
    QTest::newRow("capacity lowered to the page count") << "capacity 6" << "1 2 1500 3 1024 70000" << 3;
    QTest::newRow("unpinned beyond a lowered capacity") << "capacity 2; unpin 2" << "1 1500" << 2;
    QTest::newRow("rekey to a free number") << "rekey 2 9" << "1 9=2 1500 3 1024 70000" << 3;
    QTest::newRow("rekey into another part of the table") << "rekey 1 5000" << "5000=1 2 1500 3 1024 70000" << 3;
    QTest::newRow("rekey onto an unpinned page") << "rekey 2 1024" << "1 1500 3 1024=2 70000" << 3;
    QTest::newRow("rekey there and back") << "rekey 2 9; rekey 9 2" << "1 2 1500 3 1024 70000" << 3;
    QTest::newRow("rekey then discard") << "rekey 1500 4; discard 4" << "1 2 3 1024 70000" << 2;
    QTest::newRow("truncate drops pinned pages too") << "truncate 1024" << "1 2 3" << 2;
    QTest::newRow("truncate at the first page") << "truncate 1" << "" << 0;
    QTest::newRow("truncate at the last page") << "truncate 70000" << "1 2 1500 3 1024" << 3;
    QTest::newRow("truncate above every page") << "truncate 70001" << "1 2 1500 3 1024 70000" << 3;
    QTest::newRow("truncate after a rekey") << "rekey 1 3000; truncate 2000" << "2 1500 3 1024" << 2;
    QTest::newRow("shrink drops every unpinned page") << "shrink" << "1 2 1500" << 3;
    QTest::newRow("shrink after unpinning") << "unpin 1500; unpin 1; shrink" << "2" << 1;
}

void tst_PageCache::operationsLeaveTheRightPages()
{
    QFETCH(QString, script);
    QFETCH(QString, held);
    QFETCH(int, pinned);
    constexpr int pageSize = 512;
    constexpr int extraSize = 40;
    PageCache cache(pageSize, extraSize, true);
    cache.setCapacity(100);
    std::map<unsigned, Handle *> handles;
    std::set<unsigned> probes;
    for (unsigned key : {1u, 2u, 1500u, 3u, 1024u, 70000u}) {
        Handle *page = cache.fetch(key, 1);
        QVERIFY(page);
        stamp(page, key, pageSize, extraSize);
        handles[key] = page;
        probes.insert(key);
    }
    for (unsigned key : {3u, 1024u, 70000u})
        cache.unpin(handles[key], false);

    for (const QString &step : script.split(u';', Qt::SkipEmptyParts)) {
        const QStringList words = step.simplified().split(u' ');
        const unsigned a = words.value(1).toUInt();
        const unsigned b = words.value(2).toUInt();
        probes.insert(a);
        probes.insert(b);
        if (words[0] == u"fetch") {
            Handle *page = cache.fetch(a, 0);
            QCOMPARE(page, handles[a]);
        } else if (words[0] == u"unpin") {
            cache.unpin(handles[a], false);
        } else if (words[0] == u"discard") {
            cache.unpin(handles[a], true);
        } else if (words[0] == u"capacity") {
            cache.setCapacity(int(a));
        } else if (words[0] == u"rekey") {
            cache.rekey(handles[a], a, b);
            handles[b] = handles[a];
        } else if (words[0] == u"truncate") {
            cache.truncate(a);
        } else if (words[0] == u"shrink") {
            cache.shrink();
        } else {
            QFAIL(qPrintable(step));
        }
    }

    std::map<unsigned, unsigned> expected;
    for (const QString &word : held.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = word.split(u'=');
        expected[parts[0].toUInt()] = parts.value(1, parts[0]).toUInt();
        probes.insert(parts[0].toUInt());
    }
    probes.erase(0);
    QCOMPARE(cache.pageCount(), int(expected.size()));
    QCOMPARE(cache.pinnedCount(), pinned);
    for (unsigned key : probes) {
        const auto it = expected.find(key);
        Handle *page = cache.fetch(key, 0);
        if (it == expected.end()) {
            QVERIFY2(!page, qPrintable(QStringLiteral("page %1 still held").arg(key)));
        } else {
            QVERIFY2(page, qPrintable(QStringLiteral("page %1 lost").arg(key)));
            QVERIFY2(bears(page, it->second, pageSize, extraSize),
                     qPrintable(QStringLiteral("page %1 not bearing %2").arg(key).arg(it->second)));
        }
    }
    // Asking without leave to create made nothing.
    QCOMPARE(cache.pageCount(), int(expected.size()));
}

enum class Loss { Discarded, Recycled, Truncated, Shrunk, CapacityLowered, Replaced };

void tst_PageCache::newPageHasZeroExtra_data()
{
    QTest::addColumn<Loss>("loss");

    QTest::newRow("discarded") << Loss::Discarded;
    QTest::newRow("recycled at capacity") << Loss::Recycled;
    QTest::newRow("truncated while pinned") << Loss::Truncated;
    QTest::newRow("shrunk away") << Loss::Shrunk;
    QTest::newRow("dropped by a lower capacity") << Loss::CapacityLowered;
    QTest::newRow("replaced by a rekey") << Loss::Replaced;
}

void tst_PageCache::newPageHasZeroExtra()
{
    QFETCH(Loss, loss);
    constexpr int pageSize = 1024;
    constexpr int extraSize = 121;
    constexpr unsigned count = 8;
    PageCache cache(pageSize, extraSize, true);
    cache.setCapacity(loss == Loss::Recycled ? int(count) : 1000);
    // Memory once given to the engine and filled by it, then lost in every way
    // a page can be; whatever takes its place must look new to the engine.
    std::vector<Handle *> pages;
    for (unsigned key = 1; key <= count; ++key) {
        Handle *page = acquire(cache, key);
        QVERIFY(page);
        QVERIFY(extraIsZero(page, extraSize));
        stamp(page, key, pageSize, extraSize);
        pages.push_back(page);
    }
    unsigned firstNew = 1;
    switch (loss) {
    case Loss::Discarded:
        for (Handle *page : pages)
            cache.unpin(page, true);
        break;
    case Loss::Recycled:
        for (Handle *page : pages)
            cache.unpin(page, false);
        firstNew = count + 1;
        break;
    case Loss::Truncated:
        cache.truncate(1);
        break;
    case Loss::Shrunk:
        for (Handle *page : pages)
            cache.unpin(page, false);
        cache.shrink();
        break;
    case Loss::CapacityLowered:
        for (Handle *page : pages)
            cache.unpin(page, false);
        cache.setCapacity(0);
        break;
    case Loss::Replaced:
        // Each page in turn moved onto the number of an unpinned one.
        for (unsigned key = 2; key <= count; key += 2) {
            cache.unpin(pages[key - 1], false);
            cache.rekey(pages[key - 2], key - 1, key);
        }
        for (unsigned key = 2; key <= count; key += 2)
            cache.unpin(pages[key - 2], true);
        break;
    }
    if (loss != Loss::Recycled)
        QCOMPARE(cache.pageCount(), 0);
    for (unsigned key = firstNew; key < firstNew + count; ++key) {
        Handle *page = acquire(cache, key);
        QVERIFY(page);
        QVERIFY2(extraIsZero(page, extraSize), qPrintable(QString::number(key)));
        stamp(page, key, pageSize, extraSize);
        cache.unpin(page, false);
    }
    QVERIFY(cache.pageCount() <= int(count));
}

void tst_PageCache::easyFetchRefusesWhenNearlyAllPinned_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("unpinned");

    QTest::newRow("ten") << 10 << 0;
    QTest::newRow("twenty") << 20 << 0;
    QTest::newRow("a hundred") << 100 << 0;
    QTest::newRow("ten, half unpinned first") << 10 << 5;
    QTest::newRow("a hundred, full of unpinned first") << 100 << 100;
}

void tst_PageCache::easyFetchRefusesWhenNearlyAllPinned()
{
    QFETCH(int, capacity);
    QFETCH(int, unpinned);
    constexpr int pageSize = 512;
    constexpr int extraSize = 16;
    PageCache cache(pageSize, extraSize, true);
    cache.setCapacity(capacity);
    for (int i = 0; i < unpinned; ++i) {
        Handle *page = acquire(cache, unsigned(10000 + i));
        QVERIFY(page);
        cache.unpin(page, false);
    }
    const unsigned nearlyAll = unsigned(capacity * 9 / 10);
    std::vector<Handle *> pinned;
    for (unsigned key = 1; key <= nearlyAll; ++key) {
        Handle *page = cache.fetch(key, 1);
        QVERIFY2(page, qPrintable(QString::number(key)));
        stamp(page, key, pageSize, extraSize);
        pinned.push_back(page);
    }
    QCOMPARE(cache.pinnedCount(), int(nearlyAll));

    const int held = cache.pageCount();
    QVERIFY(!cache.fetch(nearlyAll + 1, 1));
    QVERIFY(!cache.fetch(nearlyAll + 1, 0));
    QCOMPARE(cache.pageCount(), held);
    // Insisting still gets a page, and the pinned ones are untouched.
    Handle *insisted = cache.fetch(nearlyAll + 1, 2);
    QVERIFY(insisted);
    QVERIFY(extraIsZero(insisted, extraSize));
    for (unsigned key = 1; key <= nearlyAll; ++key)
        QVERIFY2(bears(pinned[key - 1], key, pageSize, extraSize), qPrintable(QString::number(key)));

    // Below the mark again, an easy fetch succeeds.
    cache.unpin(insisted, false);
    QVERIFY(!cache.fetch(nearlyAll + 2, 1));
    cache.unpin(pinned.back(), false);
    QVERIFY(cache.fetch(nearlyAll + 2, 1));
}

void tst_PageCache::recyclesWithinCapacity_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("pinned");

    QTest::newRow("none") << 0 << 0;
    QTest::newRow("one") << 1 << 0;
    QTest::newRow("two") << 2 << 0;
    QTest::newRow("five") << 5 << 0;
    QTest::newRow("sixty-four") << 64 << 0;
    QTest::newRow("eight, three held pinned") << 8 << 3;
    QTest::newRow("eight, seven held pinned") << 8 << 7;
    QTest::newRow("four, six held pinned") << 4 << 6;
}

void tst_PageCache::recyclesWithinCapacity()
{
    QFETCH(int, capacity);
    QFETCH(int, pinned);
    constexpr int pageSize = 512;
    constexpr int extraSize = 24;
    PageCache cache(pageSize, extraSize, true);
    cache.setCapacity(capacity);
    std::vector<Handle *> kept;
    for (unsigned key = 1; key <= unsigned(pinned); ++key) {
        Handle *page = acquire(cache, key);
        QVERIFY(page);
        stamp(page, key, pageSize, extraSize);
        kept.push_back(page);
    }
    // Read through, as a scan does: each page used once and let go.
    const unsigned first = unsigned(pinned) + 1;
    const unsigned last = first + unsigned(4 * capacity + 20);
    for (unsigned key = first; key <= last; ++key) {
        Handle *page = acquire(cache, key);
        QVERIFY(page);
        stamp(page, key, pageSize, extraSize);
        cache.unpin(page, false);
        QVERIFY2(cache.pageCount() <= std::max(capacity, pinned),
                 qPrintable(QStringLiteral("%1 pages after page %2").arg(cache.pageCount()).arg(key)));
    }
    // It really caches: taking the last free place may already recycle, as
    // the engine's own cache does, but no more room than that goes unused.
    QVERIFY(cache.pageCount() >= std::max(capacity - 1, pinned));
    QCOMPARE(cache.pinnedCount(), pinned);
    for (unsigned key = 1; key <= unsigned(pinned); ++key)
        QVERIFY2(bears(kept[key - 1], key, pageSize, extraSize), qPrintable(QString::number(key)));
    if (capacity > pinned) {
        Handle *newest = cache.fetch(last, 0);
        QVERIFY(newest);
        QVERIFY(bears(newest, last, pageSize, extraSize));
    }
    int found = 0;
    for (unsigned key = 1; key <= last; ++key) {
        if (Handle *page = cache.fetch(key, 0)) {
            ++found;
            QVERIFY2(bears(page, key, pageSize, extraSize), qPrintable(QString::number(key)));
        }
    }
    QCOMPARE(found, cache.pageCount());
}

void tst_PageCache::recentlyUsedPagesOutliveUnusedOnes_data()
{
    QTest::addColumn<int>("capacity");

    QTest::newRow("four") << 4;
    QTest::newRow("nine") << 9;
    QTest::newRow("thirty-three") << 33;
    QTest::newRow("two hundred") << 200;
}

void tst_PageCache::recentlyUsedPagesOutliveUnusedOnes()
{
    QFETCH(int, capacity);
    constexpr int pageSize = 512;
    constexpr int extraSize = 24;
    PageCache cache(pageSize, extraSize, true);
    cache.setCapacity(capacity);
    // Fill until the first page is recycled: the oldest, never used again.
    unsigned key = 0;
    int full = -1;
    while (full < 0 && key < unsigned(4 * capacity)) {
        const int before = cache.pageCount();
        Handle *page = acquire(cache, ++key);
        QVERIFY(page);
        stamp(page, key, pageSize, extraSize);
        cache.unpin(page, false);
        if (cache.pageCount() == before)
            full = before;
    }
    QVERIFY(full >= 3);
    QVERIFY(!cache.fetch(1, 0));

    // Use every other page, then bring in as many new ones as were left unused.
    std::vector<unsigned> used;
    std::vector<unsigned> unused;
    for (unsigned old = 2; old < key; ++old)
        ((old % 2 == 0) ? used : unused).push_back(old);
    for (unsigned old : used) {
        Handle *page = cache.fetch(old, 0);
        QVERIFY2(page, qPrintable(QString::number(old)));
        cache.unpin(page, false);
    }
    const unsigned lastOld = key;
    for (std::size_t i = 0; i < unused.size(); ++i) {
        Handle *page = acquire(cache, ++key);
        QVERIFY(page);
        stamp(page, key, pageSize, extraSize);
        cache.unpin(page, false);
    }
    QCOMPARE(cache.pageCount(), full);
    // Absent first: looking at a page that is there counts as using it.
    for (unsigned old : unused)
        QVERIFY2(!cache.fetch(old, 0), qPrintable(QStringLiteral("unused page %1 kept").arg(old)));
    for (unsigned old : used) {
        Handle *page = cache.fetch(old, 0);
        QVERIFY2(page, qPrintable(QStringLiteral("used page %1 dropped").arg(old)));
        QVERIFY(bears(page, old, pageSize, extraSize));
    }
    for (unsigned newer = lastOld; newer <= key; ++newer)
        QVERIFY2(cache.fetch(newer, 0), qPrintable(QStringLiteral("new page %1 dropped").arg(newer)));
}

void tst_PageCache::nonPurgeableCacheNeverEvicts_data()
{
    QTest::addColumn<int>("capacity");

    QTest::newRow("none") << 0;
    QTest::newRow("ten") << 10;
}

void tst_PageCache::nonPurgeableCacheNeverEvicts()
{
    QFETCH(int, capacity);
    constexpr int pageSize = 1024;
    constexpr int extraSize = 48;
    PageCache cache(pageSize, extraSize, false);
    cache.setCapacity(capacity);
    // The pages of an in-memory database: the only copy of their content.
    const unsigned count = unsigned(3 * capacity + 50);
    std::vector<Handle *> pages;
    for (unsigned key = 1; key <= count; ++key) {
        Handle *page = cache.fetch(key, 1);
        QVERIFY2(page, qPrintable(QString::number(key)));
        stamp(page, key, pageSize, extraSize);
        pages.push_back(page);
    }
    cache.setCapacity(1);
    cache.shrink();
    QCOMPARE(cache.pageCount(), int(count));
    for (unsigned key = 1; key <= count; ++key) {
        QCOMPARE(cache.fetch(key, 0), pages[key - 1]);
        QVERIFY2(bears(pages[key - 1], key, pageSize, extraSize), qPrintable(QString::number(key)));
    }
    for (Handle *page : pages)
        cache.unpin(page, true);
    QCOMPARE(cache.pageCount(), 0);
    QCOMPARE(cache.pinnedCount(), 0);
}

// ---- the engine with the cache in place -----------------------------------

#define CHECKED(call)                                                                                                 \
    do {                                                                                                              \
        call;                                                                                                         \
        if (QTest::currentTestFailed())                                                                               \
            return;                                                                                                   \
    } while (false)

void tst_PageCache::compare(Scratch &db, const QByteArray &table, const Model &model)
{
    sqlite3_stmt *st = db.statement("SELECT id, tag, body FROM " + table + " ORDER BY id");
    QVERIFY2(st, db.error());
    auto expected = model.begin();
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(st, 0);
        QVERIFY2(expected != model.end(), qPrintable(QStringLiteral("row %1 not expected").arg(id)));
        QCOMPARE(id, expected->first);
        const std::string tag(reinterpret_cast<const char *>(sqlite3_column_text(st, 1)), sqlite3_column_bytes(st, 1));
        const std::string body(reinterpret_cast<const char *>(sqlite3_column_text(st, 2)),
                               sqlite3_column_bytes(st, 2));
        QVERIFY2(tag == expected->second.tag, qPrintable(QStringLiteral("tag of row %1").arg(id)));
        QVERIFY2(body == expected->second.body, qPrintable(QStringLiteral("body of row %1").arg(id)));
        ++expected;
    }
    QVERIFY2(rc == SQLITE_DONE, db.error());
    if (expected != model.end())
        QFAIL(qPrintable(QStringLiteral("row %1 missing").arg(expected->first)));
    // Through the index as well: each tag finds its row.
    QCOMPARE(db.value("SELECT count(*) FROM " + table + " INDEXED BY t_tag WHERE tag >= ''").toLongLong(),
             qint64(model.size()));
}

void tst_PageCache::checkIntegrity(Scratch &db, const QByteArray &schema)
{
    QCOMPARE(db.value("PRAGMA " + schema + ".integrity_check"), QByteArray("ok"));
}

void tst_PageCache::insert(Scratch &db, const QByteArray &table, Model &model, Rows &rows, qint64 id)
{
    Row row = rows.next();
    sqlite3_stmt *st = db.statement("INSERT INTO " + table + "(id, tag, body) VALUES (?, ?, ?)");
    QVERIFY2(st, db.error());
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_text(st, 2, row.tag.data(), int(row.tag.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, row.body.data(), int(row.body.size()), SQLITE_TRANSIENT);
    QVERIFY2(sqlite3_step(st) == SQLITE_DONE, db.error());
    model[id] = std::move(row);
}

void tst_PageCache::update(Scratch &db, const QByteArray &table, Model &model, Rows &rows, qint64 id)
{
    Row row = rows.next();
    sqlite3_stmt *st = db.statement("UPDATE " + table + " SET tag = ?, body = ? WHERE id = ?");
    QVERIFY2(st, db.error());
    sqlite3_bind_text(st, 1, row.tag.data(), int(row.tag.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, row.body.data(), int(row.body.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 3, id);
    QVERIFY2(sqlite3_step(st) == SQLITE_DONE, db.error());
    QCOMPARE(sqlite3_changes(db.handle()), 1);
    model[id] = std::move(row);
}

void tst_PageCache::remove(Scratch &db, const QByteArray &table, Model &model, qint64 id)
{
    sqlite3_stmt *st = db.statement("DELETE FROM " + table + " WHERE id = ?");
    QVERIFY2(st, db.error());
    sqlite3_bind_int64(st, 1, id);
    QVERIFY2(sqlite3_step(st) == SQLITE_DONE, db.error());
    QCOMPARE(sqlite3_changes(db.handle()), 1);
    model.erase(id);
}

// Updates and deletes rows picked at random among those there, and inserts
// new ones at random places between them.
void tst_PageCache::changeSome(Scratch &db, const QByteArray &table, Model &model, Rows &rows, int updates,
                               int deletes, int inserts)
{
    std::vector<qint64> ids;
    for (const auto &entry : model)
        ids.push_back(entry.first);
    std::shuffle(ids.begin(), ids.end(), rows.engine());
    QVERIFY(ids.size() >= std::size_t(updates + deletes));
    for (int i = 0; i < updates; ++i)
        CHECKED(update(db, table, model, rows, ids[std::size_t(i)]));
    for (int i = 0; i < deletes; ++i)
        CHECKED(remove(db, table, model, ids[std::size_t(updates + i)]));
    for (int i = 0; i < inserts; ++i) {
        qint64 id;
        do
            id = qint64(1 + rows.pick(1000000));
        while (model.count(id));
        CHECKED(insert(db, table, model, rows, id));
    }
}

void tst_PageCache::engineKeepsEveryRow_data()
{
    QTest::addColumn<bool>("onDisk");
    QTest::addColumn<QByteArray>("schema");
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<int>("cacheSize");
    QTest::addColumn<QByteArray>("autoVacuum");

    QTest::newRow("log, eight pages") << true << QByteArray("main") << QByteArray("wal") << 8 << QByteArray("none");
    QTest::newRow("log, no pages, vacuum on commit")
        << true << QByteArray("main") << QByteArray("wal") << 0 << QByteArray("full");
    QTest::newRow("log, 64 KiB, vacuum on demand")
        << true << QByteArray("main") << QByteArray("wal") << -64 << QByteArray("incremental");
    QTest::newRow("journal, eight pages, vacuum on commit")
        << true << QByteArray("main") << QByteArray("delete") << 8 << QByteArray("full");
    QTest::newRow("journal, no pages") << true << QByteArray("main") << QByteArray("delete") << 0 << QByteArray("none");
    QTest::newRow("journal, 64 KiB, vacuum on demand")
        << true << QByteArray("main") << QByteArray("truncate") << -64 << QByteArray("incremental");
    // Pages kept nowhere but in the cache.
    QTest::newRow("memory database, vacuum on commit")
        << false << QByteArray("main") << QByteArray("memory") << 8 << QByteArray("full");
    QTest::newRow("temporary table in memory, vacuum on demand")
        << true << QByteArray("temp") << QByteArray() << 8 << QByteArray("incremental");
}

void tst_PageCache::engineKeepsEveryRow()
{
    QFETCH(bool, onDisk);
    QFETCH(QByteArray, schema);
    QFETCH(QByteArray, journal);
    QFETCH(int, cacheSize);
    QFETCH(QByteArray, autoVacuum);
    constexpr int initialRows = 20000;

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = onDisk ? dir.filePath(QStringLiteral("scratch.db")) : QStringLiteral(":memory:");
    Model model;
    Rows rows(20240611);
    const QByteArray table = schema + ".t";
    {
        Scratch db(path);
        QVERIFY2(db.isOpen(), db.error());
        if (schema == "temp")
            QVERIFY2(db.exec("PRAGMA temp_store = MEMORY"), db.error());
        QVERIFY2(db.exec("PRAGMA " + schema + ".auto_vacuum = " + autoVacuum), db.error());
        if (!journal.isEmpty())
            QCOMPARE(db.value("PRAGMA " + schema + ".journal_mode = " + journal), journal);
        QVERIFY2(db.exec("PRAGMA " + schema + ".cache_size = " + QByteArray::number(cacheSize)), db.error());
        QVERIFY2(db.exec("PRAGMA " + schema + ".synchronous = OFF"), db.error());
        QVERIFY2(db.exec("CREATE TABLE " + table + "(id INTEGER PRIMARY KEY, tag TEXT NOT NULL, body TEXT NOT NULL)"),
                 db.error());
        QVERIFY2(db.exec("CREATE INDEX " + schema + ".t_tag ON t(tag)"), db.error());

        // Rows arrive in no order, a few thousand to a transaction.
        std::vector<qint64> ids(initialRows);
        for (int i = 0; i < initialRows; ++i)
            ids[std::size_t(i)] = qint64(i) * 37 + 1;
        std::shuffle(ids.begin(), ids.end(), rows.engine());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (i % 5000 == 0)
                QVERIFY2(db.exec("BEGIN"), db.error());
            CHECKED(insert(db, table, model, rows, ids[i]));
            if (i % 5000 == 4999 || i + 1 == ids.size())
                QVERIFY2(db.exec("COMMIT"), db.error());
        }
        sqlite3_db_release_memory(db.handle());
        CHECKED(compare(db, table, model));

        // Every row rewritten, in random order, some growing onto overflow
        // pages and some shrinking off them.
        std::shuffle(ids.begin(), ids.end(), rows.engine());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (i % 4000 == 0)
                QVERIFY2(db.exec("BEGIN"), db.error());
            CHECKED(update(db, table, model, rows, ids[i]));
            if (i % 4000 == 3999 || i + 1 == ids.size())
                QVERIFY2(db.exec("COMMIT"), db.error());
        }
        QVERIFY2(db.exec("BEGIN"), db.error());
        for (std::size_t i = 0; i < ids.size() / 3; ++i)
            CHECKED(remove(db, table, model, ids[i]));
        sqlite3_db_release_memory(db.handle());
        QVERIFY2(db.exec("COMMIT"), db.error());
        CHECKED(checkIntegrity(db, schema));
        CHECKED(compare(db, table, model));

        // Enough changes to spill to the file before they are undone; the
        // table grows meanwhile, so undoing shrinks it back.
        const Model before = model;
        QVERIFY2(db.exec("BEGIN"), db.error());
        CHECKED(changeSome(db, table, model, rows, 3000, 3000, 6000));
        sqlite3_db_release_memory(db.handle());
        CHECKED(compare(db, table, model));
        QVERIFY2(db.exec("ROLLBACK"), db.error());
        model = before;
        CHECKED(compare(db, table, model));
        CHECKED(checkIntegrity(db, schema));

        // Half a transaction undone, the other half kept.
        QVERIFY2(db.exec("BEGIN"), db.error());
        CHECKED(changeSome(db, table, model, rows, 1500, 1500, 1500));
        const Model kept = model;
        QVERIFY2(db.exec("SAVEPOINT half"), db.error());
        CHECKED(changeSome(db, table, model, rows, 2000, 2000, 4000));
        sqlite3_db_release_memory(db.handle());
        QVERIFY2(db.exec("ROLLBACK TO half"), db.error());
        model = kept;
        QVERIFY2(db.exec("RELEASE half"), db.error());
        QVERIFY2(db.exec("COMMIT"), db.error());
        if (autoVacuum == "incremental")
            QVERIFY2(db.exec("PRAGMA " + schema + ".incremental_vacuum"), db.error());
        sqlite3_db_release_memory(db.handle());
        CHECKED(checkIntegrity(db, schema));
        CHECKED(compare(db, table, model));
        // The vacuum really moved pages and cut the file short.
        if (autoVacuum != "none")
            QCOMPARE(db.value("PRAGMA " + schema + ".freelist_count"), QByteArray("0"));

        if (onDisk && schema == "main") {
            // Another connection changes the file, moving its end and its free
            // pages: whatever this one kept of the file must go, the first
            // page above all, before it reads and writes again.
            {
                Scratch other(path);
                QVERIFY2(other.isOpen(), other.error());
                QVERIFY2(other.exec("PRAGMA synchronous = OFF"), other.error());
                QVERIFY2(other.exec("BEGIN"), other.error());
                CHECKED(changeSome(other, table, model, rows, 1000, 2000, 4000));
                QVERIFY2(other.exec("COMMIT"), other.error());
            }
            CHECKED(compare(db, table, model));
            QVERIFY2(db.exec("BEGIN"), db.error());
            CHECKED(changeSome(db, table, model, rows, 500, 3000, 2000));
            QVERIFY2(db.exec("COMMIT"), db.error());
            CHECKED(checkIntegrity(db, schema));
            CHECKED(compare(db, table, model));
        } else {
            // Emptied, an in-memory database is cut short and its pages are
            // given back, though none of them was ever let go.
            int before = 0;
            int after = 0;
            int highest = 0;
            QCOMPARE(sqlite3_db_status(db.handle(), SQLITE_DBSTATUS_CACHE_USED, &before, &highest, 0), SQLITE_OK);
            QVERIFY2(db.exec("DELETE FROM " + table), db.error());
            if (autoVacuum == "incremental")
                QVERIFY2(db.exec("PRAGMA " + schema + ".incremental_vacuum"), db.error());
            model.clear();
            CHECKED(checkIntegrity(db, schema));
            CHECKED(compare(db, table, model));
            QVERIFY(db.value("PRAGMA " + schema + ".page_count").toInt() < 10);
            QCOMPARE(sqlite3_db_status(db.handle(), SQLITE_DBSTATUS_CACHE_USED, &after, &highest, 0), SQLITE_OK);
            QVERIFY2(after < before / 20, qPrintable(QStringLiteral("%1 bytes cached, %2 before").arg(after).arg(before)));
        }
    }
    if (onDisk && schema == "main") {
        // What reached the file, read by a connection that cached none of it.
        Scratch again(path);
        QVERIFY2(again.isOpen(), again.error());
        CHECKED(checkIntegrity(again, schema));
        CHECKED(compare(again, table, model));
    }
}

QTEST_GUILESS_MAIN(tst_PageCache)
#include "tst_PageCache.moc"
