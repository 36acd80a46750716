#pragma once

// What the in-process fuzz targets share: the table-definition layouts of Jet 3 and Jet 4 (libmdb's
// format constants, written out here because the fuzz build has no test support; the tests' copy in
// tests/support/DefinitionFormats is the one tst_tabledefinition checks against libmdb itself), a
// name decoder that needs no libmdb, and a database image built from the fuzz input.
//
// Inputs of the page-based targets start with one byte that chooses the format (bit 0 set: Jet 3,
// 2048-byte pages; else Jet 4 / ACE, 4096-byte pages); the pages follow. Page 0 is the header page
// in a database, which the readers never take for a table's page, so the input's pages are pages
// 1, 2, ... of the image and page 0 is zeros.

#include "engine/DataPages.h"
#include "engine/TableDefinition.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Fuzz {

inline Engine::DefinitionLayout definitionLayout(bool jet3)
{
    Engine::DefinitionLayout layout;
    layout.jet3 = jet3;
    if (jet3) {
        layout.page = {2048, 0x08};
        layout.numColumnsOffset = 25;
        layout.numRealIndexesOffset = 31;
        layout.usageMapOffset = 35;
        layout.freeMapOffset = 39;
        layout.columnsStartOffset = 43;
        layout.realIndexEntrySize = 8;
        layout.columnEntrySize = 18;
        layout.columnNumberOffset = 1;
        layout.columnSizeOffset = 16;
        layout.columnFlagsOffset = 13;
    } else {
        layout.page = {4096, 0x0C};
        layout.numColumnsOffset = 45;
        layout.numRealIndexesOffset = 51;
        layout.usageMapOffset = 55;
        layout.freeMapOffset = 59;
        layout.columnsStartOffset = 63;
        layout.realIndexEntrySize = 12;
        layout.columnEntrySize = 25;
        layout.columnNumberOffset = 5;
        layout.columnSizeOffset = 23;
        layout.columnFlagsOffset = 15;
    }
    layout.nameBufferSize = 257;
    return layout;
}

// Stored text as the readers hand it over: every non-zero byte, at most maxBytes - 1 of them (what
// libmdb's decoder would fit into its buffer). Reads every byte it is given.
inline std::string decodeName(std::span<const std::uint8_t> text, std::size_t maxBytes)
{
    std::string out;
    for (const std::uint8_t byte : text)
        if (byte != 0 && out.size() + 1 < maxBytes)
            out.push_back(static_cast<char>(byte));
    return out;
}

// A database image of the input's pages after a zeroed page 0, read through the page reader. The
// image is a copy of exactly the input's bytes: the reader pads a short last page itself.
class Image
{
public:
    Image(std::span<const std::uint8_t> pages, std::size_t pageSize) : m_bytes(pageSize, 0)
    {
        m_bytes.insert(m_bytes.end(), pages.begin(), pages.end());
        m_bytes.shrink_to_fit();
        m_reader.openImage(m_bytes, pageSize, 0);
    }
    Engine::PageReader &reader() { return m_reader; }

private:
    std::vector<std::uint8_t> m_bytes;
    Engine::PageReader m_reader;
};

} // namespace Fuzz
