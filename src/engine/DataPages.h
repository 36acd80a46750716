#pragma once

// Counting a table's rows straight from its data pages.
//
// A recordset counts the live rows of a table. Asking libmdb for them means cracking every row
// into its fields, and a million rows take longer than everything else the report needs. The row
// count is written on the pages themselves: every data page lists its rows in a table of offsets,
// and a deleted row keeps its entry with a flag. So the worker walks the pages the table's usage
// map names and counts the entries that are not deleted.
//
// Nothing here trusts the file: a usage map can name pages of other tables or pages beyond the
// end, offsets can point anywhere, and a page is only counted when it says it is a data page of
// this very table.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace Engine {

// Where things are on the pages of one format.
struct PageLayout
{
    std::size_t pageSize = 4096;
    std::size_t rowCountOffset = 0x0C; // u16 row count, then the u16 row offsets; 0x08 in Jet 3
};

inline constexpr std::uint8_t kDataPageType = 0x01;

// Row offset flags. A deleted row keeps its entry, flagged. A row that grew out of its page
// leaves an entry flagged "overflow" that points to where it went: that entry is the row (the copy
// elsewhere carries the deleted flag, so every row is met once).
inline constexpr std::uint16_t kDeletedRowFlag = 0x8000;
inline constexpr std::uint16_t kOverflowRowFlag = 0x4000;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;

// The live rows listed on one data page. Entries whose offsets lie outside the page, or that
// describe an empty row, are not rows. intact, when given, tells whether the page's table of row
// offsets was whole: false when it runs off the page or a live row's entry points outside it.
std::size_t liveRowsOnPage(std::span<const std::uint8_t> page, const PageLayout &layout, bool *intact = nullptr);

// Reads whole pages of the database file itself, decoded like libmdb decodes them (Jet's RC4 page
// encoding when the header has a key), several pages per read: the pages of one table mostly lie
// next to each other.
class PageReader
{
public:
    PageReader() = default;
    ~PageReader();
    PageReader(const PageReader &) = delete;
    PageReader &operator=(const PageReader &) = delete;

    // False when the file cannot be opened.
    bool open(const std::string &path, std::size_t pageSize, std::uint32_t encodingKey);
    // Reads a database image in memory instead, which must outlive the reader (the fuzz targets
    // and tests feed the readers this way). A page is handed out in a buffer of exactly its size,
    // so that a reader running past its end is caught by the address sanitizer.
    bool openImage(std::span<const std::uint8_t> image, std::size_t pageSize, std::uint32_t encodingKey);
    void close();
    std::uint64_t pageCount() const { return m_pageCount; }
    std::size_t pageSize() const { return m_pageSize; }
    // The bytes the file (or image) really has: page() fills up what lies beyond them with zeros.
    std::uint64_t fileSize() const { return m_fileSize; }

    // The page, or an empty span when it starts beyond the end of the file. A last page that the
    // file cuts short is filled up with zeros, as libmdb does. Valid until the next call.
    std::span<const std::uint8_t> page(std::uint64_t number);

private:
    int m_fd = -1;
    // The file's whole pages, mapped when they need no decoding: reading a page is then a look,
    // not a copy, and a database of a thousand small tables is a thousand scattered looks.
    const std::uint8_t *m_map = nullptr;
    std::uint64_t m_mapSize = 0;
    std::uint64_t m_mappedSinceDrop = 0;
    std::uint64_t m_lowestLooked = 0;
    std::uint64_t m_highestLooked = 0;
    // Or a database image in memory (openImage).
    bool m_inMemory = false;
    std::span<const std::uint8_t> m_image;
    std::size_t m_pageSize = 0;
    std::uint64_t m_fileSize = 0;
    std::uint64_t m_pageCount = 0; // pages that start inside the file
    std::uint32_t m_encodingKey = 0;
    std::vector<std::uint8_t> m_window;
    std::uint64_t m_windowFirst = 0;
    std::uint64_t m_windowPages = 0;
};

// The pages a usage map names, in ascending order, as libmdb's mdb_map_find_next walks them:
//   type 0: u32 first page, then a bitmap of the pages from there on;
//   type 1: u32 numbers of map pages, each a bitmap (after 4 bytes) of its share of the file.
// visit returns false to stop. Returns false when the map is of a kind libmdb does not know, or
// names a map page that cannot be read: libmdb then scans every page of the file.
using PageVisitor = std::function<bool(std::uint64_t page)>;
bool forEachMappedPage(std::span<const std::uint8_t> usageMap, PageReader &pages, const PageVisitor &visit);

// Why walking the usage map (as forEachMappedPage walks it) misses some of the table's pages: it
// names pages beyond the end of the file, which libmdb's walk stops at or passes over, so the
// rows there are neither read nor counted. Empty when the walk misses nothing (a map that cannot
// be walked at all is answered by reading every page, which misses nothing either).
std::string usageMapProblem(std::span<const std::uint8_t> usageMap, PageReader &pages);

// The live rows of the table whose definition is on tablePage, from the pages its usage map
// names (or from every page, for a map libmdb cannot walk). progress is called once per page.
// damagedPages, when given, receives how many of its data pages had a damaged table of row
// offsets: the rows listed there that could not be found are not counted.
std::int64_t countLiveRows(std::span<const std::uint8_t> usageMap, std::uint32_t tablePage, PageReader &pages,
                           const PageLayout &layout, const std::function<void()> &progress,
                           std::size_t *damagedPages = nullptr);

// Where one row of a table is kept: its data page and its entry in that page's table of offsets.
struct RowPlace
{
    std::uint64_t page = 0;
    std::size_t entry = 0;
    bool operator==(const RowPlace &) const = default;
    bool operator<(const RowPlace &other) const { return page != other.page ? page < other.page : entry < other.entry; }
};

// What the data pages of a table hold, for judging whether a walk through its rows met them all.
// libmdb stops without a word at the first page of the usage map it cannot read, and skips a page
// that is not the table's and a row it cannot take apart, so what it hands out is no proof of
// what is there.
struct StoredRows
{
    // Its live rows, counted as countLiveRows counts them.
    std::int64_t live = 0;
    // The live rows kept at their own entry: every walk through the table meets each of them there.
    // A row that grew out of its page is met where it went instead.
    std::vector<RowPlace> inPlace;
    // False for a map libmdb cannot walk: then every page of the file was looked at, as it does.
    bool mapWalked = true;
    // The first page the usage map names that the file does not hold whole as one of the table's
    // data pages (the walk stops there), or a page of the map itself beyond the end of the file;
    // empty when there is none.
    std::string problem;
};
StoredRows storedRows(std::span<const std::uint8_t> usageMap, std::uint32_t tablePage, PageReader &pages,
                      const PageLayout &layout);

} // namespace Engine
