// The whole structure of a database, beyond the report: each table's fields with Access's own
// types and every stored property, its indexes, and the database's relationships, saved queries
// and linked tables. A part that cannot be read is sent with a note and the rest goes on; only a
// database that cannot be read at all fails.

#include "engine/AccessTypes.h"
#include "engine/EngineErrors.h"
#include "engine/MdbDatabase.h"
#include "engine/QueryText.h"
#include "engine/Relationships.h"
#include "engine/SystemTables.h"
#include "engine/TableTypes.h"

#include <algorithm>
#include <map>

namespace Engine {

namespace {

using EngineProtocol::StructureKind;
using EngineProtocol::StructureRecord;

constexpr std::string_view kVersionHistory = "VersionHistory_";
constexpr std::string_view kResultTypeName = "ResultType";
// Saved queries whose names start so are the hidden record sources of forms, reports and
// controls, not queries a user made.
constexpr char kHiddenQueryMark = '~';

std::string safe(std::string_view text)
{
    return EngineProtocol::sanitizeUtf8(text);
}

std::optional<std::int64_t> number(const std::optional<std::string> &text)
{
    if (!text || text->empty())
        return std::nullopt;
    char *end = nullptr;
    const long long value = std::strtoll(text->c_str(), &end, 10);
    if (end == text->c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> number32(const std::optional<std::string> &text)
{
    const auto value = number(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

void addNote(std::string &note, const std::string &text)
{
    if (!note.empty())
        note += "; ";
    note += text;
}

} // namespace

void MdbDatabase::structure(const std::vector<std::string> &wantedTables, const StructureSink &emit,
                            const Heartbeat &heartbeat)
{
    if (!m_handle)
        throw Errors::objectClosed();
    const TextDecoder decode = [this](std::span<const std::uint8_t> text, std::size_t maxBytes) {
        return decodeText(text, maxBytes);
    };
    const auto note = [&](const std::string &text) {
        StructureRecord record;
        record.kind = StructureKind::Note;
        record.note = safe(text);
        emit(std::move(record));
    };
    // A table of the catalogue by name; with anyType, any object (the database's own row, MSysDb,
    // is not a table).
    const auto findObject = [&](std::string_view name, bool anyType = false) -> const CatalogObject * {
        for (const CatalogObject &object : m_objects)
            if ((anyType || object.type == kObjectTable) && object.name == name)
                return &object;
        return nullptr;
    };
    // Every property list of an object's block; a damaged block is a note, not a failure.
    const auto propertyLists = [&](const CatalogObject &object, std::string *problem) {
        try {
            return readAllProperties(propertyBlock(object), decode);
        } catch (const EngineFailure &) {
            if (problem)
                addNote(*problem, "its properties are damaged and were left out");
            return std::vector<PropertyList>();
        }
    };

    // The database itself.
    {
        StructureRecord record;
        record.kind = StructureKind::Database;
        record.database.version = static_cast<std::uint8_t>(m_handle->f->jet_version);
        if (const CatalogObject *database = findObject("MSysDb", true)) {
            for (const PropertyList &list : propertyLists(*database, nullptr))
                for (const auto &[name, value] : list.values)
                    if (list.name.empty() && name == "AccessVersion")
                        record.database.accessVersion = safe(Engine::propertyText(value, decode));
        }
        record.database.encrypted = m_officeEncrypted || m_handle->f->db_key != 0;
        record.database.databasePassword = m_databasePassword;
        emit(std::move(record));
    }

    // MSysObjects again, for what the catalogue keeps no copy of: whole ids and the link columns.
    const SystemRows objects = readSystemRows(m_handle, 2, "MSysObjects",
                                              {"Id", "Name", "Type", "Flags", "Database", "ForeignName", "Connect"});
    if (!objects.problem.empty())
        note(objects.problem);
    std::map<std::int64_t, std::string> nameOfId;
    for (const auto &row : objects.rows)
        if (const auto id = number(row[0]))
            nameOfId[*id] = row[1].value_or(std::string());

    // Complex columns: which template (attachment, or the type of a multi-valued field) each has.
    std::map<std::pair<std::uint32_t, std::string>, std::string> complexTemplates;
    if (const CatalogObject *complex = findObject("MSysComplexColumns")) {
        const SystemRows rows = readSystemRows(m_handle, complex->tablePage, "MSysComplexColumns",
                                               {"ColumnName", "ComplexTypeObjectID", "ConceptualTableID"});
        if (!rows.problem.empty())
            note(rows.problem);
        for (const auto &row : rows.rows) {
            const auto type = number(row[1]);
            const auto table = number(row[2]);
            if (row[0] && type && table && nameOfId.count(*type))
                complexTemplates[{static_cast<std::uint32_t>(*table) & 0x00FFFFFF, *row[0]}] = nameOfId[*type];
        }
    }

    // The tables, in catalogue order.
    std::vector<std::string> allTables;
    for (std::size_t i = 0; i < m_objects.size(); ++i) {
        const CatalogObject &object = m_objects[i];
        if (object.type != kObjectTable && object.type != kObjectLinkedTable && object.rawType != kRawOdbcLinkType)
            continue;
        allTables.push_back(object.name);
        const std::string name = safe(object.name);
        const auto local = m_localTables.find(name);
        // User tables only, as the table list has them: not system tables, not Access's own.
        if (object.type != kObjectTable || local == m_localTables.end() || local->second != i ||
            tableType(object.type, object.flags, false) != "TABLE")
            continue;
        if (!wantedTables.empty() && std::find(wantedTables.begin(), wantedTables.end(), name) == wantedTables.end())
            continue;
        if (heartbeat)
            heartbeat();

        StructureRecord record;
        record.kind = StructureKind::Table;
        EngineProtocol::StructureTable &table = record.table;
        table.name = name;
        try {
            // Counted only: the fields are read below, with all their properties.
            fields(name, heartbeat, false);
            table.records = *m_tables.find(name)->second.recordCount;
        } catch (const EngineFailure &failure) {
            addNote(table.note, std::string("its records could not be counted: ") + failure.what());
        }
        const std::optional<TableDefinition> definition =
            readTableDefinition(m_pages, m_layout, object.tablePage, decode, true);
        if (!definition) {
            addNote(table.note, "its definition is damaged: its fields and indexes could not be read");
            emit(std::move(record));
            continue;
        }
        const std::vector<PropertyList> lists = propertyLists(object, &table.note);
        const auto listOf = [&](const std::string &storedName) -> const PropertyList * {
            for (const PropertyList &list : lists)
                if (list.name == storedName)
                    return &list; // the first list of a name, as libmdb attaches it
            return nullptr;
        };
        if (const PropertyList *own = listOf(std::string()))
            for (const auto &[propertyName, value] : own->values)
                table.properties.push_back({safe(propertyName), safe(Engine::propertyText(value, decode))});

        std::map<unsigned int, std::string> columnNames;
        for (const DefinedColumn &column : definition->columns) {
            const std::string columnName = safe(column.name);
            columnNames[column.number] = columnName;
            if (column.stored.type == kComplex && std::string_view(columnName).starts_with(kVersionHistory))
                continue; // Access's hidden column of an append-only memo
            EngineProtocol::StructureField field;
            field.name = columnName;
            ColumnDesign design{column.stored, column.flags, column.precision, column.scale, std::nullopt};
            if (const PropertyList *list = listOf(column.name)) {
                for (const auto &[propertyName, value] : list->values) {
                    const std::string text = Engine::propertyText(value, decode);
                    if (propertyName == kResultTypeName)
                        design.stored.resultType = parseResultType(text);
                    field.properties.push_back({safe(propertyName), safe(text)});
                }
            }
            if (column.stored.type == kComplex) {
                const auto found = complexTemplates.find({object.tablePage, column.name});
                if (found != complexTemplates.end())
                    design.complexTemplate = found->second;
                else
                    addNote(field.note, "what kind of complex field it is could not be read");
            }
            const AdoField ado = adoFieldFor(design.stored);
            field.adoType = ado.type;
            field.definedSize = ado.definedSize;
            const AccessFieldType access = accessFieldType(design);
            field.accessType = access.accessType;
            field.fieldSize = access.fieldSize;
            field.precision = access.precision;
            field.scale = access.scale;
            field.multiValued = access.multiValued;
            table.fields.push_back(std::move(field));
        }
        if (!definition->indexes.problem.empty())
            addNote(table.note, "indexes: " + definition->indexes.problem);
        for (const IndexDefinition &index : definition->indexes.indexes) {
            EngineProtocol::StructureIndex out;
            out.name = safe(index.name);
            out.primary = index.primary;
            out.unique = index.unique;
            out.ignoreNulls = index.ignoreNulls;
            out.required = index.required;
            out.foreignKey = index.foreignKey;
            out.note = safe(index.problem);
            for (const IndexColumn &column : index.columns) {
                const auto found = columnNames.find(column.columnNumber);
                if (found == columnNames.end()) {
                    addNote(out.note, "it names a field number the table does not have (" +
                                          std::to_string(column.columnNumber) + ")");
                    continue;
                }
                out.fields.emplace_back(found->second, column.descending);
            }
            table.indexes.push_back(std::move(out));
        }
        emit(std::move(record));
    }

    // Relationships.
    if (const CatalogObject *relationships = findObject("MSysRelationships")) {
        const SystemRows rows = readSystemRows(m_handle, relationships->tablePage, "MSysRelationships",
                                               {"ccolumn", "grbit", "icolumn", "szColumn", "szObject",
                                                "szReferencedColumn", "szReferencedObject", "szRelationship"});
        if (!rows.problem.empty())
            note(rows.problem);
        std::vector<RelationshipRow> stored;
        for (const auto &r : rows.rows)
            stored.push_back({number32(r[0]), number32(r[1]), number32(r[2]), r[3], r[4], r[5], r[6], r[7]});
        for (const Relationship &r : readRelationships(stored, allTables)) {
            StructureRecord record;
            record.kind = StructureKind::Relationship;
            auto &out = record.relationship;
            out.name = safe(r.name);
            out.primaryTable = safe(r.primaryTable);
            out.foreignTable = safe(r.foreignTable);
            for (const std::string &f : r.primaryFields)
                out.primaryFields.push_back(safe(f));
            for (const std::string &f : r.foreignFields)
                out.foreignFields.push_back(safe(f));
            out.enforced = r.enforced;
            out.cascadeUpdates = r.cascadeUpdates;
            out.cascadeDeletes = r.cascadeDeletes;
            out.cascadeNull = r.cascadeNull;
            out.oneToOne = r.oneToOne;
            out.join = r.join;
            out.note = safe(r.problem);
            emit(std::move(record));
        }
    }

    // Saved queries that a user sees.
    if (const CatalogObject *queries = findObject("MSysQueries")) {
        const SystemRows rows =
            readSystemRows(m_handle, queries->tablePage, "MSysQueries",
                           {"ObjectId", "Attribute", "Expression", "Flag", "LvExtra", "Name1", "Name2"});
        if (!rows.problem.empty())
            note(rows.problem);
        std::map<std::int64_t, std::vector<QueryRow>> byQuery;
        for (const auto &r : rows.rows) {
            const auto id = number(r[0]);
            if (!id)
                continue;
            byQuery[*id].push_back(
                QueryRow{number32(r[1]).value_or(-1), r[2], number32(r[3]), r[5], r[6], number32(r[4])});
        }
        for (const auto &object : objects.rows) {
            const std::string name = object[1].value_or(std::string());
            if (number(object[2]) != kObjectQuery || name.empty() || name.front() == kHiddenQueryMark)
                continue;
            if (heartbeat)
                heartbeat();
            const auto id = number(object[0]).value_or(0);
            const QueryText text = rebuildQuery(number32(object[3]).value_or(0), byQuery[id]);
            StructureRecord record;
            record.kind = StructureKind::Query;
            record.query.name = safe(name);
            record.query.type = text.type;
            record.query.sql = safe(text.sql);
            record.query.note = safe(text.problem);
            emit(std::move(record));
        }
    }

    // Linked tables: Access links (type 6) and ODBC links (type 4).
    for (const auto &object : objects.rows) {
        const auto type = number(object[2]);
        if (type != kObjectLinkedTable && type != kRawOdbcLinkType)
            continue;
        StructureRecord record;
        record.kind = StructureKind::Link;
        record.link.name = safe(object[1].value_or(std::string()));
        record.link.target = safe(object[5].value_or(std::string()));
        record.link.database = safe(object[4].value_or(std::string()));
        record.link.connection = safe(object[6].value_or(std::string()));
        if (record.link.database.empty() && record.link.connection.empty())
            record.link.note = "where the table points is not stored";
        emit(std::move(record));
    }
}

} // namespace Engine
