#include "MdbDatabase.h"

#include "DatabaseHeader.h"
#include "EngineErrors.h"
#include "PropertyBlock.h"
#include "TableTypes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace Engine {

namespace {

// A table definition longer than this is damaged: 255 columns with the longest names and all
// their indexes fit in far fewer pages.
constexpr std::size_t kMaxDefinitionPages = 64;

// Access hides the column that keeps the history of an append-only memo.
constexpr std::string_view kVersionHistoryPrefix = "VersionHistory_";

struct FileStart
{
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
};

// Looks at the file the way the program may: without following it into anything that is not a
// plain file, and without ever blocking on a FIFO or a device.
FileStart readFileStart(const std::string &path)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == EACCES)
            throw Errors::noPermission(path);
        throw Errors::fileNotFound(path);
    }
    if (!S_ISREG(info.st_mode))
        throw Errors::unrecognizedFormat(path);

    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            throw Errors::noPermission(path);
        if (errno == ENOENT)
            throw Errors::fileNotFound(path);
        throw Errors::unrecognizedFormat(path);
    }
    // The file may have been swapped between the two looks.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw Errors::unrecognizedFormat(path);
    }

    FileStart start;
    start.size = static_cast<std::uint64_t>(info.st_size);
    start.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(start.size, kHeaderBytes)));
    std::size_t done = 0;
    while (done < start.bytes.size()) {
        const ssize_t got = ::read(fd, start.bytes.data() + done, start.bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    start.bytes.resize(done);
    return start;
}

std::uint32_t flagsOf(const MdbCatalogEntry *entry)
{
    return static_cast<std::uint32_t>(entry->flags);
}

std::string safeText(const char *text)
{
    return text ? EngineProtocol::sanitizeUtf8(text) : std::string();
}

// A copy of the table definition's bytes in the order libmdb's own reader walks them: the first
// page whole, then each continuation page from byte 8 on.
std::optional<std::vector<std::uint8_t>> readDefinitionBytes(MdbHandle *mdb, unsigned long firstPage,
                                                             std::size_t needed)
{
    const auto pageSize = static_cast<std::size_t>(mdb->fmt->pg_size);
    if (needed > kMaxDefinitionPages * (pageSize - 8))
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::set<unsigned long> seen;
    unsigned long page = firstPage;
    while (bytes.size() < needed) {
        if (page == 0 || !seen.insert(page).second)
            return std::nullopt;
        if (mdb_read_pg(mdb, page) != mdb->fmt->pg_size)
            return std::nullopt;
        const unsigned char *buffer = mdb->pg_buf;
        if (bytes.empty()) {
            if (buffer[0] != 0x02)
                return std::nullopt;
            bytes.insert(bytes.end(), buffer, buffer + pageSize);
        } else {
            bytes.insert(bytes.end(), buffer + 8, buffer + pageSize);
        }
        page = static_cast<std::uint32_t>(mdb_get_int32(const_cast<unsigned char *>(buffer), 4));
    }
    return bytes;
}

// The long value (memo or OLE) of a bound column in the row just fetched, read the way libmdb's
// mdb_ole_read_full reads it but with the chain of pages checked: a page chain that runs in a
// circle makes libmdb grow its buffer for ever. Nothing when the chain is unusable.
constexpr std::size_t kMaxPropertyBytes = 16u << 20;

std::optional<std::vector<std::uint8_t>> readLongValue(MdbHandle *mdb, const MdbColumn *column,
                                                       const unsigned char *header)
{
    std::vector<std::uint8_t> value;
    const auto le32 = [](const unsigned char *p) {
        return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    };
    const std::uint32_t length = le32(header);
    const auto pageSize = static_cast<std::size_t>(mdb->fmt->pg_size);

    if (length & 0x80000000u) {
        // Stored in the row itself, on the page just fetched.
        const long size = static_cast<long>(column->cur_value_len) - MDB_MEMO_OVERHEAD;
        if (size <= 0)
            return value;
        const std::size_t start = static_cast<std::size_t>(column->cur_value_start) + MDB_MEMO_OVERHEAD;
        if (start + static_cast<std::size_t>(size) > pageSize)
            return std::nullopt;
        value.assign(mdb->pg_buf + start, mdb->pg_buf + start + size);
        return value;
    }

    void *buffer = nullptr;
    int rowStart = 0;
    size_t rowLength = 0;
    std::int32_t pageRow = static_cast<std::int32_t>(le32(header + 4));
    if (length & 0x40000000u) {
        // One row on another page.
        if (mdb_find_pg_row(mdb, pageRow, &buffer, &rowStart, &rowLength) != 0)
            return value;
        if (static_cast<std::size_t>(rowStart) + rowLength > pageSize)
            return std::nullopt;
        const auto *row = static_cast<const std::uint8_t *>(buffer) + rowStart;
        value.assign(row, row + rowLength);
        return value;
    }
    if ((length & 0xF0000000u) != 0)
        return value; // libmdb does not read it

    // A chain of rows, each starting with the page and row of the next one.
    std::set<std::int32_t> visited;
    while (pageRow != 0) {
        if (!visited.insert(pageRow).second)
            return std::nullopt;
        if (mdb_find_pg_row(mdb, pageRow, &buffer, &rowStart, &rowLength) != 0 || rowLength < 4)
            break;
        if (static_cast<std::size_t>(rowStart) + rowLength > pageSize || value.size() + rowLength > kMaxPropertyBytes)
            return std::nullopt;
        const auto *row = static_cast<const std::uint8_t *>(buffer) + rowStart;
        value.insert(value.end(), row + 4, row + rowLength);
        pageRow = static_cast<std::int32_t>(le32(row));
    }
    return value;
}

} // namespace

MdbDatabase::~MdbDatabase()
{
    close();
}

void MdbDatabase::TableDeleter::operator()(Table *table) const
{
    if (table && table->definition)
        mdb_free_tabledef(table->definition);
    delete table;
}

void MdbDatabase::close()
{
    m_tables.clear();
    m_odbcLinks.clear();
    if (m_handle) {
        mdb_close(m_handle);
        m_handle = nullptr;
    }
}

void MdbDatabase::open(const std::string &path, const std::string &password)
{
    if (m_handle)
        throw Errors::objectOpen();
    // A name with a NUL in it would silently name another file below.
    if (path.empty() || path.find('\0') != std::string::npos)
        throw Errors::fileNotFound(path);

    const FileStart start = readFileStart(path);
    const DatabaseHeader header = readDatabaseHeader(start.bytes, start.size);
    if (!header.valid())
        throw Errors::unrecognizedFormat(path);
    if (header.officeEncrypted())
        throw Errors::officeEncrypted(path);
    if (!passwordAccepted(header, password))
        throw Errors::badPassword();

    m_handle = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!m_handle)
        throw Errors::unrecognizedFormat(path);
    m_path = path;
    try {
        readCatalog();
    } catch (...) {
        close();
        m_path.clear();
        throw;
    }
}

void MdbDatabase::readCatalog()
{
    checkObjectsTable();

    // libmdb masks object types with 0x7F, which makes reports (-32764) look like ODBC links (4),
    // but its catalogue filter compares the raw value.
    // Every mdb_read_catalog frees the previous catalogue, and with it every entry that a table
    // definition points to. So the filtered pass for ODBC links comes first and is copied, and
    // the full catalogue read last is kept for the life of the database.
    GPtrArray *links = mdb_read_catalog(m_handle, kRawOdbcLinkType);
    if (!links)
        throw Errors::unrecognizedFormat(m_path);
    for (guint i = 0; i < links->len; ++i) {
        const auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(links, i));
        m_odbcLinks.emplace(entry->object_name, entry->table_pg);
    }

    if (!mdb_read_catalog(m_handle, MDB_ANY))
        throw Errors::unrecognizedFormat(m_path);
}

// Walks MSysObjects the way mdb_read_catalog is going to, and stops before the walk that libmdb
// 1.0.0 does not survive: a table definition without a usage map (a NULL dereference, fixed
// upstream after 1.0.0), and property blocks its parser loops on.
void MdbDatabase::checkObjectsTable()
{
    MdbCatalogEntry objects{};
    objects.mdb = m_handle;
    objects.object_type = MDB_TABLE;
    objects.table_pg = 2;
    std::snprintf(objects.object_name, sizeof objects.object_name, "%s", "MSysObjects");
    TablePtr table(new Table);
    table->definition = mdb_read_table(&objects);
    MdbTableDef *definition = table->definition;
    if (!definition || !definition->usage_map || definition->map_sz < 1 || !mdb_read_columns(definition))
        throw Errors::unrecognizedFormat(m_path);

    // Bound exactly as mdb_read_catalog binds it: the 12-byte long-value header, and its length
    // (zero for a row without properties).
    std::vector<char> bound(std::max<std::size_t>(m_handle->bind_size, MDB_BIND_SIZE) + 1);
    int boundLength = 0;
    char columnName[] = "LvProp";
    const int number = mdb_bind_column_by_name(definition, columnName, bound.data(), &boundLength);
    if (number < 1)
        return; // mdb_read_catalog will not parse any properties either
    const auto *column = static_cast<const MdbColumn *>(g_ptr_array_index(definition->columns, number - 1));

    mdb_rewind_table(definition);
    while (mdb_fetch_row(definition)) {
        if (boundLength <= 0)
            continue;
        const auto block = readLongValue(m_handle, column, reinterpret_cast<const unsigned char *>(bound.data()));
        if (!block || !propertyBlockIsSafe(*block))
            throw Errors::unrecognizedFormat(m_path);
        boundLength = 0;
    }
}

std::vector<EngineProtocol::TableRow> MdbDatabase::tables() const
{
    if (!m_handle)
        throw Errors::objectClosed();
    std::vector<EngineProtocol::TableRow> rows;
    const GPtrArray *catalog = m_handle->catalog;
    for (guint i = 0; catalog && i < catalog->len; ++i) {
        const auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(catalog, i));
        const bool odbcLink = entry->object_type == kObjectOdbcLinkOrReport &&
                              m_odbcLinks.count({entry->object_name, entry->table_pg}) > 0;
        std::string type = tableType(entry->object_type, flagsOf(entry), odbcLink);
        if (!type.empty())
            rows.push_back({safeText(entry->object_name), std::move(type)});
    }
    return rows;
}

MdbDatabase::Table &MdbDatabase::table(const std::string &name, std::int32_t missingError)
{
    if (!m_handle)
        throw Errors::objectClosed();
    const auto missing = [&]() -> EngineFailure {
        return missingError == Errors::kNoSuchTable ? Errors::noSuchTable(name) : Errors::itemNotFound();
    };
    if (auto found = m_tables.find(name); found != m_tables.end())
        return *found->second;

    // Only local tables can be read: a link points into another file, and a query would need
    // the engine to run it.
    MdbCatalogEntry *entry = nullptr;
    const GPtrArray *catalog = m_handle->catalog;
    for (guint i = 0; catalog && i < catalog->len && !entry; ++i) {
        auto *candidate = static_cast<MdbCatalogEntry *>(g_ptr_array_index(catalog, i));
        if (candidate->object_type == MDB_TABLE && name == safeText(candidate->object_name))
            entry = candidate;
    }
    if (!entry)
        throw missing();

    TablePtr loaded = loadTable(entry);
    Table &result = *loaded;
    m_tables.emplace(name, std::move(loaded));
    return result;
}

MdbDatabase::TablePtr MdbDatabase::loadTable(MdbCatalogEntry *entry)
{
    TablePtr table(new Table);
    table->definition = mdb_read_table(entry);
    MdbTableDef *definition = table->definition;
    // The usage map is what libmdb's row reader walks; without one it dereferences NULL.
    if (!definition || !definition->usage_map || definition->map_sz < 1 || definition->num_cols > MDB_MAX_COLS)
        throw Errors::unrecognizedFormat(m_path);
    // mdb_read_columns continues from the page mdb_read_table left in the handle's buffer, so
    // nothing may read a page between the two.
    if (!mdb_read_columns(definition) || definition->columns->len != definition->num_cols)
        throw Errors::unrecognizedFormat(m_path);
    table->columns = designOrderColumns(entry, definition);
    return table;
}

// libmdb sorts the columns by their column number, which is the order in which they were
// created. Access shows them, and ADO returns them, in the order of the descriptors in the table
// definition, which follows the design view: a column inserted between two others later has the
// highest number but sits between them (see mdb-reader's V2016/withinsertedcol.accdb: numbers
// col1 0, col2 1, col3 2, descriptors col1, col3, col2). The descriptors also carry what
// MdbColumn leaves out: the extended flags that mark calculated fields.
std::vector<MdbDatabase::Column> MdbDatabase::designOrderColumns(MdbCatalogEntry *entry, MdbTableDef *definition)
{
    const MdbFormatConstants *format = m_handle->fmt;
    const bool jet3 = IS_JET3(m_handle);
    const std::size_t descriptorsStart =
        format->tab_cols_start_offset +
        static_cast<std::size_t>(definition->num_real_idxs) * format->tab_ridx_entry_size;
    const std::size_t needed =
        descriptorsStart + static_cast<std::size_t>(definition->num_cols) * format->tab_col_entry_size;
    const auto bytes = readDefinitionBytes(m_handle, entry->table_pg, needed);
    if (!bytes)
        throw Errors::unrecognizedFormat(m_path);

    std::map<int, MdbColumn *> byNumber;
    for (guint i = 0; i < definition->columns->len; ++i) {
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(definition->columns, i));
        if (!byNumber.emplace(column->col_num, column).second)
            throw Errors::unrecognizedFormat(m_path); // two columns with one number
    }

    std::vector<Column> columns;
    columns.reserve(definition->num_cols);
    for (unsigned int i = 0; i < definition->num_cols; ++i) {
        const std::uint8_t *descriptor = bytes->data() + descriptorsStart + i * format->tab_col_entry_size;
        const auto found = byNumber.find(descriptor[format->col_num_offset]);
        if (found == byNumber.end())
            throw Errors::unrecognizedFormat(m_path);
        MdbColumn *column = found->second;
        byNumber.erase(found);

        StoredColumn stored;
        stored.type = descriptor[0];
        stored.size = descriptor[format->col_size_offset] | descriptor[format->col_size_offset + 1] << 8;
        stored.fixedLength = descriptor[format->col_flags_offset] & 0x01;
        stored.jet3 = jet3;
        // Jet 4 and later keep extended flags right after the flags; 0xC0 marks a calculated field.
        stored.calculated = !jet3 && (descriptor[format->col_flags_offset + 1] & 0xC0) != 0;
        if (stored.calculated)
            if (const char *result = mdb_col_get_prop(column, "ResultType"))
                stored.resultType = parseResultType(result);

        std::string name = safeText(column->name);
        if (stored.type == kComplex && std::string_view(name).starts_with(kVersionHistoryPrefix))
            continue;
        columns.push_back({std::move(name), column, adoFieldFor(stored)});
    }
    return columns;
}

std::int64_t MdbDatabase::countRows(Table &table, const Heartbeat &heartbeat)
{
    // The row count in the table definition can be stale (a database closed badly, or simply
    // not updated), so count the live rows the way a recordset sees them.
    MdbTableDef *definition = table.definition;
    mdb_rewind_table(definition);
    std::int64_t rows = 0;
    while (mdb_fetch_row(definition)) {
        ++rows;
        if (heartbeat)
            heartbeat();
    }
    return rows;
}

EngineProtocol::FieldsResult MdbDatabase::fields(const std::string &tableName, const Heartbeat &heartbeat)
{
    Table &found = table(tableName, Errors::kNoSuchTable);
    if (!found.recordCount)
        found.recordCount = countRows(found, heartbeat);

    EngineProtocol::FieldsResult result;
    result.fields.reserve(found.columns.size());
    for (const Column &column : found.columns)
        result.fields.push_back({column.name, column.ado.type, column.ado.definedSize});
    result.recordCount = *found.recordCount;
    return result;
}

EngineProtocol::DescriptionResult MdbDatabase::description(const std::string &tableName, const std::string &columnName)
{
    Table &found = table(tableName, Errors::kItemNotFound);
    const auto column =
        std::find_if(found.columns.begin(), found.columns.end(), [&](const Column &c) { return c.name == columnName; });
    if (column == found.columns.end())
        throw Errors::itemNotFound();
    EngineProtocol::DescriptionResult result;
    if (const char *text = mdb_col_get_prop(column->column, "Description")) {
        result.present = true;
        result.value = safeText(text);
    }
    return result;
}

} // namespace Engine
