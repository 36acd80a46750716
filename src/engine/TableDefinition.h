#pragma once

// A table's definition (its "TDEF" pages), read for what the report needs: the columns in design
// order with their stored types, and the usage map that names the table's data pages.
//
// libmdb's mdb_read_table and mdb_read_columns read the same bytes, but through a stdio stream
// that seeks and asks for the file's size on every page, and they decode and allocate everything
// a table has; on a database with thousands of tables that is most of the work. This reader takes
// the pages from PageReader and the offsets from libmdb's format constants, and fails wherever
// libmdb would fail (and where libmdb would read nonsense or run off the end).

#include "engine/AdoTypes.h"
#include "engine/DataPages.h"
#include "engine/IndexDefinitions.h"
#include "engine/PropertyBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Engine {

// Where things are in a table definition: libmdb's MdbFormatConstants, for one format.
struct DefinitionLayout
{
    PageLayout page;
    bool jet3 = false;
    std::size_t numColumnsOffset = 0;     // tab_num_cols_offset
    std::size_t numRealIndexesOffset = 0; // tab_num_ridxs_offset
    std::size_t usageMapOffset = 0;       // tab_usage_map_offset
    std::size_t freeMapOffset = 0;        // tab_free_map_offset
    std::size_t columnsStartOffset = 0;   // tab_cols_start_offset
    std::size_t realIndexEntrySize = 0;   // tab_ridx_entry_size
    std::size_t columnEntrySize = 0;      // tab_col_entry_size
    std::size_t columnNumberOffset = 0;   // col_num_offset
    std::size_t columnSizeOffset = 0;     // col_size_offset
    std::size_t columnFlagsOffset = 0;    // col_flags_offset
    // A decimal's precision and scale (Jet 4 and later; Jet 3 has no decimals). libmdb's constants
    // name these two the other way round; its own printing swaps them back.
    std::size_t columnPrecisionOffset = 11;
    std::size_t columnScaleOffset = 12;
    std::size_t nameBufferSize = 257; // sizeof MdbColumn::name, which libmdb decodes names into
};

struct DefinedColumn
{
    std::string name; // decoded as libmdb decodes it into MdbColumn::name
    StoredColumn stored;
    // The stored column number, which indexes use to name their columns.
    unsigned int number = 0;
    // The descriptor's flags byte (auto-number, hyperlink, ...) and a decimal's precision and scale.
    std::uint8_t flags = 0;
    int precision = 0;
    int scale = 0;
};

struct TableDefinition
{
    std::vector<DefinedColumn> columns; // in the order of the descriptors: Access's design order
    std::vector<std::uint8_t> usageMap;
    // Read only when asked for: the report does not need them.
    IndexBlock indexes;
};

// The bytes of a row of a page, found as libmdb's mdb_find_row finds them (the offset flags are
// ignored); nothing when the offsets point outside the page or the row number is beyond what
// libmdb looks at.
std::optional<std::span<const std::uint8_t>> rowOnPage(std::span<const std::uint8_t> page, const PageLayout &layout,
                                                       unsigned int row);

// The row a "page and row" pointer names (row number in the low byte), as mdb_find_pg_row
// finds it.
std::optional<std::span<const std::uint8_t>> pointedRow(PageReader &pages, const PageLayout &layout,
                                                        std::uint32_t pageRow);

// Nothing when the definition is damaged: not a definition page, more columns than libmdb can
// hold, two columns with one number, a usage or free-space map that cannot be found, an empty
// usage map, descriptors or names beyond the pages the definition has.
// decodeName(bytes, maxBytes) decodes a column name as mdb_unicode2ascii does, surrogate pairs
// included.
// With withIndexes, the indexes are read too; damage there is told in TableDefinition::indexes and
// leaves the columns as they are.
std::optional<TableDefinition> readTableDefinition(PageReader &pages, const DefinitionLayout &layout,
                                                   std::uint32_t firstPage, const TextDecoder &decodeName,
                                                   bool withIndexes = false);

// A long value (memo or OLE) read the way libmdb's mdb_ole_read_full reads it, from its 12-byte
// header and, for a value kept in the row itself, the bytes after the header. The chain of pages
// is checked: a chain that runs in a circle makes libmdb grow its buffer for ever, and one that
// points beyond the file or at a row that is not there would end the value early (or, for a row
// beyond the page's count, read bytes that are no row at all). Nothing when
// the chain is unusable or the value longer than maxBytes; an empty value for a header of a kind
// libmdb does not read.
std::optional<std::vector<std::uint8_t>> readLongValue(std::span<const std::uint8_t> header,
                                                       std::span<const std::uint8_t> inlineValue, PageReader &pages,
                                                       const PageLayout &layout, std::size_t maxBytes);

} // namespace Engine
