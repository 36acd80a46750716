#pragma once

// The records of the whole structure of a database (beyond the report): what the worker reads
// from table definitions, property blocks and system tables, sent record by record. Standard
// library only, shared by the worker and the program.
//
//   record       = u8 kind, then
//     Database:     u8 version byte of the header, string AccessVersion property, u8 encrypted,
//                   u8 database password
//     Table:        string name, u8 counted, i64 records, properties, u8 definition read, u32
//                   count, field..., u32 count, index..., string note (a table whose definition
//                   could not be read has neither fields nor indexes)
//     Relationship: string name, string primary table, strings, string foreign table, strings,
//                   u32 flags (Enforced 1, CascadeUpdates 2, CascadeDeletes 4, CascadeNull 8,
//                   OneToOne 16), string join, string note
//     Query:        string name, string type, string sql, string note
//     Link:         string name, string target, string database, string connection, string note
//     Note:         string text
//   field        = string name, i32 ADO type, i64 defined size, string Access type, optional
//                  string field size, optional i32 precision, optional i32 scale, u8 multi-valued,
//                  properties, string note
//   index        = string name, u32 count, (string field, u8 descending)..., u8 flags (Primary 1,
//                  Unique 2, IgnoreNulls 4, Required 8, ForeignKey 16), string note
//   properties   = u32 count, (string name, string text)...
//   strings      = u32 count, string...
//   optional x   = u8 present, x when present

#include "protocol/EngineProtocol.h"

#include <optional>
#include <string>
#include <vector>

namespace EngineProtocol {

struct Property
{
    std::string name;
    std::string text;
    bool operator==(const Property &) const = default;
};

struct StructureField
{
    std::string name;
    std::int32_t adoType = 0;
    std::int64_t definedSize = 0;
    std::string accessType;
    std::optional<std::string> fieldSize;
    std::optional<std::int32_t> precision;
    std::optional<std::int32_t> scale;
    bool multiValued = false;
    std::vector<Property> properties;
    std::string note;
    bool operator==(const StructureField &) const = default;
};

struct StructureIndex
{
    std::string name;
    std::vector<std::pair<std::string, bool>> fields; // name, descending
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;
    bool foreignKey = false;
    std::string note;
    bool operator==(const StructureIndex &) const = default;
};

struct StructureTable
{
    std::string name;
    std::optional<std::int64_t> records;
    std::vector<Property> properties;
    // Whether the table's definition was read: without it its fields and indexes are unknown, which
    // is not the same as having none.
    bool definitionRead = true;
    std::vector<StructureField> fields;
    std::vector<StructureIndex> indexes;
    std::string note;
    bool operator==(const StructureTable &) const = default;
};

struct StructureRelationship
{
    std::string name;
    std::string primaryTable;
    std::vector<std::string> primaryFields;
    std::string foreignTable;
    std::vector<std::string> foreignFields;
    bool enforced = false;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
    bool cascadeNull = false;
    bool oneToOne = false;
    std::string join;
    std::string note;
    bool operator==(const StructureRelationship &) const = default;
};

struct StructureQuery
{
    std::string name;
    std::string type;
    std::string sql;
    std::string note;
    bool operator==(const StructureQuery &) const = default;
};

struct StructureLink
{
    std::string name;
    std::string target;
    std::string database;   // a linked Access (or other file) database's path
    std::string connection; // an ODBC link's connection text, as stored
    std::string note;
    bool operator==(const StructureLink &) const = default;
};

struct StructureDatabase
{
    std::uint8_t version = 0;
    std::string accessVersion;
    bool encrypted = false;
    bool databasePassword = false;
    bool operator==(const StructureDatabase &) const = default;
};

enum class StructureKind : std::uint8_t {
    Database = 1,
    Table = 2,
    Relationship = 3,
    Query = 4,
    Link = 5,
    Note = 6,
};

struct StructureRecord
{
    StructureKind kind = StructureKind::Note;
    StructureDatabase database;
    StructureTable table;
    StructureRelationship relationship;
    StructureQuery query;
    StructureLink link;
    std::string note;
};

// Appends one record to a writer that collects records.
void appendStructureRecord(Writer &out, const StructureRecord &record);

// Reads one record; nothing when the bytes are not a whole, sensible record (the reader fails).
std::optional<StructureRecord> readStructureRecord(Reader &in);

// The records of one Part of the answer to Structure (the body after the status byte: u32 count,
// records); nothing when it is not exactly that. The final Ok answer gives the number of records
// sent in all, as Describe's does (decodeDescribeEnd).
std::optional<std::vector<StructureRecord>> decodeStructurePart(Reader &body);

} // namespace EngineProtocol
