#include "engine/SystemTables.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace Engine {

namespace {

struct DefinitionDeleter
{
    void operator()(MdbTableDef *definition) const { mdb_free_tabledef(definition); }
};

} // namespace

SystemRows readSystemRows(MdbHandle *mdb, std::uint32_t tablePage, const char *tableName,
                          const std::vector<std::string> &columns, std::size_t maxRows)
{
    SystemRows result;
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
        !mdb_read_columns(table) || table->columns->len != table->num_cols) {
        result.problem = std::string(tableName) + " cannot be read: its definition is damaged";
        return result;
    }
    const std::size_t bindSize = std::max<std::size_t>(mdb->bind_size, MDB_BIND_SIZE) + 1;
    std::vector<std::vector<char>> bound(columns.size(), std::vector<char>(bindSize, '\0'));
    std::vector<int> lengths(columns.size(), 0);
    std::vector<bool> present(columns.size(), false);
    for (std::size_t i = 0; i < columns.size(); ++i)
        present[i] =
            mdb_bind_column_by_name(table, const_cast<char *>(columns[i].c_str()), bound[i].data(), &lengths[i]) > 0;

    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        if (result.rows.size() >= maxRows) {
            result.problem = std::string(tableName) + " has more rows than a database can hold; the rest were left out";
            break;
        }
        std::vector<std::optional<std::string>> row(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (present[i] && lengths[i] > 0)
                row[i] = std::string(bound[i].data(), strnlen(bound[i].data(), bindSize - 1));
            bound[i][0] = '\0';
        }
        result.rows.push_back(std::move(row));
    }
    // The bound buffers go away with this function.
    for (guint i = 0; i < table->columns->len; ++i) {
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        column->bind_ptr = nullptr;
        column->len_ptr = nullptr;
    }
    return result;
}

} // namespace Engine
