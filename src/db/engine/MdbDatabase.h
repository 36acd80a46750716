#pragma once

// One open Access database, read through libmdb.
//
// Everything that touches libmdb lives here. libmdb 1.0.0 is not robust against damaged files, so
// every call is preceded by the checks that keep its known crashes away, and everything it hands
// back is checked before use. What still goes wrong is the worker process's problem (memory limit,
// crash guard, the parent's time-out), never the program's.

#include "AdoTypes.h"
#include "EngineProtocol.h"
#include "Mdb.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Engine {

class MdbDatabase
{
public:
    // Called for every row during long work; the caller decides when to show it is alive.
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

    // The fields of a local table in design order, and its exact number of rows.
    EngineProtocol::FieldsResult fields(const std::string &tableName, const Heartbeat &heartbeat);

    // The Description property of one column.
    EngineProtocol::DescriptionResult description(const std::string &tableName, const std::string &columnName);

private:
    struct Column
    {
        std::string name;
        MdbColumn *column = nullptr; // owned by the table definition
        AdoField ado;
    };
    struct Table
    {
        MdbTableDef *definition = nullptr;
        std::vector<Column> columns; // design order, hidden columns left out
        std::optional<std::int64_t> recordCount;
    };
    struct TableDeleter
    {
        void operator()(Table *table) const;
    };
    using TablePtr = std::unique_ptr<Table, TableDeleter>;

    void close();
    void readCatalog();
    void checkObjectsTable();
    Table &table(const std::string &name, std::int32_t missingError);
    TablePtr loadTable(MdbCatalogEntry *entry);
    std::vector<Column> designOrderColumns(MdbCatalogEntry *entry, MdbTableDef *definition);
    std::int64_t countRows(Table &table, const Heartbeat &heartbeat);

    MdbHandle *m_handle = nullptr;
    std::string m_path;
    // ODBC links, told apart from reports (libmdb gives both the same masked type).
    std::set<std::pair<std::string, unsigned long>> m_odbcLinks;
    std::map<std::string, TablePtr, std::less<>> m_tables;
};

} // namespace Engine
