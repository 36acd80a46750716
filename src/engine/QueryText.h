#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Engine {

// One row of MSysQueries, as the file keeps it. Text is UTF-8.
struct QueryRow
{
    int attribute = 0;
    std::optional<std::string> expression;
    std::optional<int> flag;
    std::optional<std::string> name1;
    std::optional<std::string> name2;
    std::optional<std::int32_t> extra;
};

struct QueryText
{
    // "select", "crosstab", "append", "update", "delete", "make-table", "data-definition",
    // "pass-through", "union", or "unknown" when neither the catalogue nor the rows name a kind
    // Access writes. A query whose Flags name no kind and that has no type row is a select query,
    // as Access writes them.
    std::string type;
    // The SQL rebuilt from the rows, lines separated by "\n"; as much as could be rebuilt when a
    // row was damaged.
    std::string sql;
    // Why the SQL is incomplete; empty when it is whole.
    std::string problem;
};

// Rebuilds a saved query from its MSysQueries rows (in the order they are stored) and the Flags
// of its MSysObjects row, the way Access shows it in SQL view. Never fails: rows that make no
// sense are left out and named in the problem; a query whose SQL cannot be rebuilt at all keeps
// the type its rows name, no SQL and the reason in the problem.
QueryText rebuildQuery(std::int32_t objectFlags, const std::vector<QueryRow> &rows);

// A name as SQL writes it: each part between dots is put in brackets when it holds anything but
// letters, digits and "_".
std::string quoteName(const std::string &name);

} // namespace Engine
