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
#include <string_view>
#include <vector>

namespace EngineProtocol {

template <class Text> struct BasicProperty
{
    Text name;
    Text text;
    bool operator==(const BasicProperty &) const = default;
};

template <class Text> struct BasicStructureField
{
    Text name;
    std::int32_t adoType = 0;
    std::int64_t definedSize = 0;
    Text accessType;
    std::optional<Text> fieldSize;
    std::optional<std::int32_t> precision;
    std::optional<std::int32_t> scale;
    bool multiValued = false;
    std::vector<BasicProperty<Text>> properties;
    Text note;
    bool operator==(const BasicStructureField &) const = default;
};

template <class Text> struct BasicStructureIndex
{
    Text name;
    std::vector<std::pair<Text, bool>> fields; // name, descending
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;
    bool foreignKey = false;
    Text note;
    bool operator==(const BasicStructureIndex &) const = default;
};

template <class Text> struct BasicStructureTable
{
    Text name;
    std::optional<std::int64_t> records;
    std::vector<BasicProperty<Text>> properties;
    // Whether the table's definition was read: without it its fields and indexes are unknown, which
    // is not the same as having none.
    bool definitionRead = true;
    std::vector<BasicStructureField<Text>> fields;
    std::vector<BasicStructureIndex<Text>> indexes;
    Text note;
    // The table's data macros (ACE): per event ("AfterUpdate", ...), Access's XML.
    std::vector<BasicProperty<Text>> dataMacros;
    bool operator==(const BasicStructureTable &) const = default;
};

template <class Text> struct BasicStructureRelationship
{
    Text name;
    Text primaryTable;
    std::vector<Text> primaryFields;
    Text foreignTable;
    std::vector<Text> foreignFields;
    bool enforced = false;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
    bool cascadeNull = false;
    bool oneToOne = false;
    Text join;
    Text note;
    bool operator==(const BasicStructureRelationship &) const = default;
};

template <class Text> struct BasicStructureQuery
{
    Text name;
    Text type;
    Text sql;
    Text note;
    bool operator==(const BasicStructureQuery &) const = default;
};

template <class Text> struct BasicStructureLink
{
    Text name;
    Text target;
    Text database;   // a linked Access (or other file) database's path
    Text connection; // an ODBC link's connection text, as stored
    Text note;
    bool operator==(const BasicStructureLink &) const = default;
};

template <class Text> struct BasicStructureDatabase
{
    std::uint8_t version = 0;
    Text accessVersion;
    bool encrypted = false;
    bool databasePassword = false;
    bool operator==(const BasicStructureDatabase &) const = default;
};

// The application around the tables: a form, report, macro or module as MSysObjects lists it.
enum class ObjectType : std::uint8_t { Form = 1, Report = 2, Macro = 3, Module = 4 };

template <class Text> struct BasicStructureObject
{
    ObjectType type = ObjectType::Module;
    Text name;
    std::optional<Text> created; // "2020-05-01T10:00:00"
    std::optional<Text> updated;
    bool operator==(const BasicStructureObject &) const = default;
};

template <class Text> struct BasicStructureReference
{
    Text name;
    // As stored: "*\G{GUID}#version#lcid#path#description" for a library, a path for a project.
    Text libid;
    bool project = false;
    bool operator==(const BasicStructureReference &) const = default;
};

// The VBA project: one record before its modules.
template <class Text> struct BasicStructureProject
{
    Text name;
    std::uint32_t codePage = 0;
    bool compiledOnly = false;
    std::vector<BasicStructureReference<Text>> references;
    bool operator==(const BasicStructureProject &) const = default;
};

template <class Text> struct BasicStructureModule
{
    Text name;
    bool classModule = false;   // a class module, or the code behind a form or a report
    std::optional<Text> source; // as stored, in UTF-8; nothing when it could not be read
    Text note;
    bool operator==(const BasicStructureModule &) const = default;
};

template <class Text> struct BasicStructureMacro
{
    Text name;
    std::optional<Text> definition; // Access's XML; nothing for a binary macro
    Text note;
    bool operator==(const BasicStructureMacro &) const = default;
};

enum class StructureKind : std::uint8_t {
    Database = 1,
    Table = 2,
    Relationship = 3,
    Query = 4,
    Link = 5,
    Note = 6,
    Object = 7,
    Project = 8,
    Module = 9,
    Macro = 10,
};

template <class Text> struct BasicStructureRecord
{
    StructureKind kind = StructureKind::Note;
    BasicStructureDatabase<Text> database;
    BasicStructureTable<Text> table;
    BasicStructureRelationship<Text> relationship;
    BasicStructureQuery<Text> query;
    BasicStructureLink<Text> link;
    BasicStructureObject<Text> object;
    BasicStructureProject<Text> project;
    BasicStructureModule<Text> module;
    BasicStructureMacro<Text> macro;
    Text note;
};

// The records as the program keeps or the worker writes them; the views are read in place and
// point into the answer they were read from.
using Property = BasicProperty<std::string>;
using StructureField = BasicStructureField<std::string>;
using StructureIndex = BasicStructureIndex<std::string>;
using StructureTable = BasicStructureTable<std::string>;
using StructureRelationship = BasicStructureRelationship<std::string>;
using StructureQuery = BasicStructureQuery<std::string>;
using StructureLink = BasicStructureLink<std::string>;
using StructureDatabase = BasicStructureDatabase<std::string>;
using StructureRecord = BasicStructureRecord<std::string>;
using PropertyView = BasicProperty<std::string_view>;
using StructureFieldView = BasicStructureField<std::string_view>;
using StructureIndexView = BasicStructureIndex<std::string_view>;
using StructureTableView = BasicStructureTable<std::string_view>;
using StructureRelationshipView = BasicStructureRelationship<std::string_view>;
using StructureLinkView = BasicStructureLink<std::string_view>;
using StructureRecordView = BasicStructureRecord<std::string_view>;

// Appends one record to a writer that collects records.
void appendStructureRecord(Writer &out, const StructureRecord &record);

// Reads one record; nothing when the bytes are not a whole, sensible record (the reader fails).
std::optional<StructureRecord> readStructureRecord(Reader &in);

// The records of one Part of the answer to Structure (the body after the status byte: u32 count,
// records); nothing when it is not exactly that. The final Ok answer gives the number of records
// sent in all, as Describe's does (decodeDescribeEnd).
std::optional<std::vector<StructureRecord>> decodeStructurePart(Reader &body);
// The same, read in place: the records' texts are views into the body's bytes, valid while they are.
std::optional<std::vector<StructureRecordView>> decodeStructurePartViews(Reader &body);

} // namespace EngineProtocol
