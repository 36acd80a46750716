#pragma once

// Where things stand in a table definition of each Access format, as libmdb's format constants give
// them (MdbJet3Constants; MdbJet4Constants, which libmdb takes for ACE files too): for the tests
// that write definitions by hand and read definitions with the worker's reader.
// tst_tabledefinition checks these numbers against libmdb's own on real files.
//
// Standard library only: this folder serves the tests of every layer, and only the engine's may see
// engine headers. A test of the engine gets the worker's own layout through
// definitionLayout<Engine::DefinitionLayout>().

#include <cstddef>

namespace TestSupport {

enum class AccessFormat { Jet3, Jet4, Ace };

// The format of a database from the version byte of its header (libmdb's jet_version).
AccessFormat accessFormat(int version);

struct DefinitionFormat
{
    bool jet3 = false;
    std::size_t pageSize = 0;             // pg_size
    std::size_t rowCountOffset = 0;       // row_count_offset
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
    // Where a variable-length column's index among the variable ones is kept (tab_col_offset_var):
    // the worker's reader has no use for it, but a definition written by hand needs it.
    std::size_t variableIndexOffset = 0;
};

DefinitionFormat definitionFormat(AccessFormat format);

// The worker's DefinitionLayout (a template parameter, so that this folder needs no engine header).
// The fields libmdb has no constant for keep the layout's own defaults.
template <class Layout> Layout definitionLayout(AccessFormat format)
{
    const DefinitionFormat f = definitionFormat(format);
    Layout layout;
    layout.jet3 = f.jet3;
    layout.page.pageSize = f.pageSize;
    layout.page.rowCountOffset = f.rowCountOffset;
    layout.numColumnsOffset = f.numColumnsOffset;
    layout.numRealIndexesOffset = f.numRealIndexesOffset;
    layout.usageMapOffset = f.usageMapOffset;
    layout.freeMapOffset = f.freeMapOffset;
    layout.columnsStartOffset = f.columnsStartOffset;
    layout.realIndexEntrySize = f.realIndexEntrySize;
    layout.columnEntrySize = f.columnEntrySize;
    layout.columnNumberOffset = f.columnNumberOffset;
    layout.columnSizeOffset = f.columnSizeOffset;
    layout.columnFlagsOffset = f.columnFlagsOffset;
    return layout;
}

} // namespace TestSupport
