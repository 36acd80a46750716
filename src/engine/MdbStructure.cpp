// The whole structure of a database, beyond the report: each table's fields with Access's own
// types and every stored property, its indexes, and the database's relationships, saved queries
// and linked tables. A part that cannot be read is sent with a note and the rest goes on; only a
// database that cannot be read at all fails.
//
// structure() reads it part after part, in the order the records are sent. Each part has a
// section below: first what turns its rows into records without asking the database, then the
// StructureReader members that read them.

#include "engine/AccessTypes.h"
#include "engine/ApplicationReader.h"
#include "engine/EngineErrors.h"
#include "engine/MdbDatabase.h"
#include "engine/QueryText.h"
#include "engine/Relationships.h"
#include "engine/SystemTables.h"
#include "engine/TableTypes.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <unordered_map>

namespace Engine {

namespace {

using EngineProtocol::StructureKind;
using EngineProtocol::StructureRecord;

// A complex column's template by its table's definition page and the column's stored name.
using ComplexTemplates = std::map<std::pair<std::uint32_t, std::string>, std::string>;

std::string safe(std::string_view text)
{
    return EngineProtocol::sanitizeUtf8(text);
}

// A text made for the record: one that needs nothing is kept, not copied.
std::string safe(std::string &&text)
{
    if (text.size() <= EngineProtocol::kMaxStringLength && EngineProtocol::isValidUtf8(text))
        return std::move(text);
    return EngineProtocol::sanitizeUtf8(text);
}

// A table's property lists by name, each name's first, as libmdb attaches them to columns: found
// once per column without comparing its name with every list before it.
class ListsByName
{
public:
    explicit ListsByName(const std::vector<PropertyList> &lists)
    {
        m_lists.reserve(lists.size());
        for (const PropertyList &list : lists)
            m_lists.emplace(list.name, &list);
    }

    const PropertyList *find(const std::string &name) const
    {
        const auto found = m_lists.find(name);
        return found == m_lists.end() ? nullptr : found->second;
    }

private:
    std::unordered_map<std::string_view, const PropertyList *> m_lists;
};

void addNote(std::string &note, const std::string &text)
{
    if (!note.empty())
        note += "; ";
    note += text;
}

} // namespace

// One structure() call: what its parts share (where records go, MSysObjects' rows, the complex
// columns' templates) and the parts themselves.
class MdbDatabase::StructureReader
{
public:
    StructureReader(MdbDatabase &database, const StructureSink &emit, const Heartbeat &heartbeat)
        : m_database(database), m_emit(emit), m_heartbeat(heartbeat),
          m_decode([&database](std::span<const std::uint8_t> text, std::size_t maxBytes) {
              return database.decodeText(text, maxBytes);
          })
    {
    }

    // The database's own record: versions and protection; then the catalogue's note, when it could
    // not be read to its end.
    void sendDatabase();
    // MSysObjects again, for what the catalogue keeps no copy of; the queries and links need it.
    void readObjects();
    // Which template (attachment, or the type of a multi-valued field) each complex column has.
    void readComplexTemplates();
    // The wanted user tables (all when none is named), in catalogue order.
    void sendTables(const std::vector<std::string> &wantedTables);
    void sendRelationships();
    // The saved queries a user sees, with their SQL rebuilt.
    void sendQueries();
    void sendLinks();
    // The forms, reports, macros and modules, the VBA project with each module's source, and the
    // macros' definitions.
    void sendApplication();

private:
    // A system table of the catalogue by name; anyObject also finds what is not a table (the
    // database's own row, MSysDb).
    const CatalogObject *systemTable(std::string_view name) const;
    const CatalogObject *anyObject(std::string_view name) const;
    // Every property list of an object's block; a damaged block, or one read only in part, is a
    // note added to *note, not a failure.
    std::vector<PropertyList> propertyLists(const CatalogObject &object, std::string *note);
    std::vector<PropertyList> propertyLists(const std::optional<std::vector<std::uint8_t>> &block, std::string *note);
    // A system table that could not be read whole is a note of its own.
    void noteProblem(const std::string &problem);
    void beat();

    bool isUserTable(std::size_t object, const std::string &safeName) const;
    StructureRecord tableRecord(const CatalogObject &object, const std::string &safeName);
    // The live rows the definition's usage map names; why they could not be counted otherwise.
    void countRecords(EngineProtocol::StructureTable &table, const CatalogObject &object,
                      const TableDefinition *definition, const std::optional<EngineFailure> &blockFailure);
    void addTableProperties(EngineProtocol::StructureTable &table, const std::vector<PropertyList> &lists);
    // The table's data macros, kept in its MSysObjects row's LvExtra (ACE).
    void addDataMacros(EngineProtocol::StructureTable &table, const CatalogObject &object);
    void addFields(EngineProtocol::StructureTable &table, const CatalogObject &object,
                   const TableDefinition &definition, const ListsByName &lists);
    EngineProtocol::StructureField fieldOf(const CatalogObject &object, const DefinedColumn &column,
                                           std::string safeName, const ListsByName &lists);
    // Every table's name as stored, links too: what relationships may name.
    std::vector<std::string> allTableNames() const;
    // The names of Access's own tables, whose relationships are not the database's design.
    std::vector<std::string> systemTableNames() const;

    MdbDatabase &m_database;
    const StructureSink &m_emit;
    const Heartbeat &m_heartbeat;
    const TextDecoder m_decode;
    SystemTable<ObjectRow> m_objectRows;
    // A table's row of m_objectRows by the page its definition starts on.
    std::map<std::uint32_t, std::size_t> m_tableRowByPage;
    ComplexTemplates m_complexTemplates;
};

void MdbDatabase::structure(const std::vector<std::string> &wantedTables, const StructureSink &emit,
                            const Heartbeat &heartbeat)
{
    if (!m_handle)
        throw Errors::objectClosed();
    StructureReader reader(*this, emit, heartbeat);
    reader.sendDatabase();
    reader.readObjects();
    reader.readComplexTemplates();
    reader.sendTables(wantedTables);
    reader.sendRelationships();
    reader.sendQueries();
    reader.sendLinks();
    reader.sendApplication();
}

// ---- the database ---------------------------------------------------------------------------------------------------

void MdbDatabase::StructureReader::sendDatabase()
{
    StructureRecord record;
    record.kind = StructureKind::Database;
    record.database.version = static_cast<std::uint8_t>(m_database.m_handle->f->jet_version);
    std::string note;
    if (const CatalogObject *database = anyObject("MSysDb")) {
        for (const PropertyList &list : propertyLists(*database, &note))
            for (const auto &[name, value] : list.values)
                if (list.name.empty() && name == "AccessVersion")
                    record.database.accessVersion = safe(Engine::propertyText(value, m_decode));
    }
    record.database.encrypted = m_database.m_officeEncrypted || m_database.m_handle->f->db_key != 0;
    record.database.databasePassword = m_database.m_databasePassword;
    m_emit(std::move(record));
    // A catalogue read only in part leaves out tables, queries and links alike: the document says so.
    noteProblem(m_database.catalogueNote());
    // Without them the database's Access version is not known.
    if (!note.empty())
        noteProblem("MSysDb, the database's own object: " + note);
}

// ---- MSysObjects again, and the complex columns ---------------------------------------------------------------------

void MdbDatabase::StructureReader::readObjects()
{
    m_objectRows = Engine::readObjectRows(m_database.m_handle);
    noteProblem(m_objectRows.problem);
    for (std::size_t i = 0; i < m_objectRows.rows.size(); ++i) {
        const ObjectRow &row = m_objectRows.rows[i];
        // A table's definition page is the low bits of its Id; the first row of a page counts.
        if (row.id && row.type == kObjectTable)
            m_tableRowByPage.emplace(std::uint32_t(*row.id) & 0x00FFFFFF, i);
    }
}

void MdbDatabase::StructureReader::readComplexTemplates()
{
    const CatalogObject *complex = systemTable("MSysComplexColumns");
    if (!complex)
        return;
    const SystemTable<ComplexColumnRow> rows = readComplexColumnRows(m_database.m_handle, complex->tablePage);
    noteProblem(rows.problem);
    std::map<std::int64_t, std::string> nameOfId;
    for (const ObjectRow &object : m_objectRows.rows)
        if (object.id)
            nameOfId[*object.id] = object.name.value_or(std::string());
    for (const ComplexColumnRow &row : rows.rows) {
        if (!row.columnName || !row.complexTypeObjectId || !row.conceptualTableId)
            continue;
        const auto found = nameOfId.find(*row.complexTypeObjectId);
        if (found == nameOfId.end())
            continue;
        // The table's Id is its definition page in the low 24 bits.
        const auto tablePage = static_cast<std::uint32_t>(*row.conceptualTableId) & 0x00FFFFFF;
        m_complexTemplates[{tablePage, *row.columnName}] = found->second;
    }
}

// ---- tables ---------------------------------------------------------------------------------------------------------

namespace {

constexpr std::string_view kVersionHistory = "VersionHistory_";
constexpr std::string_view kResultTypeName = "ResultType";

// The first list of a name, as libmdb attaches it; the table's own list has an empty name.
const PropertyList *listNamed(const std::vector<PropertyList> &lists, const std::string &storedName)
{
    for (const PropertyList &list : lists)
        if (list.name == storedName)
            return &list;
    return nullptr;
}

// Access's hidden column of an append-only memo.
bool isVersionHistory(const DefinedColumn &column, const std::string &safeName)
{
    return column.stored.type == kComplex && std::string_view(safeName).starts_with(kVersionHistory);
}

void setFieldTypes(EngineProtocol::StructureField &field, const ColumnDesign &design)
{
    const AdoField ado = adoFieldFor(design.stored);
    field.adoType = ado.type;
    field.definedSize = ado.definedSize;
    const AccessFieldType access = accessFieldType(design);
    field.accessType = access.accessType;
    field.fieldSize = access.fieldSize;
    field.precision = access.precision;
    field.scale = access.scale;
    field.multiValued = access.multiValued;
}

// Indexes name their fields by stored column number, hidden columns included. Of two columns with
// one number the later is named. A table has few indexes: looked for, not mapped.
const DefinedColumn *columnNumbered(const TableDefinition &definition, unsigned int number)
{
    for (auto column = definition.columns.rbegin(); column != definition.columns.rend(); ++column)
        if (column->number == number)
            return &*column;
    return nullptr;
}

EngineProtocol::StructureIndex indexOf(const IndexDefinition &index, const TableDefinition &definition)
{
    EngineProtocol::StructureIndex out;
    out.name = safe(index.name);
    out.primary = index.primary;
    out.unique = index.unique;
    out.ignoreNulls = index.ignoreNulls;
    out.required = index.required;
    out.foreignKey = index.foreignKey;
    out.note = safe(index.problem);
    for (const IndexColumn &column : index.columns) {
        const DefinedColumn *found = columnNumbered(definition, column.columnNumber);
        if (!found) {
            addNote(out.note,
                    "it names a field number the table does not have (" + std::to_string(column.columnNumber) + ")");
            continue;
        }
        out.fields.emplace_back(safe(found->name), column.descending);
    }
    return out;
}

void addIndexes(EngineProtocol::StructureTable &table, const TableDefinition &definition)
{
    if (!definition.indexes.problem.empty())
        addNote(table.note, "indexes: " + definition.indexes.problem);
    for (const IndexDefinition &index : definition.indexes.indexes)
        table.indexes.push_back(indexOf(index, definition));
}

// A usage map that names pages beyond the end of the file (a file cut short) leaves the rows
// there uncounted: the count is of what the file still has.
void addUsageMapNote(EngineProtocol::StructureTable &table, const TableDefinition &definition, PageReader &pages)
{
    const std::string problem = usageMapProblem(definition.usageMap, pages);
    if (!problem.empty())
        addNote(table.note, problem);
}

} // namespace

void MdbDatabase::StructureReader::sendTables(const std::vector<std::string> &wantedTables)
{
    const std::vector<CatalogObject> &objects = m_database.m_objects;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i].type != kObjectTable)
            continue;
        const std::string name = safe(objects[i].name);
        if (!isUserTable(i, name))
            continue;
        if (!wantedTables.empty() && std::find(wantedTables.begin(), wantedTables.end(), name) == wantedTables.end())
            continue;
        beat();
        m_emit(tableRecord(objects[i], name));
    }
}

// User tables only, as the table list has them: not system tables, not Access's own, not a
// second local table of the same name.
bool MdbDatabase::StructureReader::isUserTable(std::size_t object, const std::string &safeName) const
{
    const CatalogObject &found = m_database.m_objects[object];
    const auto local = m_database.m_localTables.find(safeName);
    return found.type == kObjectTable && local != m_database.m_localTables.end() && local->second == object &&
           tableType(found.type, found.flags, false) == "TABLE";
}

// The table with its record count, its own properties, its fields and its indexes, from one
// reading of its definition and of its property block.
StructureRecord MdbDatabase::StructureReader::tableRecord(const CatalogObject &object, const std::string &safeName)
{
    StructureRecord record;
    record.kind = StructureKind::Table;
    EngineProtocol::StructureTable &table = record.table;
    table.name = safeName;
    const std::optional<TableDefinition> definition =
        readTableDefinition(m_database.m_pages, m_database.m_layout, object.tablePage, m_decode, true);
    std::optional<std::vector<std::uint8_t>> block;
    std::optional<EngineFailure> blockFailure;
    if (definition) {
        try {
            block = m_database.propertyBlock(object);
        } catch (const EngineFailure &failure) {
            blockFailure = failure;
        }
    }
    countRecords(table, object, definition ? &*definition : nullptr, blockFailure);
    if (!definition) {
        table.definitionRead = false;
        addNote(table.note, "its definition is damaged: its fields and indexes could not be read");
        return record;
    }
    const std::vector<PropertyList> lists = propertyLists(block, &table.note);
    addTableProperties(table, lists);
    addFields(table, object, *definition, ListsByName(lists));
    addIndexes(table, *definition);
    addUsageMapNote(table, *definition, m_database.m_pages);
    addDataMacros(table, object);
    return record;
}

void MdbDatabase::StructureReader::addDataMacros(EngineProtocol::StructureTable &table, const CatalogObject &object)
{
    const auto found = m_tableRowByPage.find(object.tablePage);
    if (found == m_tableRowByPage.end())
        return;
    const ObjectRow *row = &m_objectRows.rows[found->second];
    if (row->extraHeader.empty() && !row->extraDamaged)
        return;
    constexpr std::size_t kMostMacroBytes = 16u << 20;
    const auto block = row->extraDamaged ? std::nullopt
                                         : readLongValue(row->extraHeader, row->extraInRow, m_database.m_pages,
                                                         m_database.m_layout.page, kMostMacroBytes);
    std::string problem;
    const auto macros =
        block ? readDataMacros(*block, m_decode, problem) : std::vector<std::pair<std::string, PropertyValue>>();
    if (!block || !problem.empty())
        addNote(table.note, "its data macros could not be read" + (problem.empty() ? std::string() : ": " + problem));
    for (const auto &[event, value] : macros)
        table.dataMacros.push_back({safe(event), safe(Engine::propertyText(value, m_decode))});
}

// The rows are counted as a Describe counts them, with the same failures: a definition that cannot
// be read, or (for a table with a calculated field, whose type its properties give) a property
// block that cannot, leaves them uncounted.
void MdbDatabase::StructureReader::countRecords(EngineProtocol::StructureTable &table, const CatalogObject &object,
                                                const TableDefinition *definition,
                                                const std::optional<EngineFailure> &blockFailure)
{
    const auto calculated = [](const DefinedColumn &column) { return column.stored.calculated; };
    try {
        if (!definition)
            throw Errors::unrecognizedFormat(m_database.m_path);
        if (blockFailure && std::any_of(definition->columns.begin(), definition->columns.end(), calculated))
            throw *blockFailure;
        std::size_t damagedDataPages = 0;
        table.records = countLiveRows(definition->usageMap, object.tablePage, m_database.m_pages,
                                      m_database.m_layout.page, m_heartbeat, &damagedDataPages);
        if (damagedDataPages > 0)
            addNote(table.note, "its records were counted only in part: " + std::to_string(damagedDataPages) +
                                    (damagedDataPages == 1 ? " of its data pages is" : " of its data pages are") +
                                    " damaged (its table of rows runs off the page or points outside it)");
    } catch (const EngineFailure &failure) {
        // The engine's sentence ends in a full stop; the note goes on after it.
        std::string why = failure.what();
        if (why.ends_with('.'))
            why.pop_back();
        addNote(table.note, "its records could not be counted: " + safe(why));
    }
}

void MdbDatabase::StructureReader::addTableProperties(EngineProtocol::StructureTable &table,
                                                      const std::vector<PropertyList> &lists)
{
    if (const PropertyList *own = listNamed(lists, std::string()))
        for (const auto &[propertyName, value] : own->values)
            table.properties.push_back({safe(propertyName), safe(Engine::propertyText(value, m_decode))});
}

void MdbDatabase::StructureReader::addFields(EngineProtocol::StructureTable &table, const CatalogObject &object,
                                             const TableDefinition &definition, const ListsByName &lists)
{
    // Room for every field at once: a field moved to a bigger vector moves each of its texts.
    table.fields.reserve(definition.columns.size());
    for (const DefinedColumn &column : definition.columns) {
        std::string name = safe(column.name);
        if (!isVersionHistory(column, name))
            table.fields.push_back(fieldOf(object, column, std::move(name), lists));
    }
}

// A field with every stored property; its types need its ResultType (a calculated field) and its
// template (a complex field).
EngineProtocol::StructureField MdbDatabase::StructureReader::fieldOf(const CatalogObject &object,
                                                                     const DefinedColumn &column, std::string safeName,
                                                                     const ListsByName &lists)
{
    EngineProtocol::StructureField field;
    field.name = std::move(safeName);
    ColumnDesign design{column.stored, column.flags, column.precision, column.scale, std::nullopt};
    if (const PropertyList *list = lists.find(column.name)) {
        field.properties.reserve(list->values.size());
        for (const auto &[propertyName, value] : list->values) {
            std::string text = Engine::propertyText(value, m_decode);
            if (propertyName == kResultTypeName)
                design.stored.resultType = parseResultType(text);
            field.properties.push_back({safe(propertyName), safe(std::move(text))});
        }
    }
    if (column.stored.type == kComplex) {
        const auto found = m_complexTemplates.find({object.tablePage, column.name});
        if (found != m_complexTemplates.end())
            design.complexTemplate = found->second;
        else
            addNote(field.note, "what kind of complex field it is could not be read");
    }
    setFieldTypes(field, design);
    return field;
}

// ---- relationships --------------------------------------------------------------------------------------------------

namespace {

StructureRecord relationshipRecord(const Relationship &relationship)
{
    StructureRecord record;
    record.kind = StructureKind::Relationship;
    auto &out = record.relationship;
    out.name = safe(relationship.name);
    out.primaryTable = safe(relationship.primaryTable);
    out.foreignTable = safe(relationship.foreignTable);
    for (const std::string &field : relationship.primaryFields)
        out.primaryFields.push_back(safe(field));
    for (const std::string &field : relationship.foreignFields)
        out.foreignFields.push_back(safe(field));
    out.enforced = relationship.enforced;
    out.cascadeUpdates = relationship.cascadeUpdates;
    out.cascadeDeletes = relationship.cascadeDeletes;
    out.cascadeNull = relationship.cascadeNull;
    out.oneToOne = relationship.oneToOne;
    out.join = relationship.join;
    out.note = safe(relationship.problem);
    return record;
}

} // namespace

void MdbDatabase::StructureReader::sendRelationships()
{
    const CatalogObject *relationships = systemTable("MSysRelationships");
    if (!relationships)
        return;
    const SystemTable<RelationshipRow> rows = readRelationshipRows(m_database.m_handle, relationships->tablePage);
    noteProblem(rows.problem);
    const std::vector<std::string> system = systemTableNames();
    for (const Relationship &relationship : readRelationships(rows.rows, allTableNames()))
        if (!joinsSystemTable(relationship, system))
            m_emit(relationshipRecord(relationship));
}

// The local tables the catalogue takes for Access's own, as the table list leaves them out.
std::vector<std::string> MdbDatabase::StructureReader::systemTableNames() const
{
    std::vector<std::string> names;
    for (const CatalogObject &object : m_database.m_objects) {
        if (object.type != kObjectTable)
            continue;
        const std::string type = tableType(object.type, object.flags, false);
        if (type == "SYSTEM TABLE" || type == "ACCESS TABLE")
            names.push_back(object.name);
    }
    return names;
}

std::vector<std::string> MdbDatabase::StructureReader::allTableNames() const
{
    std::vector<std::string> names;
    for (const CatalogObject &object : m_database.m_objects)
        if (object.type == kObjectTable || object.type == kObjectLinkedTable || object.rawType == kRawOdbcLinkType)
            names.push_back(object.name);
    return names;
}

// ---- saved queries --------------------------------------------------------------------------------------------------

namespace {

// Saved queries whose names start so are the hidden record sources of forms, reports and
// controls, not queries a user made.
constexpr char kHiddenQueryMark = '~';

// The rows of MSysQueries per saved query (its MSysObjects Id), in stored order.
std::map<std::int64_t, std::vector<QueryRow>> queryRowsById(const std::vector<StoredQueryRow> &rows)
{
    std::map<std::int64_t, std::vector<QueryRow>> byQuery;
    for (const StoredQueryRow &row : rows)
        if (row.objectId)
            byQuery[*row.objectId].push_back(row.query);
    return byQuery;
}

// A saved query that a user sees: not a form's or report's hidden record source.
bool isUserQuery(const ObjectRow &object)
{
    const std::string name = object.name.value_or(std::string());
    return object.type == kObjectQuery && !name.empty() && name.front() != kHiddenQueryMark;
}

StructureRecord queryRecord(const ObjectRow &object, const std::vector<QueryRow> &rows)
{
    const QueryText text = rebuildQuery(object.flags.value_or(0), rows);
    StructureRecord record;
    record.kind = StructureKind::Query;
    record.query.name = safe(object.name.value_or(std::string()));
    record.query.type = text.type;
    record.query.sql = safe(text.sql);
    record.query.note = safe(text.problem);
    return record;
}

} // namespace

void MdbDatabase::StructureReader::sendQueries()
{
    const CatalogObject *queries = systemTable("MSysQueries");
    if (!queries)
        return;
    const SystemTable<StoredQueryRow> rows = readQueryRows(m_database.m_handle, queries->tablePage);
    noteProblem(rows.problem);
    std::map<std::int64_t, std::vector<QueryRow>> byQuery = queryRowsById(rows.rows);
    for (const ObjectRow &object : m_objectRows.rows) {
        if (!isUserQuery(object))
            continue;
        beat();
        m_emit(queryRecord(object, byQuery[object.id.value_or(0)]));
    }
}

// ---- linked tables --------------------------------------------------------------------------------------------------

namespace {

// Access links (type 6) and ODBC links (type 4).
bool isLink(const ObjectRow &object)
{
    return object.type == kObjectLinkedTable || object.type == kRawOdbcLinkType;
}

StructureRecord linkRecord(const ObjectRow &object)
{
    StructureRecord record;
    record.kind = StructureKind::Link;
    record.link.name = safe(object.name.value_or(std::string()));
    record.link.target = safe(object.foreignName.value_or(std::string()));
    record.link.database = safe(object.database.value_or(std::string()));
    record.link.connection = safe(object.connect.value_or(std::string()));
    if (record.link.database.empty() && record.link.connection.empty())
        record.link.note = "where the table points is not stored";
    return record;
}

} // namespace

void MdbDatabase::StructureReader::sendLinks()
{
    for (const ObjectRow &object : m_objectRows.rows)
        if (isLink(object))
            m_emit(linkRecord(object));
}

// ---- the application --------------------------------------------------------------------------------------------

namespace {

EngineProtocol::ObjectType objectType(std::int64_t type)
{
    using EngineProtocol::ObjectType;
    return type == kFormObject     ? ObjectType::Form
           : type == kReportObject ? ObjectType::Report
           : type == kMacroObject  ? ObjectType::Macro
                                   : ObjectType::Module;
}

// A text of the application as a record may hold it: nothing, with a note, when it is too long to
// send (no module or macro of a real application comes near).
std::optional<std::string> sendable(const std::optional<std::string> &text, std::string &note)
{
    if (!text)
        return std::nullopt;
    if (text->size() > EngineProtocol::kMaxStringLength) {
        addNote(note, "it is longer than the worker sends (" + std::to_string(text->size()) + " bytes)");
        return std::nullopt;
    }
    return EngineProtocol::sanitizeUtf8(*text, EngineProtocol::kMaxStringLength);
}

} // namespace

void MdbDatabase::StructureReader::sendApplication()
{
    // The benchmark weighs what reading the application adds by leaving it out.
    if (std::getenv("STRUDEX_ENGINE_WITHOUT_APPLICATION"))
        return;
    const Application application = readApplication(
        m_database.m_handle, applicationObjects(m_objectRows.rows),
        [this](std::string_view name) -> std::uint32_t {
            const CatalogObject *table = systemTable(name);
            return table ? table->tablePage : 0;
        },
        m_database.m_pages, m_database.m_layout.page);
    beat();
    for (const std::string &note : application.notes)
        noteProblem(note);
    for (const ApplicationObject &object : application.objects) {
        StructureRecord record;
        record.kind = StructureKind::Object;
        record.object.type = objectType(object.type);
        record.object.name = safe(object.name);
        // Made here, in ASCII.
        record.object.created = object.created;
        record.object.updated = object.updated;
        m_emit(std::move(record));
    }
    if (const auto &project = application.project) {
        StructureRecord record;
        record.kind = StructureKind::Project;
        record.project.name = safe(project->name);
        record.project.codePage = project->codePage;
        record.project.compiledOnly = project->compiledOnly;
        for (const ProjectReference &reference : project->references)
            record.project.references.push_back({safe(reference.name), safe(reference.libid), reference.project});
        m_emit(std::move(record));
        for (const ProjectModule &module : project->modules) {
            StructureRecord moduleRecord;
            moduleRecord.kind = StructureKind::Module;
            moduleRecord.module.name = safe(module.name);
            moduleRecord.module.classModule = module.kind == Vba::ModuleKind::Class;
            std::string note = module.note;
            moduleRecord.module.source = sendable(module.source, note);
            moduleRecord.module.note = safe(note);
            m_emit(std::move(moduleRecord));
            beat();
        }
    }
    for (const StoredMacro &macro : application.macros) {
        StructureRecord record;
        record.kind = StructureKind::Macro;
        record.macro.name = safe(macro.name);
        std::string note = macro.note;
        record.macro.definition = sendable(macro.definition, note);
        record.macro.note = safe(note);
        m_emit(std::move(record));
    }
}

// ---- shared by the parts --------------------------------------------------------------------------------------------

const MdbDatabase::CatalogObject *MdbDatabase::StructureReader::systemTable(std::string_view name) const
{
    for (const CatalogObject &object : m_database.m_objects)
        if (object.type == kObjectTable && object.name == name)
            return &object;
    return nullptr;
}

const MdbDatabase::CatalogObject *MdbDatabase::StructureReader::anyObject(std::string_view name) const
{
    for (const CatalogObject &object : m_database.m_objects)
        if (object.name == name)
            return &object;
    return nullptr;
}

std::vector<PropertyList> MdbDatabase::StructureReader::propertyLists(const CatalogObject &object, std::string *note)
{
    std::optional<std::vector<std::uint8_t>> block;
    try {
        block = m_database.propertyBlock(object);
    } catch (const EngineFailure &) {
    }
    return propertyLists(block, note);
}

// A block that could not be read (nothing) is a note.
std::vector<PropertyList>
MdbDatabase::StructureReader::propertyLists(const std::optional<std::vector<std::uint8_t>> &block, std::string *note)
{
    if (!block) {
        addNote(*note, "its properties are damaged and were left out");
        return {};
    }
    std::string shortfall;
    std::vector<PropertyList> lists = readAllProperties(*block, m_decode, &shortfall);
    if (!shortfall.empty())
        addNote(*note, "its properties could not be read whole (" + safe(shortfall) + ")");
    return lists;
}

void MdbDatabase::StructureReader::noteProblem(const std::string &problem)
{
    if (problem.empty())
        return;
    StructureRecord record;
    record.kind = StructureKind::Note;
    record.note = safe(problem);
    m_emit(std::move(record));
}

void MdbDatabase::StructureReader::beat()
{
    if (m_heartbeat)
        m_heartbeat();
}

} // namespace Engine
