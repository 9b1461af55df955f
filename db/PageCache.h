#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct sqlite3_pcache_page;

namespace db {

// The engine's page cache, put in place of its built-in one. The built-in
// cache finds a page through a hash chain and keeps the unpinned pages on a
// list in the order of their use, so every page step of a seek walks a chain
// node and relinks two neighbours, each far from the page itself: on a table
// larger than the processor's caches, a few misses for every step down the
// tree. Here a page is found by its number in a two-level table, and its own
// header (next to the engine's header for it) is all that a hit writes.
// Eviction is a clock sweep over the cache's pages.
//
// One instance per engine cache; the engine serializes the calls on each.
class PageCache
{
public:
    // Has the engine create its caches from this class from now on. Works only
    // before the engine is first initialized in the process; returns whether
    // this class is in place (false leaves the built-in cache, which the
    // engine then keeps: a fallback, not a failure). REINDEX_BUILTIN_PAGE_CACHE
    // set to 1 keeps the built-in one, to compare the two.
    static bool install();
    static bool isInstalled() noexcept;

    PageCache(int pageSize, int extraSize, bool purgeable);
    ~PageCache();
    PageCache(const PageCache &) = delete;
    PageCache &operator=(const PageCache &) = delete;

    // The calls of the engine's page cache interface, to the letter of its
    // contract; a failure to allocate is a null page, never an exception.
    void setCapacity(int pages) noexcept;
    int pageCount() const noexcept { return int(pages_.size()); }
    sqlite3_pcache_page *fetch(unsigned key, int createFlag) noexcept;
    void unpin(sqlite3_pcache_page *handle, bool discard) noexcept;
    void rekey(sqlite3_pcache_page *handle, unsigned oldKey, unsigned newKey) noexcept;
    void truncate(unsigned limit) noexcept;
    void shrink() noexcept;

    int pinnedCount() const noexcept { return int(pinned_); }

private:
    struct Page;
    static constexpr unsigned chunkBits = 10;
    static constexpr unsigned chunkSize = 1u << chunkBits;

    Page *find(unsigned key) const noexcept;
    bool index(Page *page) noexcept;
    void unindex(Page *page) noexcept;
    Page *allocate() noexcept;
    Page *takeUnpinned() noexcept;
    void release(Page *page) noexcept;
    void enforceCapacity() noexcept;

    const std::size_t pageSize_;
    const std::size_t extraSize_;
    const bool purgeable_;
    std::size_t capacity_ = 0;
    std::size_t nearlyFull_ = 0;
    std::size_t pinned_ = 0;
    // Key >> chunkBits picks a chunk, the low bits the page in it; chunks are
    // made as keys reach them.
    std::vector<std::unique_ptr<Page *[]>> chunks_;
    // Every page held, pinned or not, for the clock and for the sweeps of
    // truncate and shrink; a page knows its place here.
    std::vector<Page *> pages_;
    std::size_t hand_ = 0;
};

} // namespace db
