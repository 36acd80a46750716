#pragma once

// Rows of the system tables that hold the structure beyond the tables themselves
// (MSysRelationships, MSysQueries, MSysComplexColumns, and the link columns of MSysObjects), read
// through libmdb with the same checks the catalogue gets before libmdb walks a table.
//
// Each system table that is read has a row of named fields, filled from its columns in one place
// (SystemTables.cpp): nobody counts columns. A null, a column the table does not have and a
// number that does not parse all leave a field empty.

#include "engine/AccessStorage.h"
#include "engine/DataPages.h"
#include "engine/Mdb.h"
#include "engine/QueryText.h"
#include "engine/Relationships.h"

#include <cstdint>
#include <functional>
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
// table's row count. Text is as libmdb decodes it (UTF-8), but with characters beyond U+FFFF kept.
SystemRows readSystemRows(MdbHandle *mdb, std::uint32_t tablePage, const char *tableName,
                          const std::vector<std::string> &columns, std::size_t maxRows = 1000000);

// The rows of one system table, as named fields.
template <class Row> struct SystemTable
{
    std::vector<Row> rows;
    // Why the table could not be read (whole); empty when it was.
    std::string problem;
};

// A row of MSysObjects, for what the catalogue keeps no copy of: whole ids, the unmasked type and
// the columns of links.
struct ObjectRow
{
    std::optional<std::int64_t> id;         // Id
    std::optional<std::string> name;        // Name
    std::optional<std::int64_t> type;       // Type, as stored (not masked)
    std::optional<std::int32_t> flags;      // Flags
    std::optional<std::string> database;    // Database: the file a linked table is in
    std::optional<std::string> foreignName; // ForeignName: the linked table's name there
    std::optional<std::string> connect;     // Connect: the connection of a link
    std::optional<std::string> created;     // DateCreate, "2020-05-01T10:00:00"
    std::optional<std::string> updated;     // DateUpdate
    // LvExtra as stored (a table's data macros, in ACE): its long-value header and what follows it
    // in the row, read whole by whoever needs it; empty for a null.
    std::vector<std::uint8_t> extraHeader;
    std::vector<std::uint8_t> extraInRow;
    bool extraDamaged = false;
};

// A row of MSysComplexColumns: the template behind an attachment or multi-valued column.
struct ComplexColumnRow
{
    std::optional<std::string> columnName;           // ColumnName
    std::optional<std::int64_t> complexTypeObjectId; // ComplexTypeObjectID: the template's MSysObjects Id
    std::optional<std::int64_t> conceptualTableId;   // ConceptualTableID: the table's MSysObjects Id
};

// A row of MSysQueries with the saved query it belongs to.
struct StoredQueryRow
{
    std::optional<std::int64_t> objectId; // ObjectId: the query's MSysObjects Id
    // The rest, as rebuildQuery reads it: Attribute (-1 when it is missing), Expression, Flag,
    // Name1, Name2, LvExtra.
    QueryRow query;
};

// MSysObjects itself, whose definition is always on page 2.
SystemTable<ObjectRow> readObjectRows(MdbHandle *mdb);
// The others, from where the catalogue says their definitions start.
SystemTable<ComplexColumnRow> readComplexColumnRows(MdbHandle *mdb, std::uint32_t tablePage);
SystemTable<RelationshipRow> readRelationshipRows(MdbHandle *mdb, std::uint32_t tablePage);
SystemTable<StoredQueryRow> readQueryRows(MdbHandle *mdb, std::uint32_t tablePage);
// A row of MSysModules2, where Access 97 keeps each module (and the code behind each form and
// report) in a blob of its own.
struct ModuleRow
{
    std::optional<std::string> name;                // Name
    std::optional<std::int64_t> type;               // Type: 32775 a module, 32768 a form's, 32772 a report's
    std::optional<std::vector<std::uint8_t>> bytes; // Module
    bool damaged = false;
};
SystemTable<ModuleRow> readModuleRows(MdbHandle *mdb, std::uint32_t tablePage, PageReader &pages,
                                      const PageLayout &layout, std::size_t maxModuleBytes);

// The forms, reports, macros and modules among MSysObjects' rows.
std::vector<ApplicationObject> applicationObjects(const std::vector<ObjectRow> &rows);
// The rows of MSysAccessObjects, in which Access 2000 keeps one compound file cut into chunks.
SystemTable<ObjectChunk> readObjectChunks(MdbHandle *mdb, std::uint32_t tablePage);
// The streams' bytes are read with the worker's own page reader, each up to maxStreamBytes, of the
// rows `wanted` takes (all without it): a form's layout and pictures are many times its code.
SystemTable<StorageRow> readStorageRows(MdbHandle *mdb, std::uint32_t tablePage, PageReader &pages,
                                        const PageLayout &layout, std::size_t maxStreamBytes,
                                        const std::function<bool(const StorageRow &)> &wanted = {});

} // namespace Engine
