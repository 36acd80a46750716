#include "engine/TableDefinition.h"

#include "engine/Bytes.h"

#include <array>
#include <set>
#include <utility>

namespace Engine {

namespace {

using Raw::u16;
using Raw::u32;

// A table definition longer than this is damaged: 255 columns with the longest names and all
// their indexes fit in far fewer pages.
constexpr std::size_t kMaxDefinitionPages = 64;

// libmdb looks at no row beyond this one on a page.
constexpr unsigned int kMaxRowNumber = 1000;

// A big value is stored as a chain of rows, each starting with the page and row of the next one.
constexpr std::size_t kChainLinkSize = 4;

// The definition's bytes in the order libmdb's own reader walks them: the first page whole, then
// each continuation page from byte 8 on. Pages are added as the reading goes on.
class DefinitionBytes
{
public:
    DefinitionBytes(PageReader &pages, std::uint32_t firstPage) : m_pages(pages), m_next(firstPage) {}

    // False when the definition cannot have that many bytes; stopped() then says why, when it is
    // not simply the definition's end.
    bool ensure(std::size_t size)
    {
        const std::size_t pageSize = m_pages.pageSize();
        if (size > kMaxDefinitionPages * (pageSize - 8))
            return stop("the table definition has more pages than any table needs");
        while (m_bytes.size() < size) {
            if (m_next == 0)
                return false;
            if (!m_seen.insert(m_next).second)
                return stop("the pages of the table definition run in a circle");
            const auto page = m_pages.page(m_next);
            if (page.size() != pageSize)
                return stop("a page of the table definition lies beyond the end of the file");
            if (m_bytes.empty()) {
                if (page[0] != 0x02)
                    return false;
                m_bytes.assign(page.begin(), page.end());
            } else {
                m_bytes.insert(m_bytes.end(), page.begin() + 8, page.end());
            }
            m_next = u32(page, 4);
        }
        return true;
    }

    // Takes in every page the definition has (up to the limit); stops at a damaged one, which
    // stopped() then names.
    void ensureAll()
    {
        while (m_next != 0 && ensure(m_bytes.size() + 1)) {
        }
    }

    std::span<const std::uint8_t> bytes() const { return m_bytes; }
    const std::string &stopped() const { return m_stopped; }

private:
    bool stop(const char *why)
    {
        m_stopped = why;
        return false;
    }

    PageReader &m_pages;
    std::uint32_t m_next;
    std::set<std::uint32_t> m_seen;
    std::vector<std::uint8_t> m_bytes;
    std::string m_stopped;
};

} // namespace

std::optional<std::span<const std::uint8_t>> rowOnPage(std::span<const std::uint8_t> page, const PageLayout &layout,
                                                       unsigned int row)
{
    const std::size_t pageSize = page.size();
    if (row > kMaxRowNumber || layout.rowCountOffset + 4 + 2 * std::size_t(row) > pageSize)
        return std::nullopt;
    const std::size_t start = u16(page, layout.rowCountOffset + 2 + 2 * row) & kRowOffsetMask;
    const std::size_t end = row == 0 ? pageSize : u16(page, layout.rowCountOffset + 2 * row) & kRowOffsetMask;
    if (start >= pageSize || start > end || end > pageSize)
        return std::nullopt;
    return page.subspan(start, end - start);
}

std::optional<std::span<const std::uint8_t>> pointedRow(PageReader &pages, const PageLayout &layout,
                                                        std::uint32_t pageRow)
{
    const auto page = pages.page(pageRow >> 8);
    if (page.size() != layout.pageSize)
        return std::nullopt;
    return rowOnPage(page, layout, pageRow & 0xFF);
}

namespace {

// Where the first page of a definition says the rest stands.
struct DefinitionHeader
{
    std::size_t columnCount = 0;
    std::uint32_t realIndexes = 0;
    std::size_t descriptorsStart = 0;
    std::size_t namesStart = 0;
};

// Reads the counts of the first page and takes in the pages up to the column names.
std::optional<DefinitionHeader> readHeader(DefinitionBytes &definition, const DefinitionLayout &layout)
{
    const std::size_t pageSize = layout.page.pageSize;
    if (!definition.ensure(pageSize))
        return std::nullopt;
    const auto header = definition.bytes();
    if (layout.numColumnsOffset + 2 > pageSize || layout.numRealIndexesOffset + 4 > pageSize ||
        layout.usageMapOffset + 4 > pageSize || layout.freeMapOffset + 4 > pageSize)
        return std::nullopt;

    // libmdb keeps the fields of a row in an array of 256 (MDB_MAX_COLS).
    const std::size_t columnCount = u16(header, layout.numColumnsOffset);
    if (columnCount > 256)
        return std::nullopt;
    const auto realIndexes = static_cast<std::int32_t>(u32(header, layout.numRealIndexesOffset));
    if (realIndexes < 0)
        return std::nullopt;
    const std::uint64_t descriptorsStart =
        layout.columnsStartOffset + static_cast<std::uint64_t>(realIndexes) * layout.realIndexEntrySize;
    const std::uint64_t namesStart = descriptorsStart + columnCount * layout.columnEntrySize;
    if (namesStart > kMaxDefinitionPages * pageSize || !definition.ensure(static_cast<std::size_t>(namesStart)))
        return std::nullopt;
    return DefinitionHeader{columnCount, static_cast<std::uint32_t>(realIndexes),
                            static_cast<std::size_t>(descriptorsStart), static_cast<std::size_t>(namesStart)};
}

// The usage map must be there and not empty (libmdb's row reader dereferences it), and the
// free-space map must be there too, or mdb_read_table refuses the table.
bool readMaps(PageReader &pages, const DefinitionLayout &layout, std::span<const std::uint8_t> header,
              TableDefinition &table)
{
    const std::uint32_t usageMapRow = u32(header, layout.usageMapOffset);
    const std::uint32_t freeMapRow = u32(header, layout.freeMapOffset);
    const auto usageMap = pointedRow(pages, layout.page, usageMapRow);
    if (!usageMap || usageMap->empty())
        return false;
    table.usageMap.assign(usageMap->begin(), usageMap->end());
    return pointedRow(pages, layout.page, freeMapRow).has_value();
}

// One column from its descriptor.
DefinedColumn readColumn(std::span<const std::uint8_t> descriptor, const DefinitionLayout &layout)
{
    DefinedColumn column;
    column.number = descriptor[layout.columnNumberOffset];
    column.flags = descriptor[layout.columnFlagsOffset];
    if (layout.columnPrecisionOffset < descriptor.size() && layout.columnScaleOffset < descriptor.size()) {
        column.precision = descriptor[layout.columnPrecisionOffset];
        column.scale = descriptor[layout.columnScaleOffset];
    }
    StoredColumn &stored = column.stored;
    stored.type = descriptor[0];
    stored.size = static_cast<int>(u16(descriptor, layout.columnSizeOffset));
    stored.fixedLength = descriptor[layout.columnFlagsOffset] & 0x01;
    stored.jet3 = layout.jet3;
    // Jet 4 and later keep extended flags right after the flags; 0xC0 marks a calculated field.
    stored.calculated = !layout.jet3 && (descriptor[layout.columnFlagsOffset + 1] & 0xC0) != 0;
    return column;
}

// The columns from their descriptors, which the header has already taken in; nothing when two
// columns have one number.
std::optional<std::vector<DefinedColumn>> readColumns(std::span<const std::uint8_t> bytes,
                                                      const DefinitionLayout &layout, const DefinitionHeader &header)
{
    std::array<bool, 256> numberTaken{};
    std::vector<DefinedColumn> columns;
    columns.reserve(header.columnCount);
    for (std::size_t i = 0; i < header.columnCount; ++i) {
        const auto descriptor =
            bytes.subspan(header.descriptorsStart + i * layout.columnEntrySize, layout.columnEntrySize);
        if (std::exchange(numberTaken[descriptor[layout.columnNumberOffset]], true))
            return std::nullopt;
        columns.push_back(readColumn(descriptor, layout));
    }
    return columns;
}

// The names follow the descriptors, in the same order: a length (one byte in Jet 3, two after),
// then the stored text. Gives where the names end; nothing when they run past the definition.
std::optional<std::size_t> readNames(DefinitionBytes &definition, const DefinitionLayout &layout, std::size_t pos,
                                     std::vector<DefinedColumn> &columns, const TextDecoder &decodeName)
{
    const std::size_t lengthSize = layout.jet3 ? 1 : 2;
    for (DefinedColumn &column : columns) {
        if (!definition.ensure(pos + lengthSize))
            return std::nullopt;
        const std::size_t length = layout.jet3 ? definition.bytes()[pos] : u16(definition.bytes(), pos);
        pos += lengthSize;
        if (!definition.ensure(pos + length))
            return std::nullopt;
        column.name = decodeName(definition.bytes().subspan(pos, length), layout.nameBufferSize);
        pos += length;
    }
    return pos;
}

// The indexes come after the names, on pages the columns may not have needed.
IndexBlock readIndexes(DefinitionBytes &definition, const DefinitionLayout &layout, std::size_t indexesStart,
                       std::uint32_t realIndexes, const TextDecoder &decodeName)
{
    definition.ensureAll();
    const std::size_t logicalAt = layout.jet3 ? LogicalIndexCountOffsetJet3 : LogicalIndexCountOffsetJet4;
    const std::uint32_t logicalCount = u32(definition.bytes(), logicalAt);
    IndexBlock block = readIndexDefinitions(definition.bytes(), layout.jet3, indexesStart, realIndexes, logicalCount,
                                            decodeName, layout.nameBufferSize);
    // Indexes that run past the end of the bytes may have been cut short by the pages themselves.
    if (!block.problem.empty() && !definition.stopped().empty())
        block.problem += " (" + definition.stopped() + ")";
    return block;
}

} // namespace

std::optional<TableDefinition> readTableDefinition(PageReader &pages, const DefinitionLayout &layout,
                                                   std::uint32_t firstPage, const TextDecoder &decodeName,
                                                   bool withIndexes)
{
    const std::size_t pageSize = layout.page.pageSize;
    if (pageSize == 0 || pages.pageSize() != pageSize)
        return std::nullopt;
    DefinitionBytes definition(pages, firstPage);
    const auto header = readHeader(definition, layout);
    if (!header)
        return std::nullopt;
    TableDefinition table;
    if (!readMaps(pages, layout, definition.bytes(), table))
        return std::nullopt;
    auto columns = readColumns(definition.bytes(), layout, *header);
    if (!columns)
        return std::nullopt;
    table.columns = std::move(*columns);
    const auto namesEnd = readNames(definition, layout, header->namesStart, table.columns, decodeName);
    if (!namesEnd)
        return std::nullopt;
    if (withIndexes)
        table.indexes = readIndexes(definition, layout, *namesEnd, header->realIndexes, decodeName);
    return table;
}

namespace {

// A row of a long value's chain: only a row the page lists counts. libmdb reads a row number
// beyond the page's count all the same, from whatever bytes stand where its offset would be, and
// the value would be silently wrong.
std::optional<std::span<const std::uint8_t>> listedRow(PageReader &pages, const PageLayout &layout,
                                                       std::uint32_t pageRow)
{
    const auto page = pages.page(pageRow >> 8);
    if (page.size() != layout.pageSize || layout.rowCountOffset + 2 > page.size() ||
        (pageRow & 0xFF) >= u16(page, layout.rowCountOffset))
        return std::nullopt;
    return rowOnPage(page, layout, pageRow & 0xFF);
}

} // namespace

std::optional<std::vector<std::uint8_t>> readLongValue(std::span<const std::uint8_t> header,
                                                       std::span<const std::uint8_t> inlineValue, PageReader &pages,
                                                       const PageLayout &layout, std::size_t maxBytes)
{
    if (header.size() < 8)
        return std::vector<std::uint8_t>();
    const std::uint32_t length = u32(header, 0);
    if (length & 0x80000000u) {
        // Kept in the row itself.
        if (inlineValue.size() > maxBytes)
            return std::nullopt;
        return std::vector<std::uint8_t>(inlineValue.begin(), inlineValue.end());
    }
    std::uint32_t pageRow = u32(header, 4);
    if (length & 0x40000000u) {
        // One row on another page. libmdb reads nothing when the row is not there, and the
        // value would silently be empty: the value is damaged.
        const auto row = listedRow(pages, layout, pageRow);
        if (!row || row->size() > maxBytes)
            return std::nullopt;
        return std::vector<std::uint8_t>(row->begin(), row->end());
    }
    if ((length & 0xF0000000u) != 0)
        return std::vector<std::uint8_t>(); // libmdb does not read it

    std::vector<std::uint8_t> value;
    // Room for the length the header gives, as far as it is believable: filled a page at a time,
    // the value would otherwise be moved again and again as it grows.
    value.reserve(std::min<std::size_t>({length & 0x3FFFFFFFu, maxBytes, std::size_t(1) << 24}));
    std::set<std::uint32_t> visited;
    while (pageRow != 0) {
        if (!visited.insert(pageRow).second)
            return std::nullopt;
        // A link to a page beyond the file or a row that is not there: libmdb stops and keeps
        // what it has, which would be a value cut short without a word.
        const auto row = listedRow(pages, layout, pageRow);
        if (!row || row->size() < kChainLinkSize)
            return std::nullopt;
        if (value.size() + row->size() > maxBytes)
            return std::nullopt;
        value.insert(value.end(), row->begin() + kChainLinkSize, row->end());
        pageRow = u32(*row, 0);
    }
    return value;
}

} // namespace Engine
