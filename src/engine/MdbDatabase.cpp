#include "engine/MdbDatabase.h"

#include "engine/DatabaseHeader.h"
#include "engine/EngineErrors.h"
#include "engine/PropertyBlock.h"
#include "engine/StoredText.h"
#include "engine/TableTypes.h"
#include "engine/crypto/OfficeCrypto.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace Engine {

namespace {

// MSysObjects' definition is always on this page.
constexpr std::uint32_t kCatalogPage = 2;

// The TABLE_TYPE of a user table: what the table list shows.
constexpr std::string_view kUserTableType = "TABLE";

// Access hides the column that keeps the history of an append-only memo.
constexpr std::string_view kVersionHistoryPrefix = "VersionHistory_";

// A property block longer than this is damaged (they hold a few kilobytes of names and texts).
constexpr std::size_t kMaxPropertyBytes = 16u << 20;

// The properties the worker reads: what the report prints, and what a calculated field's type
// depends on.
constexpr std::string_view kDescription = "Description";
constexpr std::string_view kRequired = "Required";
constexpr std::string_view kResultType = "ResultType";

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

std::string safeText(std::string_view text)
{
    return EngineProtocol::sanitizeUtf8(text);
}

// What is said of a catalogue read only in part, to the desktop's table list, the exporter and the
// structure documents alike.
std::string incompleteCatalogueNote(const std::string &gap, std::size_t tablesRead)
{
    const std::string read = tablesRead == 0   ? "No table"
                             : tablesRead == 1 ? "Only 1 table"
                                               : "Only " + std::to_string(tablesRead) + " tables";
    return "The table catalogue could not be read to its end: " + gap + ". " + read +
           " could be read; the database may have more.";
}

// libmdb gives a column the first property block of its name.
class BlocksByName
{
public:
    // Sorted by the names' hashes, then names: a table's names are told apart by the hash, as a
    // rule, without comparing their characters. The blocks of one name stay in their stored order:
    // a lookup finds the first.
    explicit BlocksByName(const std::vector<NamedProperties> &blocks)
    {
        m_sorted.reserve(blocks.size());
        for (std::size_t i = 0; i < blocks.size(); ++i)
            m_sorted.push_back({hashOf(blocks[i].name), blocks[i].name, i});
        std::sort(m_sorted.begin(), m_sorted.end(), [](const Entry &a, const Entry &b) {
            if (a.hash != b.hash)
                return a.hash < b.hash;
            const int order = a.name.compare(b.name);
            return order < 0 || (order == 0 && a.index < b.index);
        });
        m_blocks = &blocks;
        m_first.assign(blocks.size(), false);
        for (std::size_t i = 0; i < m_sorted.size(); ++i)
            if (i == 0 || m_sorted[i].hash != m_sorted[i - 1].hash || m_sorted[i].name != m_sorted[i - 1].name)
                m_first[m_sorted[i].index] = true;
    }
    // Columns are asked for in the order their blocks are usually stored in: the block after the
    // last one found is tried first.
    const NamedProperties *find(std::string_view name) const
    {
        if (m_next < m_blocks->size() && m_first[m_next] && (*m_blocks)[m_next].name == name)
            return &(*m_blocks)[m_next++];
        const std::size_t hash = hashOf(name);
        const auto found =
            std::lower_bound(m_sorted.begin(), m_sorted.end(), name, [hash](const Entry &entry, std::string_view key) {
                return entry.hash != hash ? entry.hash < hash : entry.name < key;
            });
        if (found == m_sorted.end() || found->hash != hash || found->name != name)
            return nullptr;
        m_next = found->index + 1;
        return &(*m_blocks)[found->index];
    }

private:
    struct Entry
    {
        std::size_t hash;
        std::string_view name;
        std::size_t index;
    };
    static std::size_t hashOf(std::string_view name) { return std::hash<std::string_view>()(name); }

    const std::vector<NamedProperties> *m_blocks = nullptr;
    std::vector<Entry> m_sorted;
    std::vector<bool> m_first; // per stored block: the first of its name
    mutable std::size_t m_next = 0;
};

struct DefinitionDeleter
{
    void operator()(MdbTableDef *definition) const { mdb_free_tabledef(definition); }
};
using DefinitionPtr = std::unique_ptr<MdbTableDef, DefinitionDeleter>;

#if defined(__linux__)
// The decrypted image of an Access 2007+ database encrypted with a password, in a memory-only
// file: the plaintext never touches the disk. The key is derived once, here; a wrong or empty
// password fails as Jet's does.
MemoryFile decryptedImage(const std::string &path, const std::vector<std::uint8_t> &pageZero, std::uint32_t key,
                          const std::string &password)
{
    try {
        PageDecryptor decryptor(pageZero, key, password);
        return decryptDatabaseToMemoryFile(path, decryptor);
    } catch (const OfficeCryptoError &error) {
        switch (error.kind()) {
        case OfficeCryptoError::Kind::WrongPassword:
            throw Errors::badPassword();
        case OfficeCryptoError::Kind::UnsupportedScheme:
            throw Errors::unsupportedEncryption(path, inspectOfficeCrypto(pageZero, key).displayName());
        case OfficeCryptoError::Kind::Damaged:
            throw Errors::damagedEncryption(path, error.what());
        case OfficeCryptoError::Kind::System:
            break;
        }
        throw EngineFailure(0, std::string("The database '") + path + "' cannot be decrypted: " + error.what());
    }
}
#endif

} // namespace

MdbDatabase::~MdbDatabase()
{
    close();
}

void MdbDatabase::close()
{
    m_tables.clear();
    m_localTables.clear();
    m_objects.clear();
    m_catalogueNote.clear();
    m_pages.close();
    if (m_handle) {
        mdb_close(m_handle);
        m_handle = nullptr;
    }
    releaseImage();
}

void MdbDatabase::releaseImage()
{
#if defined(__linux__)
    m_image = MemoryFile();
#endif
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
    // What libmdb and the page reader read: the file itself, or its decrypted image in memory.
    std::string source = path;
    if (header.officeEncrypted()) {
#if defined(__linux__)
        m_image = decryptedImage(path, start.bytes, header.encodingKey, password);
        source = m_image.path();
#else
        throw Errors::officeEncrypted(path);
#endif
    } else if (!passwordAccepted(header, password)) {
        throw Errors::badPassword();
    }

    m_handle = mdb_open(source.c_str(), MDB_NOFLAGS);
    if (!m_handle) {
        releaseImage();
        throw Errors::unrecognizedFormat(path);
    }
    m_path = path;
    m_officeEncrypted = header.officeEncrypted();
    m_databasePassword = !header.officeEncrypted() && !header.password.empty();
    try {
        // Where things are, as libmdb has them for this format.
        const MdbFormatConstants *format = m_handle->fmt;
        m_layout.page.pageSize = static_cast<std::size_t>(format->pg_size);
        m_layout.page.rowCountOffset = format->row_count_offset;
        m_layout.jet3 = IS_JET3(m_handle);
        m_layout.numColumnsOffset = format->tab_num_cols_offset;
        m_layout.numRealIndexesOffset = format->tab_num_ridxs_offset;
        m_layout.usageMapOffset = format->tab_usage_map_offset;
        m_layout.freeMapOffset = format->tab_free_map_offset;
        m_layout.columnsStartOffset = format->tab_cols_start_offset;
        m_layout.realIndexEntrySize = format->tab_ridx_entry_size;
        m_layout.columnEntrySize = format->tab_col_entry_size;
        m_layout.columnNumberOffset = format->col_num_offset;
        m_layout.columnSizeOffset = format->col_size_offset;
        m_layout.columnFlagsOffset = format->col_flags_offset;
        m_layout.nameBufferSize = sizeof(MdbColumn::name);
        // The same bytes libmdb reads, decoded the same way, without its seeks per page.
        if (!m_pages.open(source, m_layout.page.pageSize, m_handle->f->db_key))
            throw Errors::unrecognizedFormat(path);
        readCatalog();
    } catch (...) {
        close();
        m_path.clear();
        throw;
    }
}

struct MdbDatabase::CatalogColumns
{
    // In the order they are bound.
    enum Column : std::size_t { Id, Name, Type, Flags, LvProp, ColumnCount };
    std::array<std::vector<char>, ColumnCount> bound;
    int propertiesLength = 0;
    const MdbColumn *name = nullptr;
    const MdbColumn *properties = nullptr;
};

// The catalogue as mdb_read_catalog makes it (the same rows, types, flags and pages), but without
// its reading and parsing of every object's properties: those are most of its work on a big
// database, and its parser is also what loops for ever on some damaged blocks. Of the properties
// only where they are is noted; they are read per table when they are wanted (descriptions()).
void MdbDatabase::readCatalog()
{
    MdbCatalogEntry entry{};
    entry.mdb = m_handle;
    entry.object_type = MDB_TABLE;
    entry.table_pg = kCatalogPage;
    std::snprintf(entry.object_name, sizeof entry.object_name, "%s", "MSysObjects");
    // Checked before libmdb walks it: without a usage map its row reader dereferences NULL (fixed
    // upstream after 1.0.0), and its row cracker keeps a row's fields in an array of MDB_MAX_COLS.
    // mdb_read_columns continues from the page mdb_read_table left in the handle's buffer, so
    // nothing may read a page between the two.
    const DefinitionPtr definition(mdb_read_table(&entry));
    MdbTableDef *table = definition.get();
    if (!table || !table->usage_map || table->map_sz < 1 || table->num_cols > MDB_MAX_COLS ||
        !mdb_read_columns(table) || table->columns->len != table->num_cols)
        throw Errors::unrecognizedFormat(m_path);

    CatalogColumns columns;
    bindCatalog(*table, columns);
    std::vector<RowPlace> fetched;
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        m_objects.push_back(catalogObject(columns));
        // libmdb has just read the row at this entry of the page in its buffer.
        fetched.push_back({table->cur_phys_pg, table->cur_row - 1});
    }
    // The bound buffers go away with this function.
    for (guint i = 0; i < table->columns->len; ++i) {
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        column->bind_ptr = nullptr;
        column->len_ptr = nullptr;
    }
    checkCatalogue(*table, std::move(fetched));

    for (std::size_t i = 0; i < m_objects.size(); ++i)
        if (m_objects[i].type == kObjectTable)
            m_localTables.emplace(safeText(m_objects[i].name), i); // the first of a name wins
}

void MdbDatabase::bindCatalog(MdbTableDef &table, CatalogColumns &columns)
{
    // libmdb writes bound values with snprintf up to the handle's bind size.
    const std::size_t bindSize = std::max<std::size_t>(m_handle->bind_size, MDB_BIND_SIZE) + 1;
    char names[CatalogColumns::ColumnCount][8] = {"Id", "Name", "Type", "Flags", "LvProp"};
    int propertiesColumn = 0;
    for (std::size_t i = 0; i < columns.bound.size(); ++i) {
        columns.bound[i].assign(bindSize, '\0');
        const bool properties = i == CatalogColumns::LvProp;
        const int number = mdb_bind_column_by_name(&table, names[i], columns.bound[i].data(),
                                                   properties ? &columns.propertiesLength : nullptr);
        // mdb_read_catalog refuses a catalogue without any of them, so the worker does too.
        if (number < 1)
            throw Errors::unrecognizedFormat(m_path);
        if (properties)
            propertiesColumn = number;
        if (i == CatalogColumns::Name)
            columns.name = static_cast<const MdbColumn *>(g_ptr_array_index(table.columns, guint(number - 1)));
    }
    columns.properties = static_cast<const MdbColumn *>(g_ptr_array_index(table.columns, propertiesColumn - 1));
}

MdbDatabase::CatalogObject MdbDatabase::catalogObject(const CatalogColumns &columns) const
{
    using Column = CatalogColumns::Column;
    const auto &bound = columns.bound;
    CatalogObject object;
    // Converted from the bound text exactly as mdb_read_catalog converts it.
    object.tablePage = static_cast<std::uint32_t>(std::atol(bound[Column::Id].data())) & 0x00FFFFFF;
    object.name = storedName(columns).value_or(
        std::string(bound[Column::Name].data(), strnlen(bound[Column::Name].data(), MDB_MAX_OBJ_NAME)));
    object.rawType = std::atoi(bound[Column::Type].data());
    object.type = object.rawType & 0x7F;
    object.flags = static_cast<std::uint32_t>(std::atol(bound[Column::Flags].data()));
    // libmdb reads the properties of every row whose bound LvProp has a length.
    object.hasProperties = columns.propertiesLength > 0;
    if (object.hasProperties) {
        std::memcpy(object.propertiesHeader.data(), bound[Column::LvProp].data(), object.propertiesHeader.size());
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i)
            length = length << 8 | object.propertiesHeader[static_cast<std::size_t>(i)];
        // A value kept in the row is on the page in libmdb's buffer now, and only now.
        const MdbColumn &properties = *columns.properties;
        const long size = static_cast<long>(properties.cur_value_len) - MDB_MEMO_OVERHEAD;
        if ((length & 0x80000000u) && size > 0) {
            const auto from = static_cast<std::size_t>(properties.cur_value_start) + MDB_MEMO_OVERHEAD;
            if (properties.cur_value_start < 0 || from + static_cast<std::size_t>(size) > m_layout.page.pageSize)
                object.propertiesDamaged = true;
            else
                object.inlineProperties.assign(m_handle->pg_buf + from, m_handle->pg_buf + from + size);
        }
    }
    return object;
}

// The name of the row just fetched, decoded from its stored bytes (on the page in libmdb's buffer
// now): libmdb's own conversion turns each half of a surrogate pair into '?', so a table named with
// a character beyond U+FFFF could neither be shown nor chosen. Nothing when the bytes are not there
// to be read, or in Jet 3, whose code page libmdb converts as well as anyone.
std::optional<std::string> MdbDatabase::storedName(const CatalogColumns &columns) const
{
    const MdbColumn *name = columns.name;
    if (m_layout.jet3 || !name || name->col_type != MDB_TEXT || name->cur_value_start < 0 || name->cur_value_len <= 0)
        return std::nullopt;
    const auto from = static_cast<std::size_t>(name->cur_value_start);
    const auto size = static_cast<std::size_t>(name->cur_value_len);
    if (from + size > m_layout.page.pageSize)
        return std::nullopt;
    return decodeStoredText(std::span<const std::uint8_t>(m_handle->pg_buf + from, size), MDB_MAX_OBJ_NAME + 1);
}

// libmdb's walk ends without a word at the first page of the usage map it cannot read, and passes
// over a page that is not the catalogue's and a row it cannot take apart: a damaged catalogue would
// list some of the tables as if they were all. So what its data pages hold is read again, page by
// page, and held against what libmdb handed out.
void MdbDatabase::checkCatalogue(const MdbTableDef &table, std::vector<RowPlace> fetched)
{
    const StoredRows stored =
        storedRows(std::span<const std::uint8_t>(table.usage_map, table.map_sz), kCatalogPage, m_pages, m_layout.page);
    std::string gap = stored.problem;
    // Where libmdb walked the map, every row kept in place was on a page it read.
    if (gap.empty() && stored.mapWalked) {
        std::sort(fetched.begin(), fetched.end());
        const auto missed = std::find_if(stored.inPlace.begin(), stored.inPlace.end(), [&](const RowPlace &row) {
            return !std::binary_search(fetched.begin(), fetched.end(), row);
        });
        if (missed != stored.inPlace.end())
            gap = "a row on page " + std::to_string(missed->page) + " cannot be read";
    }
    if (gap.empty() && std::cmp_less(fetched.size(), stored.live))
        gap =
            "only " + std::to_string(fetched.size()) + " of its " + std::to_string(stored.live) + " rows could be read";
    if (gap.empty())
        return;
    // Not one object: nothing of the database can be read.
    if (m_objects.empty())
        throw Errors::unrecognizedFormat(m_path);
    const std::vector<EngineProtocol::TableRow> rows = tables();
    const auto read = std::count_if(rows.begin(), rows.end(),
                                    [](const EngineProtocol::TableRow &row) { return row.type == kUserTableType; });
    m_catalogueNote = incompleteCatalogueNote(gap, static_cast<std::size_t>(read));
}

std::vector<EngineProtocol::TableRow> MdbDatabase::tables() const
{
    if (!m_handle)
        throw Errors::objectClosed();
    std::vector<EngineProtocol::TableRow> rows;
    for (const CatalogObject &object : m_objects) {
        // Masking makes reports (-32764) look like ODBC links (4); the raw type tells them apart.
        const bool odbcLink = object.rawType == kRawOdbcLinkType;
        std::string type = tableType(object.type, object.flags, odbcLink);
        if (!type.empty())
            rows.push_back({safeText(object.name), std::move(type)});
    }
    return rows;
}

MdbDatabase::Table &MdbDatabase::table(const std::string &name, std::int32_t missingError)
{
    if (!m_handle)
        throw Errors::objectClosed();
    if (auto found = m_tables.find(name); found != m_tables.end())
        return found->second;
    // Only local tables can be read: a link points into another file, and a query would need
    // the engine to run it.
    const auto object = m_localTables.find(name);
    if (object == m_localTables.end())
        throw missingError == Errors::kNoSuchTable ? Errors::noSuchTable(name) : Errors::itemNotFound();
    return m_tables.emplace(name, loadTable(object->second)).first->second;
}

// Reads the table's definition and keeps what the answers need.
//
// libmdb sorts the columns by their column number, which is the order in which they were
// created. Access shows them, and ADO returns them, in the order of the descriptors in the table
// definition, which follows the design view: a column inserted between two others later has the
// highest number but sits between them (see mdb-reader's V2016/withinsertedcol.accdb: numbers
// col1 0, col2 1, col3 2, descriptors col1, col3, col2). The descriptors also carry what
// MdbColumn leaves out: the extended flags that mark calculated fields.
MdbDatabase::Table MdbDatabase::loadTable(std::size_t object)
{
    const auto decode = [this](std::span<const std::uint8_t> text, std::size_t maxBytes) {
        return decodeText(text, maxBytes);
    };
    std::optional<TableDefinition> definition =
        readTableDefinition(m_pages, m_layout, m_objects[object].tablePage, decode);
    if (!definition)
        throw Errors::unrecognizedFormat(m_path);

    // A calculated field reports the type of its result, which only its properties know.
    std::vector<NamedProperties> blocks;
    if (std::any_of(definition->columns.begin(), definition->columns.end(),
                    [](const DefinedColumn &column) { return column.stored.calculated; })) {
        static constexpr std::array<std::string_view, 1> wanted = {kResultType};
        blocks = readNamedProperties(propertyBlock(m_objects[object]), wanted, decode);
    }
    const BlocksByName byName(blocks);

    Table table;
    table.object = object;
    table.usageMap = std::move(definition->usageMap);
    table.columns.reserve(definition->columns.size());
    for (DefinedColumn &column : definition->columns) {
        if (column.stored.calculated) {
            const NamedProperties *block = byName.find(column.name);
            if (block && block->values[0])
                if (const auto text = propertyText(block->values[0]->type, block->values[0]->bytes))
                    column.stored.resultType = parseResultType(*text);
        }
        std::string name = safeText(column.name);
        if (column.stored.type == kComplex && std::string_view(name).starts_with(kVersionHistoryPrefix))
            continue;
        const AdoField ado = adoFieldFor(column.stored);
        table.columns.push_back({std::move(name), std::move(column.name), ado, column.flags, column.stored.calculated});
    }
    return table;
}

// The object's property block (its LvProp value); empty when it has none. A block that libmdb's
// parser would not survive, or a value whose pages cannot be followed, means a damaged database.
std::vector<std::uint8_t> MdbDatabase::propertyBlock(const CatalogObject &object)
{
    if (!object.hasProperties)
        return {};
    std::optional<std::vector<std::uint8_t>> block;
    if (!object.propertiesDamaged)
        block =
            readLongValue(object.propertiesHeader, object.inlineProperties, m_pages, m_layout.page, kMaxPropertyBytes);
    if (!block || !propertyBlockIsSafe(*block))
        throw Errors::unrecognizedFormat(m_path);
    return std::move(*block);
}

const MdbDatabase::Described &MdbDatabase::described(Table &table)
{
    if (table.described)
        return *table.described;
    static constexpr std::array<std::string_view, 2> wanted = {kDescription, kRequired};
    const std::vector<NamedProperties> blocks = readNamedProperties(
        propertyBlock(m_objects[table.object]), wanted,
        [this](auto text, std::size_t maxBytes) { return decodeText(text, maxBytes); }, true);
    const BlocksByName byName(blocks);
    // Most texts are safe to send as they are; only the others are made so.
    const auto descriptionOf = [&](const NamedProperties *block) -> std::optional<std::string> {
        if (!block || !block->values[0])
            return std::nullopt;
        auto stored = propertyText(block->values[0]->type, block->values[0]->bytes);
        if (!stored)
            return std::nullopt;
        if (stored->size() <= EngineProtocol::kMaxStringLength && EngineProtocol::isValidUtf8(*stored))
            return stored;
        return safeText(*stored);
    };
    Described result;
    result.columns.reserve(table.columns.size());
    result.required.reserve(table.columns.size());
    for (const Column &column : table.columns) {
        // The table's own list has no name: a column without one has no list.
        const NamedProperties *block = column.storedName.empty() ? nullptr : byName.find(column.storedName);
        result.columns.push_back(descriptionOf(block));
        const std::optional<PropertyValue> *required = block ? &block->values[1] : nullptr;
        result.required.push_back(required && *required && (*required)->type == MDB_BOOL &&
                                  !(*required)->bytes.empty() && (*required)->bytes[0] != 0);
    }
    result.table = descriptionOf(byName.find(std::string_view()));
    table.described = std::move(result);
    return *table.described;
}

std::vector<std::int32_t> MdbDatabase::attributes(Table &table)
{
    const std::vector<bool> *required = nullptr;
    try {
        required = &described(table).required;
    } catch (const EngineFailure &) {
    }
    std::vector<std::int32_t> result;
    result.reserve(table.columns.size());
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const Column &column = table.columns[i];
        result.push_back(
            adoAttributesFor(column.flags, column.calculated, column.ado.type, required && (*required)[i]));
    }
    return result;
}

// A property value as text, the way libmdb's property parser converts it: memo as text, yes/no
// for booleans, a note for binary data, numbers by mdb_col_to_string. Nothing where libmdb keeps
// no text (a decimal).
std::optional<std::string> MdbDatabase::propertyText(int type, const std::vector<std::uint8_t> &bytes)
{
    if (type == MDB_MEMO)
        type = MDB_TEXT;
    switch (type) {
    case MDB_TEXT:
        return decodeText(bytes, MDB_BIND_SIZE);
    case MDB_BOOL:
        return std::string(!bytes.empty() && bytes[0] ? "yes" : "no");
    case MDB_BINARY:
    case MDB_OLE:
        return "(binary data of length " + std::to_string(bytes.size()) + ")";
    default:
        break;
    }
    // mdb_col_to_string reads as many bytes as the type has, whatever the stored size says.
    std::vector<std::uint8_t> padded(bytes);
    padded.resize(bytes.size() + 16, 0);
    char *text = mdb_col_to_string(m_handle, padded.data(), 0, type, static_cast<int>(bytes.size()));
    if (!text)
        return std::nullopt;
    std::string result(text);
    g_free(text);
    return result;
}

namespace {

// Text of characters 1..0x7F only, STEP bytes per character (1 compressed, 2 plain UCS-2), as
// ASCII into `ascii`; false (and `ascii` untouched) when any character is something else. Checked
// eight bytes at a time. Made in the caller's string, which it returns without a move.
template <std::size_t Step>
bool plainAscii(std::span<const std::uint8_t> chars, std::size_t maxLength, std::string &ascii)
{
    // Per lane (a byte, or a UCS-2 unit): the bits that must be clear, the lowest bit of each lane
    // and the highest, for the "some lane is zero" test.
    constexpr std::uint64_t kMustBeClear = Step == 1 ? 0x8080808080808080u : 0xFF80FF80FF80FF80u;
    constexpr std::uint64_t kLaneOnes = Step == 1 ? 0x0101010101010101u : 0x0001000100010001u;
    constexpr std::uint64_t kLaneTops = Step == 1 ? 0x8080808080808080u : 0x8000800080008000u;
    const std::size_t length = chars.size() / Step;
    const std::size_t bytes = length * Step;
    std::size_t pos = 0;
    // The word tricks read UCS-2 as little-endian words.
    constexpr bool kWords = std::endian::native == std::endian::little;
    for (std::uint64_t word = 0; kWords && pos + 8 <= bytes; pos += 8) {
        std::memcpy(&word, chars.data() + pos, 8);
        if ((word & kMustBeClear) || ((word - kLaneOnes) & ~word & kLaneTops))
            return false;
    }
    for (; pos < bytes; pos += Step) {
        if (chars[pos] == 0 || chars[pos] >= 0x80 || (Step == 2 && chars[pos + 1] != 0))
            return false;
    }
    ascii.resize(std::min(length, maxLength));
    if constexpr (Step == 1) {
        std::memcpy(ascii.data(), chars.data(), ascii.size());
    } else {
        // Four characters at a time: the low bytes of four UCS-2 units packed together.
        std::size_t i = 0;
        for (std::uint64_t word = 0; kWords && i + 4 <= ascii.size(); i += 4) {
            std::memcpy(&word, chars.data() + 2 * i, 8);
            word = (word | word >> 8) & 0x0000FFFF0000FFFFu;
            const auto packed = static_cast<std::uint32_t>(word | word >> 16);
            std::memcpy(ascii.data() + i, &packed, 4);
        }
        for (; i < ascii.size(); ++i)
            ascii[i] = static_cast<char>(chars[2 * i]);
    }
    return true;
}

} // namespace

// Text as mdb_unicode2ascii would give it, but with characters beyond U+FFFF kept, with a shortcut
// for the common case of plain ASCII (names of properties and columns, most descriptions): on a
// big database it runs a few hundred thousand times. Jet 3 text goes through the code page always.
std::string MdbDatabase::decodeText(std::span<const std::uint8_t> text, std::size_t maxBytes)
{
    if (maxBytes == 0)
        return {};
    if (!m_layout.jet3) {
        // Compressed text starts with FF FE and has one byte per character until a zero byte
        // switches to two.
        const bool compressed = text.size() >= 2 && text[0] == 0xFF && text[1] == 0xFE;
        std::string ascii;
        if (compressed ? plainAscii<1>(text.subspan(2), maxBytes - 1, ascii) : plainAscii<2>(text, maxBytes - 1, ascii))
            return ascii;
        // Not libmdb's conversion: it turns each half of a surrogate pair into '?'.
        return decodeStoredText(text, maxBytes);
    }
    m_decodeBuffer.resize(maxBytes);
    m_decodeBuffer[0] = '\0';
    mdb_unicode2ascii(m_handle, reinterpret_cast<const char *>(text.data()), text.size(), m_decodeBuffer.data(),
                      maxBytes);
    m_decodeBuffer[maxBytes - 1] = '\0';
    return std::string(m_decodeBuffer.data());
}

void MdbDatabase::appendFieldsRecord(EngineProtocol::Writer &records, const std::string &tableName,
                                     const Heartbeat &heartbeat)
{
    // The same work as fields(), which counts the rows when they are first wanted.
    fields(tableName, heartbeat, false);
    Table &found = m_tables.find(tableName)->second;
    const std::vector<std::int32_t> fieldAttributes = attributes(found);
    EngineProtocol::appendFieldsRecordOf(
        records, tableName, found.columns.size(),
        [&](std::size_t i) {
            const Column &column = found.columns[i];
            return EngineProtocol::FieldView{column.name, column.ado.type, column.ado.definedSize, fieldAttributes[i]};
        },
        *found.recordCount);
}

void MdbDatabase::appendDescriptionsRecord(EngineProtocol::Writer &records, const std::string &tableName)
{
    Table &found = table(tableName, Errors::kItemNotFound);
    const Described &texts = described(found);
    EngineProtocol::appendDescriptionsRecordOf(
        records, tableName, found.columns.size(),
        [&](std::size_t i) {
            return EngineProtocol::ColumnView{found.columns[i].name, texts.columns[i] ? &*texts.columns[i] : nullptr};
        },
        texts.table ? &*texts.table : nullptr);
}

EngineProtocol::FieldsResult MdbDatabase::fields(const std::string &tableName, const Heartbeat &heartbeat)
{
    return fields(tableName, heartbeat, true);
}

EngineProtocol::FieldsResult MdbDatabase::fields(const std::string &tableName, const Heartbeat &heartbeat, bool wanted)
{
    Table &found = table(tableName, Errors::kNoSuchTable);
    if (!found.recordCount) {
        // The row count in the table definition can be stale (a database closed badly, or simply
        // not updated), so the live rows are counted, the way a recordset sees them.
        found.recordCount = countLiveRows(found.usageMap, static_cast<std::uint32_t>(m_objects[found.object].tablePage),
                                          m_pages, m_layout.page, heartbeat, &found.damagedDataPages);
        found.usageMap = {};
    }

    EngineProtocol::FieldsResult result;
    if (!wanted)
        return result;
    result.fields.reserve(found.columns.size());
    const std::vector<std::int32_t> fieldAttributes = attributes(found);
    for (std::size_t i = 0; i < found.columns.size(); ++i) {
        const Column &column = found.columns[i];
        result.fields.push_back({column.name, column.ado.type, column.ado.definedSize, fieldAttributes[i]});
    }
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
    const auto &text = described(found).columns[static_cast<std::size_t>(column - found.columns.begin())];
    EngineProtocol::DescriptionResult result;
    if (text) {
        result.present = true;
        result.value = *text;
    }
    return result;
}

std::vector<EngineProtocol::ColumnDescription> MdbDatabase::columnDescriptions(const std::string &tableName,
                                                                               EngineProtocol::DescriptionResult &own)
{
    Table &found = table(tableName, Errors::kItemNotFound);
    const Described &described = this->described(found);
    const auto &texts = described.columns;
    own = {};
    if (described.table) {
        own.present = true;
        own.value = *described.table;
    }
    std::vector<EngineProtocol::ColumnDescription> result;
    result.reserve(found.columns.size());
    for (std::size_t i = 0; i < found.columns.size(); ++i) {
        EngineProtocol::ColumnDescription column;
        column.column = found.columns[i].name;
        if (texts[i]) {
            column.present = true;
            column.value = *texts[i];
        }
        result.push_back(std::move(column));
    }
    return result;
}

} // namespace Engine
