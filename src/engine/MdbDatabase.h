#pragma once

// One open Access database, read through libmdb.
//
// Everything that touches libmdb lives here. libmdb 1.0.0 is not robust against damaged files, so
// every call is preceded by the checks that keep its known crashes away, and everything it hands
// back is checked before use. What still goes wrong is the worker process's problem (memory limit,
// crash guard, the parent's time-out), never the program's.
//
// Databases can be huge (thousands of tables, a hundred thousand described columns, millions of
// rows), so the worker reads only what it is asked for, when it is asked: the catalogue without
// anyone's properties, a table's definition when its fields are wanted (and lets it go again),
// its descriptions when they are wanted, its rows by counting them on the pages.

#include "engine/AdoTypes.h"
#include "engine/DataPages.h"
#include "engine/Mdb.h"
#include "engine/TableDefinition.h"
#include "engine/crypto/OfficeCrypto.h"
#include "protocol/EngineProtocol.h"
#include "protocol/StructureProtocol.h"

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace Engine {

class MdbDatabase
{
public:
    // Called regularly during long work; the caller decides when to show it is alive.
    using Heartbeat = std::function<void()>;

    MdbDatabase() = default;
    ~MdbDatabase();
    MdbDatabase(const MdbDatabase &) = delete;
    MdbDatabase &operator=(const MdbDatabase &) = delete;

    // Checks the file, the password and the catalogue, and keeps the database open.
    // Throws EngineFailure.
    void open(const std::string &path, const std::string &password);
    bool isOpen() const { return m_handle != nullptr; }
    const std::string &path() const { return m_path; }

    // The TABLES rowset, in catalogue order (see TableTypes.h for what is listed).
    std::vector<EngineProtocol::TableRow> tables() const;
    // When the catalogue could not be read to its end: why, and how many tables could be read, in
    // one sentence fit to show. Empty when it was read whole.
    const std::string &catalogueNote() const { return m_catalogueNote; }

    // The fields of a local table in design order, and its exact number of rows.
    EngineProtocol::FieldsResult fields(const std::string &tableName, const Heartbeat &heartbeat);

    // The Description property of one column.
    EngineProtocol::DescriptionResult description(const std::string &tableName, const std::string &columnName);

    // The Description property of every column of a local table, in the order of its fields, and
    // the table's own.
    std::vector<EngineProtocol::ColumnDescription> columnDescriptions(const std::string &tableName,
                                                                      EngineProtocol::DescriptionResult &table);

    // The whole structure, record by record: the database, the wanted local tables (all when none
    // is named) with their fields, properties and indexes, then the relationships, saved queries
    // and linked tables. Parts that cannot be read come with a note. Throws EngineFailure only
    // when the database is not open.
    using StructureSink = std::function<void(EngineProtocol::StructureRecord &&)>;
    void structure(const std::vector<std::string> &tables, const StructureSink &emit, const Heartbeat &heartbeat);

    // fields() and columnDescriptions() as the records of a Describe part, written straight from
    // what is kept of the table. Nothing is written when they fail.
    void appendFieldsRecord(EngineProtocol::Writer &records, const std::string &tableName, const Heartbeat &heartbeat);
    void appendDescriptionsRecord(EngineProtocol::Writer &records, const std::string &tableName);

    // Whether what was read of a table is kept; forget() lets it go. A whole database described
    // in one go is read table after table, each once: keeping them all only costs memory.
    bool knows(const std::string &tableName) const { return m_tables.find(tableName) != m_tables.end(); }
    void forget(const std::string &tableName) { m_tables.erase(tableName); }

private:
    // What structure() reads, part after part (MdbStructure.cpp).
    class StructureReader;

    // fields(), giving the fields only when wanted (the table is read and counted either way).
    EngineProtocol::FieldsResult fields(const std::string &tableName, const Heartbeat &heartbeat, bool wanted);
    void releaseImage();
    // One row of MSysObjects, as libmdb's catalogue would have made it.
    struct CatalogObject
    {
        std::string name; // as stored (decoded from its bytes), not yet made safe to send
        int type = 0;     // the MSysObjects type masked with 0x7F, as libmdb gives it
        int rawType = 0;
        std::uint32_t flags = 0;
        std::uint32_t tablePage = 0;
        // Its property block (LvProp): the long-value header, and the value itself when it is kept
        // in the row. Read only when someone asks for the properties.
        bool hasProperties = false;
        bool propertiesDamaged = false;
        std::array<std::uint8_t, MDB_MEMO_OVERHEAD> propertiesHeader{};
        std::vector<std::uint8_t> inlineProperties;
    };
    struct Column
    {
        std::string name;       // safe to send
        std::string storedName; // libmdb's, which the property blocks are matched against
        AdoField ado;
        std::uint8_t flags = 0; // the descriptor's flags byte
        bool calculated = false;
    };
    // What a table's property block says that is sent: per column its Description, made safe to
    // send, or nothing, and whether it is Required; the table's own Description.
    struct Described
    {
        std::vector<std::optional<std::string>> columns;
        std::vector<bool> required;
        std::optional<std::string> table;
    };
    // What is kept of a local table: small, so kept for every table asked about.
    struct Table
    {
        std::size_t object = 0;             // index into m_objects
        std::vector<Column> columns;        // design order, hidden columns left out
        std::vector<std::uint8_t> usageMap; // until the rows are counted
        std::optional<std::int64_t> recordCount;
        // Data pages whose table of row offsets was damaged when the rows were counted.
        std::size_t damagedDataPages = 0;
        // Once read.
        std::optional<Described> described;
    };

    void close();
    void readCatalog();
    // The MSysObjects columns the catalogue is made of, bound for libmdb to fill row after row.
    struct CatalogColumns;
    void bindCatalog(MdbTableDef &table, CatalogColumns &columns);
    CatalogObject catalogObject(const CatalogColumns &columns) const;
    std::optional<std::string> storedName(const CatalogColumns &columns) const;
    // Whether libmdb's walk met every row the catalogue's data pages hold (fetched: the page and
    // entry of each row it handed out); sets the catalogue's note when it did not.
    void checkCatalogue(const MdbTableDef &table, std::vector<RowPlace> fetched);
    Table &table(const std::string &name, std::int32_t missingError);
    Table loadTable(std::size_t object);
    std::vector<std::uint8_t> propertyBlock(const CatalogObject &object);
    const Described &described(Table &table);
    // ADO's attributes of each field: with the Required flags of the property block, or, when the
    // block cannot be read (its failure belongs to the descriptions), as if none were required.
    std::vector<std::int32_t> attributes(Table &table);
    std::optional<std::string> propertyText(int type, const std::vector<std::uint8_t> &bytes);
    std::string decodeText(std::span<const std::uint8_t> text, std::size_t maxBytes);

    MdbHandle *m_handle = nullptr;
    std::string m_path;
    // What the header said: an Access 2007+ file encrypted with a password, a Jet database
    // password (never the password itself).
    bool m_officeEncrypted = false;
    bool m_databasePassword = false;
    DefinitionLayout m_layout;
    PageReader m_pages;
#if defined(__linux__)
    // The decrypted image of an encrypted database; libmdb and the page reader read it by path.
    MemoryFile m_image;
#endif
    std::vector<CatalogObject> m_objects;                       // catalogue order
    std::string m_catalogueNote;                                // see catalogueNote()
    std::unordered_map<std::string, std::size_t> m_localTables; // safe name -> first local table of it
    std::map<std::string, Table, std::less<>> m_tables;
    std::vector<char> m_decodeBuffer;
};

} // namespace Engine
