#include "PageCache.h"

#include <QtGlobal>

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace db {

struct PageCache::Page
{
    // First, so that the engine's handle and the page are one address.
    sqlite3_pcache_page handle;
    unsigned key;
    bool pinned;
    // Set by every fetch, cleared by the clock hand passing: a page is
    // evicted only when a whole sweep went by without its use.
    bool recent;
    std::size_t position;
};

namespace {

PageCache *cacheOf(sqlite3_pcache *cache)
{
    return reinterpret_cast<PageCache *>(cache);
}

int initialize(void *)
{
    return SQLITE_OK;
}

sqlite3_pcache *create(int pageSize, int extraSize, int purgeable)
{
    PageCache *cache = new (std::nothrow) PageCache(pageSize, extraSize, purgeable != 0);
    return reinterpret_cast<sqlite3_pcache *>(cache);
}

void setCapacity(sqlite3_pcache *cache, int pages)
{
    cacheOf(cache)->setCapacity(pages);
}

int pageCount(sqlite3_pcache *cache)
{
    return cacheOf(cache)->pageCount();
}

sqlite3_pcache_page *fetch(sqlite3_pcache *cache, unsigned key, int createFlag)
{
    return cacheOf(cache)->fetch(key, createFlag);
}

void unpin(sqlite3_pcache *cache, sqlite3_pcache_page *page, int discard)
{
    cacheOf(cache)->unpin(page, discard != 0);
}

void rekey(sqlite3_pcache *cache, sqlite3_pcache_page *page, unsigned oldKey, unsigned newKey)
{
    cacheOf(cache)->rekey(page, oldKey, newKey);
}

void truncate(sqlite3_pcache *cache, unsigned limit)
{
    cacheOf(cache)->truncate(limit);
}

void destroy(sqlite3_pcache *cache)
{
    delete cacheOf(cache);
}

void shrink(sqlite3_pcache *cache)
{
    cacheOf(cache)->shrink();
}

bool installedFlag = false;

} // namespace

bool PageCache::install()
{
    static const bool result = [] {
        if (qEnvironmentVariableIntValue("REINDEX_BUILTIN_PAGE_CACHE") == 1)
            return false;
        sqlite3_pcache_methods2 methods{};
        methods.iVersion = 1;
        methods.xInit = initialize;
        methods.xCreate = create;
        methods.xCachesize = db::setCapacity;
        methods.xPagecount = db::pageCount;
        methods.xFetch = db::fetch;
        methods.xUnpin = db::unpin;
        methods.xRekey = db::rekey;
        methods.xTruncate = db::truncate;
        methods.xDestroy = destroy;
        methods.xShrink = db::shrink;
        // Refused once the engine has been initialized: then its own cache
        // stays, which is correct, only slower.
        return sqlite3_config(SQLITE_CONFIG_PCACHE2, &methods) == SQLITE_OK;
    }();
    installedFlag = result;
    return result;
}

bool PageCache::isInstalled() noexcept
{
    return installedFlag;
}

namespace {

constexpr std::size_t roundUp8(std::size_t n)
{
    return (n + 7) & ~std::size_t(7);
}

} // namespace

PageCache::PageCache(int pageSize, int extraSize, bool purgeable)
    : pageSize_(roundUp8(std::size_t(pageSize))), extraSize_(roundUp8(std::size_t(extraSize))), purgeable_(purgeable)
{
}

PageCache::~PageCache()
{
    for (Page *page : pages_)
        std::free(page->handle.pBuf);
}

void PageCache::setCapacity(int pages) noexcept
{
    capacity_ = std::size_t(qBound(0, pages, 0x7fff0000));
    // The engine is asked to write pages out once this many are pinned
    // (dirty pages stay pinned), rather than the cache growing past its size.
    nearlyFull_ = capacity_ * 9 / 10;
    enforceCapacity();
}

PageCache::Page *PageCache::find(unsigned key) const noexcept
{
    const std::size_t chunk = key >> chunkBits;
    if (chunk >= chunks_.size() || !chunks_[chunk])
        return nullptr;
    return chunks_[chunk][key & (chunkSize - 1)];
}

bool PageCache::index(Page *page) noexcept
{
    const std::size_t chunk = page->key >> chunkBits;
    try {
        if (chunk >= chunks_.size())
            chunks_.resize(chunk + 1);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!chunks_[chunk]) {
        chunks_[chunk].reset(new (std::nothrow) Page *[chunkSize]());
        if (!chunks_[chunk])
            return false;
    }
    chunks_[chunk][page->key & (chunkSize - 1)] = page;
    return true;
}

void PageCache::unindex(Page *page) noexcept
{
    const std::size_t chunk = page->key >> chunkBits;
    if (chunk < chunks_.size() && chunks_[chunk]) {
        Page *&slot = chunks_[chunk][page->key & (chunkSize - 1)];
        if (slot == page)
            slot = nullptr;
    }
}

PageCache::Page *PageCache::allocate() noexcept
{
    constexpr std::size_t headerSize = roundUp8(sizeof(Page));
    // The page's content, then this header, then the engine's: a fetch reads
    // the header and the engine's right after it, so they share a line.
    char *block = static_cast<char *>(std::malloc(pageSize_ + headerSize + extraSize_));
    if (!block)
        return nullptr;
    Page *page = new (block + pageSize_) Page{};
    page->handle.pBuf = block;
    page->handle.pExtra = block + pageSize_ + headerSize;
    try {
        page->position = pages_.size();
        pages_.push_back(page);
    } catch (const std::bad_alloc &) {
        std::free(block);
        return nullptr;
    }
    return page;
}

PageCache::Page *PageCache::takeUnpinned() noexcept
{
    if (pinned_ >= pages_.size())
        return nullptr;
    // Two turns at most: the first clears every recent mark it passes.
    const std::size_t count = pages_.size();
    for (std::size_t step = 0; step < 2 * count; ++step) {
        if (hand_ >= count)
            hand_ = 0;
        Page *page = pages_[hand_++];
        if (page->pinned)
            continue;
        if (page->recent) {
            page->recent = false;
            continue;
        }
        unindex(page);
        return page;
    }
    return nullptr;
}

void PageCache::release(Page *page) noexcept
{
    unindex(page);
    if (page->pinned)
        --pinned_;
    Page *last = pages_.back();
    pages_[page->position] = last;
    last->position = page->position;
    pages_.pop_back();
    std::free(page->handle.pBuf);
}

void PageCache::enforceCapacity() noexcept
{
    if (!purgeable_)
        return;
    while (pages_.size() > capacity_) {
        Page *page = takeUnpinned();
        if (!page)
            return;
        release(page);
    }
}

sqlite3_pcache_page *PageCache::fetch(unsigned key, int createFlag) noexcept
{
    if (Page *page = find(key)) {
        if (!page->pinned) {
            page->pinned = true;
            ++pinned_;
        }
        page->recent = true;
        return &page->handle;
    }
    if (createFlag == 0)
        return nullptr;
    // "Only if it is easy": when nearly all pages are pinned the engine
    // should first write some out and ask again.
    if (purgeable_ && createFlag == 1 && pinned_ >= nearlyFull_)
        return nullptr;
    Page *page = nullptr;
    if (purgeable_ && pages_.size() + 1 >= capacity_)
        page = takeUnpinned();
    if (!page) {
        page = allocate();
        if (!page)
            return nullptr;
    }
    page->key = key;
    page->pinned = true;
    page->recent = true;
    ++pinned_;
    std::memset(page->handle.pExtra, 0, extraSize_);
    if (!index(page)) {
        release(page);
        return nullptr;
    }
    return &page->handle;
}

void PageCache::unpin(sqlite3_pcache_page *handle, bool discard) noexcept
{
    Page *page = reinterpret_cast<Page *>(handle);
    if (page->pinned) {
        page->pinned = false;
        --pinned_;
    }
    if (discard || (purgeable_ && pages_.size() > capacity_))
        release(page);
}

void PageCache::rekey(sqlite3_pcache_page *handle, unsigned oldKey, unsigned newKey) noexcept
{
    Page *page = reinterpret_cast<Page *>(handle);
    Q_ASSERT(page->key == oldKey);
    Q_UNUSED(oldKey);
    if (Page *other = find(newKey); other && other != page)
        release(other);
    unindex(page);
    page->key = newKey;
    // The page may hold changes not yet written, so it cannot be dropped: with
    // no memory even for the table that finds it, nothing sound is left.
    if (!index(page))
        std::abort();
}

void PageCache::truncate(unsigned limit) noexcept
{
    for (std::size_t i = 0; i < pages_.size();) {
        if (pages_[i]->key >= limit)
            release(pages_[i]); // the last page takes its place
        else
            ++i;
    }
}

void PageCache::shrink() noexcept
{
    for (std::size_t i = 0; i < pages_.size();) {
        if (!pages_[i]->pinned)
            release(pages_[i]);
        else
            ++i;
    }
}

} // namespace db
