#pragma once

// The indexes of a table, from the end of its definition: after the column names come the
// physical index entries (which columns, in which order, unique or not), the logical entries
// (what Access shows: primary key, foreign key, the relationship behind it) and their names.

#include "engine/PropertyBlock.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Engine {

struct IndexColumn
{
    // The column's stored number (not its position: deleted columns keep theirs).
    unsigned int columnNumber = 0;
    bool descending = false;
};

struct IndexDefinition
{
    std::string name;
    std::vector<IndexColumn> columns;
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;
    // An index Access keeps for a relationship (hidden in its Indexes window).
    bool foreignKey = false;
    // Why this index could not be read whole; empty when it could.
    std::string problem;
};

struct IndexBlock
{
    std::vector<IndexDefinition> indexes;
    // Why the indexes after some point could not be read; empty when all were.
    std::string problem;
};

// Reads the index entries that start at `start` in the definition's bytes (the first page whole,
// then each continuation page from byte 8 on), for `physicalCount` physical and `logicalCount`
// logical indexes. Damage ends the reading with a problem, never out of bounds.
IndexBlock readIndexDefinitions(std::span<const std::uint8_t> definition, bool jet3, std::size_t start,
                                std::uint32_t physicalCount, std::uint32_t logicalCount, const TextDecoder &decodeName,
                                std::size_t nameBufferSize);

// Where the counts of indexes stand in a definition's first page.
inline constexpr std::size_t LogicalIndexCountOffsetJet3 = 27;
inline constexpr std::size_t LogicalIndexCountOffsetJet4 = 47;

} // namespace Engine
