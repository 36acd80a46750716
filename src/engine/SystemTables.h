#pragma once

// Rows of the system tables that hold the structure beyond the tables themselves
// (MSysRelationships, MSysQueries, MSysComplexColumns, and the link columns of MSysObjects), read
// through libmdb with the same checks the catalogue gets before libmdb walks a table.

#include "engine/Mdb.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Engine {

struct SystemRows
{
    // Per row, the wanted columns' values as text (numbers in decimal); nothing for a null or
    // for a column the table does not have.
    std::vector<std::vector<std::optional<std::string>>> rows;
    // Why the table could not be read (whole); empty when it was.
    std::string problem;
};

// Reads every row of the table whose definition starts at tablePage. maxRows bounds a damaged
// table's row count. Text is as libmdb decodes it (UTF-8).
SystemRows readSystemRows(MdbHandle *mdb, std::uint32_t tablePage, const char *tableName,
                          const std::vector<std::string> &columns, std::size_t maxRows = 1000000);

} // namespace Engine
