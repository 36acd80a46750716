#include "engine/SystemTables.h"

#include "engine/StoredText.h"
#include "engine/TableDefinition.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <span>

namespace Engine {

namespace {

using Value = std::optional<std::string>;

constexpr std::uint32_t kObjectsDefinitionPage = 2;
constexpr std::size_t kMaxRows = 1000000;

void addProblem(std::string &problem, const std::string &text)
{
    if (!problem.empty())
        problem += "; ";
    problem += text;
}

struct DefinitionDeleter
{
    void operator()(MdbTableDef *definition) const { mdb_free_tabledef(definition); }
};

// Whether libmdb's mdb_memo_to_string reads the long value with this header whole: every row of
// its chain there, and as many bytes as the header says. A row it cannot find ends the value
// early (or leaves it empty) without a word.
bool longValueIsWhole(MdbHandle *mdb, std::span<const unsigned char, MDB_MEMO_OVERHEAD> header)
{
    const auto length = static_cast<std::uint32_t>(mdb_get_int32(const_cast<unsigned char *>(header.data()), 0));
    auto pageRow = static_cast<std::uint32_t>(mdb_get_int32(const_cast<unsigned char *>(header.data()), 4));
    void *page = nullptr;
    int start = 0;
    std::size_t size = 0;
    if (length & 0x80000000u)
        return true; // kept in the row itself
    if (length & 0x40000000u)
        return mdb_find_pg_row(mdb, static_cast<int>(pageRow), &page, &start, &size) == 0;
    if (length & 0xFF000000u)
        return false; // a kind libmdb does not read: it gives nothing
    std::set<std::uint32_t> seen;
    std::uint64_t read = 0;
    while (pageRow != 0) {
        if (!seen.insert(pageRow).second ||
            mdb_find_pg_row(mdb, static_cast<int>(pageRow), &page, &start, &size) != 0 || size < 4)
            return false;
        read += size - 4;
        pageRow = static_cast<std::uint32_t>(mdb_get_int32(page, start));
    }
    return read == length;
}

// The stored bytes of a text or memo value of the row just fetched (the row is on the page in
// libmdb's buffer); nothing when they cannot all be found. A long value's other pages are read into
// libmdb's second buffer, which leaves the row's page where it is.
std::optional<std::vector<std::uint8_t>> storedBytes(MdbHandle *mdb, const MdbColumn &column)
{
    const std::size_t pageSize = mdb->fmt->pg_size;
    if (column.cur_value_start < 0 || column.cur_value_len <= 0 ||
        std::size_t(column.cur_value_start) + std::size_t(column.cur_value_len) > pageSize)
        return std::nullopt;
    const unsigned char *value = mdb->pg_buf + column.cur_value_start;
    if (column.col_type == MDB_TEXT)
        return std::vector<std::uint8_t>(value, value + column.cur_value_len);
    if (column.col_type != MDB_MEMO || column.cur_value_len < MDB_MEMO_OVERHEAD)
        return std::nullopt;
    const auto length = static_cast<std::uint32_t>(mdb_get_int32(const_cast<unsigned char *>(value), 0));
    auto pageRow = static_cast<std::uint32_t>(mdb_get_int32(const_cast<unsigned char *>(value), 4));
    if (length & 0x80000000u)
        return std::vector<std::uint8_t>(value + MDB_MEMO_OVERHEAD, value + column.cur_value_len);
    std::vector<std::uint8_t> bytes;
    std::set<std::uint32_t> seen;
    const bool onePage = (length & 0x40000000u) != 0;
    while (pageRow != 0 && bytes.size() <= MDB_BIND_SIZE * 4) {
        void *page = nullptr;
        int start = 0;
        std::size_t size = 0;
        if (!seen.insert(pageRow).second ||
            mdb_find_pg_row(mdb, static_cast<int>(pageRow), &page, &start, &size) != 0 || start < 0 ||
            std::size_t(start) + size > pageSize || (!onePage && size < 4))
            return std::nullopt;
        const auto *row = static_cast<const unsigned char *>(page) + start;
        bytes.insert(bytes.end(), row + (onePage ? 0 : 4), row + size);
        pageRow = onePage ? 0 : static_cast<std::uint32_t>(mdb_get_int32(const_cast<unsigned char *>(row), 0));
    }
    return bytes;
}

// The wanted columns bound to buffers of their own, and let go again: the buffers go away with
// this object.
class BoundColumns
{
public:
    BoundColumns(MdbTableDef *table, const std::vector<std::string> &columns)
        : m_table(table), m_size(std::max<std::size_t>(table->entry->mdb->bind_size, MDB_BIND_SIZE) + 1),
          m_bound(columns.size(), std::vector<char>(m_size, '\0')), m_lengths(columns.size(), 0),
          m_present(columns.size(), false)
    {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            // Whole numbers are not bound: libmdb would print each into its buffer for us to read
            // back, which costs more than the rest of the row. They are read from their stored bytes.
            const int number = mdb_bind_column_by_name(table, const_cast<char *>(columns[i].c_str()), nullptr, nullptr);
            MdbColumn *column =
                number > 0 ? static_cast<MdbColumn *>(g_ptr_array_index(table->columns, guint(number - 1))) : nullptr;
            m_width.push_back(column ? integerWidth(column->col_type) : 0);
            if (column && m_width[i] == 0) {
                column->bind_ptr = m_bound[i].data();
                column->len_ptr = &m_lengths[i];
            }
            m_present[i] = column != nullptr;
            m_column.push_back(column);
            if (m_present[i])
                m_columns.push_back(column);
        }
    }
    ~BoundColumns()
    {
        for (guint i = 0; i < m_table->columns->len; ++i) {
            auto *column = static_cast<MdbColumn *>(g_ptr_array_index(m_table->columns, i));
            column->bind_ptr = nullptr;
            column->len_ptr = nullptr;
        }
    }
    BoundColumns(const BoundColumns &) = delete;
    BoundColumns &operator=(const BoundColumns &) = delete;

    // libmdb writes '?' for each half of a surrogate pair (a character beyond U+FFFF): a text of
    // the row just fetched that has one is decoded again from its stored bytes. Jet 3 text is in a
    // code page, which libmdb converts as well as anyone.
    void redecodeTexts()
    {
        MdbHandle *mdb = m_table->entry->mdb;
        m_cut = false;
        if (IS_JET3(mdb))
            return;
        const std::size_t limit = std::min<std::size_t>(MDB_BIND_SIZE, mdb->bind_size);
        for (std::size_t i = 0; i < m_bound.size(); ++i) {
            // Only the text is looked through, not what an earlier, longer one left after it.
            if (!m_present[i] || m_lengths[i] <= 0 ||
                !std::memchr(m_bound[i].data(), '?', strnlen(m_bound[i].data(), m_size - 1)))
                continue;
            const auto stored = storedBytes(mdb, *m_column[i]);
            if (!stored)
                continue;
            bool cut = false;
            const std::string text = decodeStoredText(*stored, limit, &cut);
            m_cut = m_cut || cut;
            std::memcpy(m_bound[i].data(), text.c_str(), text.size() + 1);
        }
    }

    // Whether every text of the row just fetched could be read whole: libmdb gives what it could
    // read of a memo, or nothing, without a word, and a text that fills its buffer to the end was
    // cut there, just as silently.
    bool textsAreWhole() const
    {
        MdbHandle *mdb = m_table->entry->mdb;
        if (m_cut)
            return false;
        for (std::size_t i = 0; i < m_bound.size(); ++i)
            if (m_present[i] && strnlen(m_bound[i].data(), m_size - 1) + 1 >= std::size_t(mdb->bind_size))
                return false;
        return std::all_of(m_columns.begin(), m_columns.end(), [&](const MdbColumn *column) {
            if (column->col_type != MDB_MEMO || column->cur_value_len <= 0)
                return true; // not a memo, or a null
            if (column->cur_value_len < MDB_MEMO_OVERHEAD)
                return false;
            std::array<unsigned char, MDB_MEMO_OVERHEAD> header{};
            std::memcpy(header.data(), mdb->pg_buf + column->cur_value_start, header.size());
            return longValueIsWhole(mdb, header);
        });
    }

    // The stored parts of the long value (memo or OLE) in wanted column i of the row just fetched:
    // its 12-byte header and what follows it in the row. Nothing for a null; `damaged` when the
    // row does not hold them.
    struct LongValueParts
    {
        std::span<const std::uint8_t> header;
        std::span<const std::uint8_t> inRow;
        bool damaged = false;
    };
    std::optional<LongValueParts> longValue(std::size_t i) const
    {
        const MdbColumn *column = m_column[i];
        if (!column || column->cur_value_len <= 0)
            return std::nullopt;
        MdbHandle *mdb = m_table->entry->mdb;
        const std::size_t start = std::size_t(std::max(column->cur_value_start, 0));
        const std::size_t length = std::size_t(column->cur_value_len);
        if (column->cur_value_start < 0 || length < MDB_MEMO_OVERHEAD ||
            start + length > std::size_t(mdb->fmt->pg_size))
            return LongValueParts{{}, {}, true};
        const std::span<const std::uint8_t> value(mdb->pg_buf + start, length);
        return LongValueParts{value.first(MDB_MEMO_OVERHEAD), value.subspan(MDB_MEMO_OVERHEAD), false};
    }

    // The stored bytes of wanted column i of the row just fetched, whatever its type (libmdb binds
    // no value for some types it does not know). Nothing for a null or bytes outside the page.
    std::optional<std::span<const std::uint8_t>> storedValue(std::size_t i) const
    {
        const MdbColumn *column = m_column[i];
        MdbHandle *mdb = m_table->entry->mdb;
        if (!column || column->cur_value_start < 0 || column->cur_value_len <= 0 ||
            std::size_t(column->cur_value_start) + std::size_t(column->cur_value_len) > std::size_t(mdb->fmt->pg_size))
            return std::nullopt;
        return std::span<const std::uint8_t>(mdb->pg_buf + column->cur_value_start, std::size_t(column->cur_value_len));
    }

    // The values of the row just fetched, whole numbers in decimal as libmdb prints them; the
    // buffers are emptied for the next.
    std::vector<Value> take()
    {
        std::vector<Value> values(m_bound.size());
        for (std::size_t i = 0; i < m_bound.size(); ++i) {
            if (m_width[i] > 0)
                values[i] = integerText(i);
            else if (m_present[i] && m_lengths[i] > 0)
                values[i] = std::string(m_bound[i].data(), strnlen(m_bound[i].data(), m_size - 1));
            m_bound[i][0] = '\0';
        }
        return values;
    }

private:
    // The stored size of a whole number of the type (a byte is unsigned, the others signed), 0 for
    // any other type.
    static std::size_t integerWidth(int type)
    {
        switch (type) {
        case MDB_BYTE:
            return 1;
        case MDB_INT:
            return 2;
        case MDB_LONGINT:
            return 4;
        default:
            return 0;
        }
    }

    // Wanted column i's whole number in decimal; nothing for a null or a value of another size.
    Value integerText(std::size_t i) const
    {
        const auto stored = storedValue(i);
        if (!stored || stored->size() != m_width[i])
            return std::nullopt;
        const std::uint8_t *b = stored->data();
        const std::int64_t value =
            m_width[i] == 1   ? std::int64_t(b[0])
            : m_width[i] == 2 ? std::int64_t(std::int16_t(std::uint16_t(b[0] | b[1] << 8)))
                              : std::int64_t(std::int32_t(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                                          std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24));
        char text[24];
        const auto [end, error] = std::to_chars(std::begin(text), std::end(text), value);
        return std::string(text, end);
    }

    MdbTableDef *m_table;
    std::size_t m_size;
    std::vector<std::vector<char>> m_bound;
    std::vector<int> m_lengths;
    std::vector<bool> m_present;
    std::vector<MdbColumn *> m_columns; // the wanted columns the table has
    std::vector<MdbColumn *> m_column;  // per wanted column, the table's (null when it has none)
    std::vector<std::size_t> m_width;   // per wanted column, a whole number's stored size (0: bound)
    bool m_cut = false;                 // a text decoded again did not fit its buffer
};

// What mdb_fetch_row should have handed out: the rows of the table's data pages that it does not
// pass over on purpose (an entry it cannot find, an empty row, a row that moved elsewhere), and
// whether a page the usage map names could not be read. It passes over a row it cannot crack,
// and stops at a page it cannot read, without a word: only this count tells.
struct ExpectedRows
{
    std::size_t rows = 0;
    bool pageMissing = false;
};

void countRowsOnPage(MdbHandle *mdb, ExpectedRows &expected)
{
    constexpr int kMovedRowFlag = 0x4000; // what libmdb's reader skips as deleted
    const unsigned int entries = static_cast<unsigned int>(mdb_get_int16(mdb->pg_buf, mdb->fmt->row_count_offset));
    for (unsigned int row = 0; row < entries; ++row) {
        int start = 0;
        std::size_t length = 0;
        if (mdb_find_row(mdb, static_cast<int>(row), &start, &length) == 0 && length != 0 && !(start & kMovedRowFlag))
            ++expected.rows;
    }
}

// mdb_read_pg answers a second read of the page it read last from its buffer, even when that read
// failed: the page is read for real.
bool readPage(MdbHandle *mdb, std::uint32_t page)
{
    mdb->cur_pg = 0;
    return mdb_read_pg(mdb, page) != 0;
}

ExpectedRows expectedRows(MdbTableDef *table, std::uint32_t tablePage)
{
    MdbHandle *mdb = table->entry->mdb;
    const auto isTablePage = [&] {
        return mdb->pg_buf[0] == MDB_PAGE_DATA &&
               static_cast<std::uint32_t>(mdb_get_int32(mdb->pg_buf, 4)) == tablePage;
    };
    ExpectedRows expected;
    std::uint32_t page = 0;
    for (;;) {
        const gint32 next = mdb_map_find_next(mdb, table->usage_map, table->map_sz, page);
        if (next < 0) {
            // A map libmdb cannot walk: it reads every page to the end of the file instead.
            for (std::uint32_t any = 1; readPage(mdb, any); ++any)
                if (isTablePage())
                    countRowsOnPage(mdb, expected);
            return expected;
        }
        if (next == 0)
            return expected;
        page = static_cast<std::uint32_t>(next);
        if (!readPage(mdb, page))
            expected.pageMissing = true;
        else if (isTablePage())
            countRowsOnPage(mdb, expected);
    }
}

// Every row of the table, as the values of the wanted columns, handed to take one by one; the
// problem when the table cannot be read (whole), empty when it can.
using FetchedRowSink = std::function<void(std::vector<Value> &&values, const BoundColumns &row)>;

std::string readRows(MdbHandle *mdb, std::uint32_t tablePage, const char *tableName,
                     const std::vector<std::string> &columns, std::size_t maxRows, const FetchedRowSink &take)
{
    MdbCatalogEntry entry{};
    entry.mdb = mdb;
    entry.object_type = MDB_TABLE;
    entry.table_pg = tablePage;
    std::snprintf(entry.object_name, sizeof entry.object_name, "%s", tableName);
    // As for the catalogue: without a usage map libmdb's row reader dereferences NULL, and its row
    // cracker keeps a row's fields in an array of MDB_MAX_COLS. mdb_read_columns continues from the
    // page mdb_read_table left in the handle's buffer.
    std::unique_ptr<MdbTableDef, DefinitionDeleter> definition(mdb_read_table(&entry));
    MdbTableDef *table = definition.get();
    if (!table || !table->usage_map || table->map_sz < 1 || table->num_cols > MDB_MAX_COLS ||
        !mdb_read_columns(table) || table->columns->len != table->num_cols)
        return std::string(tableName) + " cannot be read: its definition is damaged";
    BoundColumns bound(table, columns);
    std::size_t rows = 0;
    std::size_t cutTexts = 0;
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        if (rows++ >= maxRows)
            return std::string(tableName) + " has more rows than a database can hold; the rest were left out";
        bound.redecodeTexts();
        if (!bound.textsAreWhole())
            ++cutTexts;
        take(bound.take(), bound);
    }
    std::string problem;
    if (cutTexts > 0)
        addProblem(problem, std::string(tableName) + ": the texts of " + std::to_string(cutTexts) +
                                (cutTexts == 1 ? " row" : " rows") + " could not be read whole");
    const ExpectedRows expected = expectedRows(table, tablePage);
    if (expected.pageMissing)
        addProblem(problem, std::string(tableName) +
                                " could not be read to its end: its usage map names pages beyond the end of the file");
    if (rows < expected.rows)
        addProblem(problem, std::string(tableName) + ": " + std::to_string(expected.rows - rows) + " of its " +
                                std::to_string(expected.rows) + " rows could not be read");
    return problem;
}

// Numbers come as libmdb prints them, in decimal; anything else is no number.
std::optional<std::int64_t> number(const Value &text)
{
    if (!text || text->empty())
        return std::nullopt;
    char *end = nullptr;
    const long long value = std::strtoll(text->c_str(), &end, 10);
    if (end == text->c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> number32(const Value &text)
{
    const auto value = number(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

// A column of a system table and the field of the row it fills.
template <class Row> struct Column
{
    const char *name;
    void (*fill)(Row &row, Value &&value);
};

// `stored`, when given, takes what a row's text cannot give from its stored bytes.
template <class Row>
SystemTable<Row> readTable(MdbHandle *mdb, std::uint32_t tablePage, const char *tableName,
                           std::span<const Column<Row>> columns,
                           const std::function<void(Row &, const BoundColumns &)> &stored = {})
{
    std::vector<std::string> names;
    for (const Column<Row> &column : columns)
        names.emplace_back(column.name);
    SystemTable<Row> result;
    result.problem = readRows(mdb, tablePage, tableName, names, kMaxRows,
                              [&](std::vector<Value> &&values, const BoundColumns &bound) {
                                  Row row;
                                  for (std::size_t i = 0; i < columns.size(); ++i)
                                      columns[i].fill(row, std::move(values[i]));
                                  if (stored)
                                      stored(row, bound);
                                  result.rows.push_back(std::move(row));
                              });
    return result;
}

constexpr Column<ObjectRow> kObjectColumns[] = {
    {"Id", [](ObjectRow &row, Value &&value) { row.id = number(value); }},
    {"Name", [](ObjectRow &row, Value &&value) { row.name = std::move(value); }},
    {"Type", [](ObjectRow &row, Value &&value) { row.type = number(value); }},
    {"Flags", [](ObjectRow &row, Value &&value) { row.flags = number32(value); }},
    {"Database", [](ObjectRow &row, Value &&value) { row.database = std::move(value); }},
    {"ForeignName", [](ObjectRow &row, Value &&value) { row.foreignName = std::move(value); }},
    {"Connect", [](ObjectRow &row, Value &&value) { row.connect = std::move(value); }},
    // libmdb writes dates with a two-digit year: they are read from their stored bytes.
    {"DateCreate", [](ObjectRow &, Value &&) {}},
    {"DateUpdate", [](ObjectRow &, Value &&) {}},
    {"LvExtra", [](ObjectRow &, Value &&) {}},
};
constexpr std::size_t kDateCreateColumn = 7;
constexpr std::size_t kDateUpdateColumn = 8;
constexpr std::size_t kLvExtraColumn = 9;

constexpr Column<ComplexColumnRow> kComplexColumns[] = {
    {"ColumnName", [](ComplexColumnRow &row, Value &&value) { row.columnName = std::move(value); }},
    {"ComplexTypeObjectID", [](ComplexColumnRow &row, Value &&value) { row.complexTypeObjectId = number(value); }},
    {"ConceptualTableID", [](ComplexColumnRow &row, Value &&value) { row.conceptualTableId = number(value); }},
};

constexpr Column<RelationshipRow> kRelationshipColumns[] = {
    {"ccolumn", [](RelationshipRow &row, Value &&value) { row.columnCount = number32(value); }},
    {"grbit", [](RelationshipRow &row, Value &&value) { row.flags = number32(value); }},
    {"icolumn", [](RelationshipRow &row, Value &&value) { row.position = number32(value); }},
    {"szColumn", [](RelationshipRow &row, Value &&value) { row.foreignColumn = std::move(value); }},
    {"szObject", [](RelationshipRow &row, Value &&value) { row.foreignTable = std::move(value); }},
    {"szReferencedColumn", [](RelationshipRow &row, Value &&value) { row.primaryColumn = std::move(value); }},
    {"szReferencedObject", [](RelationshipRow &row, Value &&value) { row.primaryTable = std::move(value); }},
    {"szRelationship", [](RelationshipRow &row, Value &&value) { row.name = std::move(value); }},
};

constexpr Column<StoredQueryRow> kQueryColumns[] = {
    {"ObjectId", [](StoredQueryRow &row, Value &&value) { row.objectId = number(value); }},
    {"Attribute", [](StoredQueryRow &row, Value &&value) { row.query.attribute = number32(value).value_or(-1); }},
    {"Expression", [](StoredQueryRow &row, Value &&value) { row.query.expression = std::move(value); }},
    {"Flag", [](StoredQueryRow &row, Value &&value) { row.query.flag = number32(value); }},
    {"LvExtra", [](StoredQueryRow &row, Value &&value) { row.query.extra = number32(value); }},
    {"Name1", [](StoredQueryRow &row, Value &&value) { row.query.name1 = std::move(value); }},
    {"Name2", [](StoredQueryRow &row, Value &&value) { row.query.name2 = std::move(value); }},
};

} // namespace

SystemRows readSystemRows(MdbHandle *mdb, std::uint32_t tablePage, const char *tableName,
                          const std::vector<std::string> &columns, std::size_t maxRows)
{
    SystemRows result;
    result.problem = readRows(mdb, tablePage, tableName, columns, maxRows,
                              [&](std::vector<Value> &&values, auto &) { result.rows.push_back(std::move(values)); });
    return result;
}

SystemTable<ObjectRow> readObjectRows(MdbHandle *mdb)
{
    return readTable<ObjectRow>(mdb, kObjectsDefinitionPage, "MSysObjects", kObjectColumns,
                                [](ObjectRow &row, const BoundColumns &bound) {
                                    const auto date = [&](std::size_t column) -> std::optional<std::string> {
                                        const auto value = bound.storedValue(column);
                                        return value ? accessDateText(*value) : std::nullopt;
                                    };
                                    row.created = date(kDateCreateColumn);
                                    row.updated = date(kDateUpdateColumn);
                                    if (const auto extra = bound.longValue(kLvExtraColumn)) {
                                        row.extraDamaged = extra->damaged;
                                        row.extraHeader.assign(extra->header.begin(), extra->header.end());
                                        row.extraInRow.assign(extra->inRow.begin(), extra->inRow.end());
                                    }
                                });
}

SystemTable<ComplexColumnRow> readComplexColumnRows(MdbHandle *mdb, std::uint32_t tablePage)
{
    return readTable<ComplexColumnRow>(mdb, tablePage, "MSysComplexColumns", kComplexColumns);
}

SystemTable<RelationshipRow> readRelationshipRows(MdbHandle *mdb, std::uint32_t tablePage)
{
    return readTable<RelationshipRow>(mdb, tablePage, "MSysRelationships", kRelationshipColumns);
}

SystemTable<StoredQueryRow> readQueryRows(MdbHandle *mdb, std::uint32_t tablePage)
{
    return readTable<StoredQueryRow>(mdb, tablePage, "MSysQueries", kQueryColumns);
}

namespace {

// The whole long value in wanted column i of the row just fetched: nothing for a null, nothing
// with `damaged` when it is stored but cannot be read.
std::optional<std::vector<std::uint8_t>> longValueOf(const BoundColumns &row, std::size_t i, PageReader &pages,
                                                     const PageLayout &layout, std::size_t maxBytes, bool &damaged)
{
    const auto parts = row.longValue(i);
    std::optional<std::vector<std::uint8_t>> value;
    if (parts && !parts->damaged)
        value = readLongValue(parts->header, parts->inRow, pages, layout, maxBytes);
    damaged = parts && !value;
    return value;
}

} // namespace

SystemTable<ModuleRow> readModuleRows(MdbHandle *mdb, std::uint32_t tablePage, PageReader &pages,
                                      const PageLayout &layout, std::size_t maxModuleBytes)
{
    enum { Name, Type, Module };
    SystemTable<ModuleRow> result;
    result.problem = readRows(mdb, tablePage, "MSysModules2", {"Name", "Type", "Module"}, kMaxRows,
                              [&](std::vector<Value> &&values, const BoundColumns &row) {
                                  ModuleRow module;
                                  module.name = std::move(values[Name]);
                                  module.type = number(values[Type]);
                                  module.bytes =
                                      longValueOf(row, Module, pages, layout, maxModuleBytes, module.damaged);
                                  result.rows.push_back(std::move(module));
                              });
    return result;
}

SystemTable<StorageRow> readStorageRows(MdbHandle *mdb, std::uint32_t tablePage, PageReader &pages,
                                        const PageLayout &layout, std::size_t maxStreamBytes,
                                        const std::function<bool(const StorageRow &)> &wanted)
{
    enum { Id, ParentId, Name, Type, Lv };
    SystemTable<StorageRow> result;
    std::size_t unread = 0;
    result.problem = readRows(mdb, tablePage, "MSysAccessStorage", {"Id", "ParentId", "Name", "Type", "Lv"}, kMaxRows,
                              [&](std::vector<Value> &&values, const BoundColumns &row) {
                                  StorageRow storage;
                                  storage.id = number(values[Id]);
                                  storage.parentId = number(values[ParentId]);
                                  storage.name = std::move(values[Name]);
                                  storage.type = number(values[Type]);
                                  if (!wanted || wanted(storage))
                                      storage.bytes =
                                          longValueOf(row, Lv, pages, layout, maxStreamBytes, storage.damaged);
                                  unread += storage.damaged ? 1 : 0;
                                  result.rows.push_back(std::move(storage));
                              });
    if (unread > 0)
        addProblem(result.problem, "MSysAccessStorage: the bytes of " + std::to_string(unread) +
                                       (unread == 1 ? " stream" : " streams") + " could not be read");
    return result;
}

std::vector<ApplicationObject> applicationObjects(const std::vector<ObjectRow> &rows)
{
    std::vector<ApplicationObject> objects;
    for (const ObjectRow &row : rows)
        if (row.name && row.type &&
            (*row.type == kFormObject || *row.type == kReportObject || *row.type == kMacroObject ||
             *row.type == kModuleObject))
            objects.push_back(ApplicationObject{*row.name, *row.type, row.created, row.updated});
    return objects;
}

SystemTable<ObjectChunk> readObjectChunks(MdbHandle *mdb, std::uint32_t tablePage)
{
    enum { Id, Data };
    SystemTable<ObjectChunk> result;
    result.problem = readRows(mdb, tablePage, "MSysAccessObjects", {"ID", "Data"}, kMaxRows,
                              [&](std::vector<Value> &&values, const BoundColumns &row) {
                                  const auto id = number(values[Id]);
                                  const auto data = row.storedValue(Data);
                                  if (id)
                                      result.rows.push_back(
                                          ObjectChunk{*id, data ? std::vector<std::uint8_t>(data->begin(), data->end())
                                                                : std::vector<std::uint8_t>()});
                              });
    return result;
}

} // namespace Engine
