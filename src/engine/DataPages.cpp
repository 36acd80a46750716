#include "engine/DataPages.h"

#include "engine/Bytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace Engine {

namespace {

using Raw::u16;
using Raw::u32;

// Pages fetched by one read. The data pages of a big table come in long runs, and a read of this
// size costs hardly more than a read of one page.
constexpr std::uint64_t kWindowPages = 64;

// Mapped pages that were looked at stay in the worker's memory until they are let go; after this
// many looks they are (the file's pages stay in the system's cache, and come back on the next look).
// 4 MB of 4 KB pages: the worker's share while the program builds a big database's documents
// beside it, and no slower than more.
constexpr std::uint64_t kLetGoAfterPages = 1024;

// Jet's page encoding: RC4 keyed with the header's key XOR the page number (little-endian).
void decodePage(std::span<std::uint8_t> page, std::uint32_t key)
{
    const std::array<std::uint8_t, 4> keyBytes = {static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 8),
                                                  static_cast<std::uint8_t>(key >> 16),
                                                  static_cast<std::uint8_t>(key >> 24)};
    std::array<std::uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + keyBytes[i % 4]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (std::size_t n = 0, i = 0, j = 0; n < page.size(); ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        page[n] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

// Calls visit(bit) for every set bit of the bitmap, in order, until it returns false. Whole words
// of zeros are skipped: a map page covers tens of thousands of pages, mostly not the table's.
template <typename Visit> bool forEachSetBit(std::span<const std::uint8_t> bitmap, Visit &&visit)
{
    std::size_t byte = 0;
    while (byte < bitmap.size()) {
        if (byte + 8 <= bitmap.size()) {
            std::uint64_t word = 0;
            std::memcpy(&word, bitmap.data() + byte, 8);
            if (word == 0) {
                byte += 8;
                continue;
            }
        }
        if (const std::uint8_t bits = bitmap[byte]) {
            for (unsigned bit = 0; bit < 8; ++bit)
                if ((bits & (1u << bit)) && !visit(static_cast<std::uint64_t>(byte) * 8 + bit))
                    return false;
        }
        ++byte;
    }
    return true;
}

} // namespace

namespace {

// Calls visit(row, entry) for every entry of the page's table of offsets (its number, and its
// offset with the flags) that points at a row inside the page, deleted or not. An entry table that
// runs off the page is damaged; the entries that fit are still read. False when the page is
// damaged so: its entry table runs off it, or an entry of a live row points outside the page or
// at nothing.
template <typename Visit>
bool forEachRowEntry(std::span<const std::uint8_t> page, const PageLayout &layout, Visit &&visit)
{
    const std::size_t pageSize = page.size();
    if (layout.rowCountOffset + 2 > pageSize)
        return false;
    const std::size_t listed = u16(page, layout.rowCountOffset);
    const std::size_t fit = (pageSize - layout.rowCountOffset - 2) / 2;
    const std::size_t entries = std::min(listed, fit);
    bool intact = listed <= fit;

    // Rows are stored from the end of the page backwards: each row ends where the one before it
    // in the table starts (the first ends at the end of the page). Each entry is read once, and
    // the start it gives is the next row's end: a big table has a million of them.
    const std::uint8_t *table = page.data() + layout.rowCountOffset + 2;
    std::size_t end = pageSize;
    for (std::size_t row = 0; row < entries; ++row) {
        const auto entry = static_cast<std::uint16_t>(table[2 * row] | table[2 * row + 1] << 8);
        const std::size_t start = entry & kRowOffsetMask;
        if (start >= pageSize || end > pageSize || start >= end) {
            // Points outside the page, or at nothing: a deleted row may, a live one may not.
            if (!(entry & kDeletedRowFlag))
                intact = false;
        } else {
            visit(row, entry);
        }
        end = start;
    }
    return intact;
}

bool isDataPageOf(std::span<const std::uint8_t> page, std::uint32_t tablePage)
{
    return page.size() >= 8 && page[0] == kDataPageType && u32(page, 4) == tablePage;
}

} // namespace

std::size_t liveRowsOnPage(std::span<const std::uint8_t> page, const PageLayout &layout, bool *intact)
{
    std::size_t live = 0;
    const bool whole = forEachRowEntry(page, layout, [&](std::size_t, std::uint16_t entry) {
        if (!(entry & kDeletedRowFlag))
            ++live;
    });
    if (intact)
        *intact = whole;
    return live;
}

PageReader::~PageReader()
{
    close();
}

bool PageReader::open(const std::string &path, std::size_t pageSize, std::uint32_t encodingKey)
{
    close();
    if (pageSize == 0)
        return false;
    m_fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    struct stat info
    {
    };
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close();
        return false;
    }
    m_pageSize = pageSize;
    m_fileSize = static_cast<std::uint64_t>(info.st_size);
    // libmdb reads a page as long as it does not start beyond the end, and pads it with zeros.
    m_pageCount = m_fileSize / pageSize + 1;
    m_encodingKey = encodingKey;
    const std::uint64_t whole = m_fileSize / pageSize * pageSize;
    // The mapping takes address space, which the worker may have little of: a file that would
    // take more than a quarter of it is read page by page instead.
    rlimit limit{};
    const bool roomy = ::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
                       whole <= static_cast<std::uint64_t>(limit.rlim_cur) / 4;
    if (encodingKey == 0 && whole > 0 && whole <= std::uint64_t(SIZE_MAX) && roomy) {
        void *map = ::mmap(nullptr, static_cast<std::size_t>(whole), PROT_READ, MAP_SHARED, m_fd, 0);
        if (map != MAP_FAILED) {
            m_map = static_cast<const std::uint8_t *>(map);
            m_mapSize = whole;
            m_mappedSinceDrop = 0;
        }
    }
    m_window.clear();
    m_windowFirst = m_windowPages = 0;
    return true;
}

bool PageReader::openImage(std::span<const std::uint8_t> image, std::size_t pageSize, std::uint32_t encodingKey)
{
    close();
    if (pageSize == 0)
        return false;
    m_inMemory = true;
    m_image = image;
    m_pageSize = pageSize;
    m_fileSize = image.size();
    m_pageCount = m_fileSize / pageSize + 1;
    m_encodingKey = encodingKey;
    m_window.clear();
    m_window.shrink_to_fit();
    m_windowFirst = m_windowPages = 0;
    return true;
}

void PageReader::close()
{
    if (m_map)
        ::munmap(const_cast<std::uint8_t *>(m_map), static_cast<std::size_t>(m_mapSize));
    m_map = nullptr;
    m_mapSize = 0;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_inMemory = false;
    m_image = {};
    m_pageCount = 0;
    m_windowPages = 0;
}

std::span<const std::uint8_t> PageReader::page(std::uint64_t number)
{
    if ((m_fd < 0 && !m_inMemory) || number >= m_pageCount)
        return {};
    if (m_map && number < m_mapSize / m_pageSize) {
        if (m_mappedSinceDrop == 0) {
            m_lowestLooked = m_highestLooked = number;
        } else {
            m_lowestLooked = std::min(m_lowestLooked, number);
            m_highestLooked = std::max(m_highestLooked, number);
        }
        if (++m_mappedSinceDrop >= kLetGoAfterPages) {
            // Only the stretch looked at since the last time: walking the whole map costs more.
            ::madvise(const_cast<std::uint8_t *>(m_map) + m_lowestLooked * m_pageSize,
                      static_cast<std::size_t>((m_highestLooked - m_lowestLooked + 1) * m_pageSize), MADV_DONTNEED);
            m_mappedSinceDrop = 0;
        }
        return std::span<const std::uint8_t>(m_map + number * m_pageSize, m_pageSize);
    }
    if (number < m_windowFirst || number >= m_windowFirst + m_windowPages) {
        // A walk through consecutive pages reads ahead; a jump reads just the page (table
        // definitions and small tables are single pages spread all over the file).
        // In memory there is nothing to gain from reading ahead, and one page at a time keeps the
        // window exactly one page long.
        const std::uint64_t windowPages = m_inMemory ? 1 : kWindowPages;
        const bool onward = m_windowPages > 0 && number == m_windowFirst + m_windowPages;
        const std::uint64_t pages = std::min(onward ? windowPages : 1, m_pageCount - number);
        const std::size_t size = static_cast<std::size_t>(pages * m_pageSize);
        if (m_window.size() < size)
            m_window.resize(static_cast<std::size_t>(windowPages * m_pageSize));
        const std::uint64_t offset = number * m_pageSize;
        const std::uint64_t available = m_fileSize > offset ? m_fileSize - offset : 0;
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(available, size));
        std::size_t done = 0;
        if (m_inMemory && wanted > 0) {
            std::memcpy(m_window.data(), m_image.data() + offset, wanted);
            done = wanted;
        }
        while (done < wanted) {
            const ssize_t got = ::pread(m_fd, m_window.data() + done, wanted - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        // What the file does not have reads as zeros, as in libmdb.
        std::fill(m_window.begin() + static_cast<std::ptrdiff_t>(done),
                  m_window.begin() + static_cast<std::ptrdiff_t>(size), 0);
        m_windowFirst = number;
        m_windowPages = pages;
        if (m_encodingKey != 0) {
            for (std::uint64_t i = 0; i < pages; ++i) {
                const std::uint64_t page = number + i;
                if (page != 0) // the header page has its own, fixed mask
                    decodePage(std::span(m_window).subspan(static_cast<std::size_t>(i * m_pageSize), m_pageSize),
                               m_encodingKey ^ static_cast<std::uint32_t>(page));
            }
        }
    }
    return std::span<const std::uint8_t>(m_window).subspan(
        static_cast<std::size_t>((number - m_windowFirst) * m_pageSize), m_pageSize);
}

namespace {

// Every page a usage map names, in ascending order, beyond the end of the file too; visit returns
// false to stop. False when the map is of a kind libmdb does not know, or names a map page that
// cannot be read (then put in unreadMapPage, when given).
bool forEachNamedPage(std::span<const std::uint8_t> usageMap, PageReader &pages, const PageVisitor &visit,
                      std::uint64_t *unreadMapPage = nullptr)
{
    if (usageMap.empty())
        return false;
    if (usageMap[0] == 0) {
        // Pages from a first page on, one bit each.
        if (usageMap.size() < 5)
            return true;
        const std::uint64_t first = u32(usageMap, 1);
        forEachSetBit(usageMap.subspan(5), [&](std::uint64_t bit) { return visit(first + bit); });
        return true;
    }
    if (usageMap[0] == 1) {
        // Map pages, each covering its share of the file.
        const std::size_t pageSize = pages.pageSize();
        if (pageSize <= 4)
            return false;
        const std::uint64_t pagesPerMapPage = (pageSize - 4) * 8;
        const std::size_t mapPages = (usageMap.size() - 1) / 4;
        std::vector<std::uint8_t> bitmap;
        for (std::size_t index = 0; index < mapPages; ++index) {
            const std::uint32_t mapPage = u32(usageMap, 1 + index * 4);
            if (mapPage == 0)
                continue;
            const auto bytes = pages.page(mapPage);
            if (bytes.empty()) {
                if (unreadMapPage)
                    *unreadMapPage = mapPage;
                return false;
            }
            // A copy: visiting reads other pages and may move the reader's window.
            bitmap.assign(bytes.begin() + 4, bytes.end());
            const bool goOn =
                forEachSetBit(bitmap, [&](std::uint64_t bit) { return visit(index * pagesPerMapPage + bit); });
            if (!goOn)
                return true;
        }
        return true;
    }
    return false;
}

} // namespace

bool forEachMappedPage(std::span<const std::uint8_t> usageMap, PageReader &pages, const PageVisitor &visit)
{
    // libmdb stops at the first page it cannot read; later ones lie further out.
    const std::uint64_t pageCount = pages.pageCount();
    return forEachNamedPage(usageMap, pages, [&](std::uint64_t page) { return page < pageCount && visit(page); });
}

namespace {

// Whether the bitmap has a page at or beyond pageCount, its first bit standing for page `first`:
// whether any bit from pageCount's on is set, looked at byte by byte rather than bit by bit.
bool namesPagesBeyond(std::span<const std::uint8_t> bitmap, std::uint64_t first, std::uint64_t pageCount)
{
    const std::uint64_t from = pageCount > first ? pageCount - first : 0;
    if (from >= bitmap.size() * 8)
        return false;
    const std::size_t byte = static_cast<std::size_t>(from / 8);
    if (bitmap[byte] >> (from % 8))
        return true;
    return std::any_of(bitmap.begin() + byte + 1, bitmap.end(), [](std::uint8_t b) { return b != 0; });
}

} // namespace

std::string usageMapProblem(std::span<const std::uint8_t> usageMap, PageReader &pages)
{
    const std::uint64_t pageCount = pages.pageCount();
    bool beyond = false;
    if (!usageMap.empty() && usageMap[0] == 0 && usageMap.size() > 5) {
        beyond = namesPagesBeyond(usageMap.subspan(5), u32(usageMap, 1), pageCount);
    } else if (!usageMap.empty() && usageMap[0] == 1 && pages.pageSize() > 4) {
        const std::uint64_t pagesPerMapPage = (pages.pageSize() - 4) * 8;
        // Each map page is looked at as it is read (the next read may move the reader's window);
        // one that is not there settles the answer whatever the others name.
        for (std::size_t index = 0; index < (usageMap.size() - 1) / 4; ++index) {
            const std::uint32_t mapPage = u32(usageMap, 1 + index * 4);
            if (mapPage == 0)
                continue;
            const auto bytes = pages.page(mapPage);
            if (bytes.empty())
                return {}; // a map page that is not there: every page of the file is read instead
            if (!beyond)
                beyond = namesPagesBeyond(bytes.subspan(4), index * pagesPerMapPage, pageCount);
        }
    }
    return beyond ? "its usage map names pages beyond the end of the file: the records there could not be counted"
                  : std::string();
}

std::int64_t countLiveRows(std::span<const std::uint8_t> usageMap, std::uint32_t tablePage, PageReader &pages,
                           const PageLayout &layout, const std::function<void()> &progress, std::size_t *damagedPages)
{
    std::int64_t rows = 0;
    std::size_t damaged = 0;
    const auto visit = [&](std::uint64_t number) {
        const auto page = pages.page(number);
        if (isDataPageOf(page, tablePage)) {
            bool intact = true;
            rows += static_cast<std::int64_t>(liveRowsOnPage(page, layout, &intact));
            damaged += intact ? 0 : 1;
        }
        if (progress)
            progress();
        return true;
    };
    if (!forEachMappedPage(usageMap, pages, visit)) {
        // libmdb's answer to a map it cannot walk: look at every page of the file.
        rows = 0;
        damaged = 0;
        for (std::uint64_t number = 1; number < pages.pageCount(); ++number)
            visit(number);
    }
    if (damagedPages)
        *damagedPages = damaged;
    return rows;
}

namespace {

void addStoredRows(StoredRows &stored, std::uint64_t number, std::span<const std::uint8_t> page,
                   const PageLayout &layout)
{
    forEachRowEntry(page, layout, [&](std::size_t entry, std::uint16_t flags) {
        if (flags & kDeletedRowFlag)
            return;
        ++stored.live;
        if (!(flags & kOverflowRowFlag))
            stored.inPlace.push_back({number, entry});
    });
}

} // namespace

StoredRows storedRows(std::span<const std::uint8_t> usageMap, std::uint32_t tablePage, PageReader &pages,
                      const PageLayout &layout)
{
    StoredRows stored;
    const std::uint64_t size = pages.fileSize();
    const std::uint64_t pageSize = pages.pageSize();
    const auto named = [&](std::uint64_t number) {
        const std::string page = "page " + std::to_string(number) + " named by its usage map ";
        if (number >= size / pageSize + (size % pageSize != 0 ? 1 : 0)) {
            stored.problem = page + "lies beyond the end of the file";
        } else if ((number + 1) * pageSize > size) {
            stored.problem = page + "is cut short by the end of the file";
        } else {
            const auto bytes = pages.page(number);
            if (!isDataPageOf(bytes, tablePage))
                stored.problem = page + "is not one of its data pages";
            else
                addStoredRows(stored, number, bytes, layout);
        }
        return stored.problem.empty();
    };
    std::uint64_t unreadMapPage = 0;
    if (!forEachNamedPage(usageMap, pages, named, &unreadMapPage)) {
        // libmdb's answer to a map it cannot walk: look at every page of the file. The pages that a
        // map page beyond the end named are gone with it.
        stored = StoredRows{};
        if (unreadMapPage != 0)
            stored.problem =
                "its usage map's page " + std::to_string(unreadMapPage) + " lies beyond the end of the file";
        stored.mapWalked = false;
        for (std::uint64_t number = 1; number < pages.pageCount(); ++number) {
            const auto bytes = pages.page(number);
            if (isDataPageOf(bytes, tablePage))
                addStoredRows(stored, number, bytes, layout);
        }
    }
    return stored;
}

} // namespace Engine
