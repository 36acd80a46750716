#include "engine/QueryText.h"

#include "engine/AsciiText.h"

#include <algorithm>
#include <memory>

namespace Engine {

namespace {

enum Attribute {
    TypeRow = 1,
    ParameterRow = 2,
    FlagRow = 3,
    RemoteDatabaseRow = 4,
    TableRow = 5,
    ColumnRow = 6,
    JoinRow = 7,
    WhereRow = 8,
    GroupByRow = 9,
    HavingRow = 10,
    OrderByRow = 11,
};

// Bits of the flag row.
constexpr int SelectStar = 0x01;
constexpr int Distinct = 0x02; // for a union: UNION rather than UNION ALL
constexpr int OwnerAccess = 0x04;
constexpr int DistinctRow = 0x08;
constexpr int Top = 0x10;
constexpr int Percent = 0x20;

// Column rows of an append query that are VALUES items; of a crosstab, the PIVOT and the ordinary
// columns (the rest is the TRANSFORM value).
constexpr int AppendValue = 0x8000;
constexpr int CrosstabPivot = 0x01;
constexpr int CrosstabColumn = 0x02;

const char *typeFromObjectFlags(int flags)
{
    switch (flags & 0xF0) {
    case 16:
        return "crosstab";
    case 32:
        return "delete";
    case 48:
        return "update";
    case 64:
        return "append";
    case 80:
        return "make-table";
    case 96:
        return "data-definition";
    case 112:
        return "pass-through";
    case 128:
        return "union";
    default:
        return nullptr;
    }
}

const char *typeFromTypeRow(int flag)
{
    static const char *const names[] = {nullptr,  "select",   "make-table",      "append",       "update",
                                        "delete", "crosstab", "data-definition", "pass-through", "union"};
    return flag >= 1 && flag <= 9 ? names[flag] : nullptr;
}

bool isWordChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::string quotePart(const std::string &part)
{
    if (!part.empty() && std::all_of(part.begin(), part.end(), isWordChar))
        return part;
    if (part.size() >= 2 && part.front() == '[' && part.back() == ']')
        return part;
    return '[' + part + ']';
}

std::string join(const std::vector<std::string> &items, const char *separator)
{
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i)
            out += separator;
        out += items[i];
    }
    return out;
}

std::string text(const std::optional<std::string> &value)
{
    return value.value_or(std::string());
}

// Line breaks as "\n", whatever the row kept (Access keeps CR LF); NULs dropped.
std::string plainLineBreaks(const std::string &value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r') {
            out += '\n';
            if (i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else if (value[i] != '\0') {
            out += value[i];
        }
    }
    return out;
}

// Text with its line breaks as "\n" and no NUL or blanks at either end.
std::string tidy(const std::string &value)
{
    const std::string out = plainLineBreaks(value);
    const auto first = out.find_first_not_of(" \t\n");
    if (first == std::string::npos)
        return std::string();
    return out.substr(first, out.find_last_not_of(" \t\n") - first + 1);
}

const char *parameterType(int flag)
{
    switch (flag) {
    case 0:
        return "Value";
    case 1:
        return "Bit";
    case 2:
        return "Byte";
    case 3:
        return "Short";
    case 4:
        return "Long";
    case 5:
        return "Currency";
    case 6:
        return "IEEESingle";
    case 7:
        return "IEEEDouble";
    case 8:
        return "DateTime";
    case 9:
        return "Binary";
    case 10:
        return "Text";
    case 11:
        return "LongBinary";
    case 12:
        return "LongText";
    case 15:
        return "Guid";
    case 20:
        return "Decimal";
    default:
        return nullptr;
    }
}

// A parameter's name as the PARAMETERS clause writes it. The name is kept as it was typed: a
// reference such as [Forms]![Dialog]![Start] already has its brackets, a prompt such as
// "User Name" gets them, as Access writes it.
std::string parameterName(const std::string &name)
{
    if (!name.empty() && std::all_of(name.begin(), name.end(), isWordChar))
        return name;
    if (name.find('[') != std::string::npos)
        return name;
    return '[' + name + ']';
}

// A table, or a join of two sources, in the FROM list.
struct Source
{
    std::string text;              // a table as written
    std::vector<std::string> keys; // the names that find it (alias, else name), in lower case
    std::shared_ptr<Source> left;  // a join's two sides
    std::shared_ptr<Source> right;
    int joinType = 0; // 1 inner, 2 left, 3 right
    std::vector<std::string> conditions;

    bool isJoin() const { return joinType != 0; }
    bool contains(const std::string &key) const { return std::find(keys.begin(), keys.end(), key) != keys.end(); }
    std::string sql(bool nested) const
    {
        if (!isJoin())
            return text;
        static const char *const kinds[] = {"", " INNER JOIN ", " LEFT JOIN ", " RIGHT JOIN "};
        std::string on;
        if (conditions.size() == 1) {
            on = conditions.front();
        } else {
            std::vector<std::string> wrapped;
            for (const std::string &condition : conditions)
                wrapped.push_back('(' + condition + ')');
            on = join(wrapped, " AND ");
        }
        const std::string body = left->sql(true) + kinds[joinType] + right->sql(true) + " ON " + on;
        return nested ? '(' + body + ')' : body;
    }
};

// Takes the source that holds the table of that name (or alias) out of the list; a table that no
// table row names stands for itself.
std::shared_ptr<Source> takeSource(std::vector<std::shared_ptr<Source>> &sources, const std::string &name)
{
    const std::string key = asciiLower(name);
    for (auto it = sources.begin(); it != sources.end(); ++it) {
        if ((*it)->contains(key)) {
            std::shared_ptr<Source> found = *it;
            sources.erase(it);
            return found;
        }
    }
    auto bare = std::make_shared<Source>();
    bare->text = quotePart(name);
    bare->keys.push_back(key);
    return bare;
}

class Builder
{
public:
    Builder(const std::vector<QueryRow> &rows, QueryText &result) : m_rows(rows), m_result(result) {}

    std::vector<const QueryRow *> rows(int attribute) const
    {
        std::vector<const QueryRow *> found;
        for (const QueryRow &row : m_rows) {
            if (row.attribute == attribute)
                found.push_back(&row);
        }
        return found;
    }
    const QueryRow *row(int attribute) const
    {
        const auto found = rows(attribute);
        return found.empty() ? nullptr : found.front();
    }
    int flags() const
    {
        const QueryRow *flagRow = row(FlagRow);
        return flagRow ? flagRow->flag.value_or(0) : 0;
    }

    void problem(const std::string &what)
    {
        if (!m_result.problem.empty())
            m_result.problem += "; ";
        m_result.problem += what;
    }

    std::string parameters()
    {
        std::vector<std::string> items;
        for (const QueryRow *p : rows(ParameterRow)) {
            const char *type = parameterType(p->flag.value_or(-1));
            if (!type) {
                problem("a parameter of an unknown type was left out");
                continue;
            }
            std::string item = parameterName(text(p->name1)) + ' ' + type;
            if (p->flag.value_or(-1) == 10 && p->extra.value_or(0) > 0)
                item += '(' + std::to_string(*p->extra) + ')';
            items.push_back(item);
        }
        return items.empty() ? std::string() : "PARAMETERS " + join(items, ", ") + ";\n";
    }

    static std::string remote(const std::optional<std::string> &path, const std::optional<std::string> &type)
    {
        if (!path && !type)
            return std::string();
        std::string out = " IN '" + text(path) + "'";
        if (type && !type->empty())
            out += " [" + *type + ']';
        return out;
    }
    std::string remoteDatabase() const
    {
        const QueryRow *r = row(RemoteDatabaseRow);
        return r ? remote(r->name1, r->expression) : std::string();
    }

    // Access writes DISTINCT or DISTINCTROW, then TOP n [PERCENT]: a query may have both.
    std::string predicate()
    {
        const int f = flags();
        std::string out;
        if (f & Distinct)
            out = "DISTINCT ";
        else if (f & DistinctRow)
            out = "DISTINCTROW ";
        if (f & Top) {
            const std::string count = text(row(FlagRow)->name1);
            if (count.empty())
                problem("the query's TOP has no number and was left out");
            else
                out += "TOP " + count + ((f & Percent) ? " PERCENT " : " ");
        }
        return out;
    }

    static std::string column(const QueryRow &c)
    {
        std::string out = text(c.expression);
        if (c.name1 && !c.name1->empty())
            out += " AS " + quotePart(*c.name1);
        return out;
    }

    // FROM: the tables, joined as the join rows say, then the database they are in.
    std::string from()
    {
        std::vector<std::shared_ptr<Source>> sources = tableSources();
        joinSources(sources);
        std::vector<std::string> items;
        for (const auto &source : sources)
            items.push_back(source->sql(false));
        return join(items, ", ") + remoteDatabase();
    }

    std::vector<std::shared_ptr<Source>> tableSources() const
    {
        std::vector<std::shared_ptr<Source>> sources;
        for (const QueryRow *t : rows(TableRow)) {
            auto source = std::make_shared<Source>();
            const std::string name = text(t->name1);
            std::string written;
            if (t->expression) // a subquery, or the database a table is in
                written = '[' + tidy(*t->expression) + "]." + (name.empty() ? std::string() : quotePart(name));
            else
                written = quoteName(name);
            if (t->name2 && !t->name2->empty())
                written += " AS " + quotePart(*t->name2);
            source->text = written;
            source->keys.push_back(asciiLower(t->name2 && !t->name2->empty() ? *t->name2 : name));
            sources.push_back(source);
        }
        return sources;
    }

    // Each join row joins the two sources that hold its tables into one; a second row between the
    // same two adds a condition to the join.
    void joinSources(std::vector<std::shared_ptr<Source>> &sources)
    {
        for (const QueryRow *j : rows(JoinRow)) {
            const int type = j->flag.value_or(0);
            if (type < 1 || type > 3) {
                problem("a join of an unknown kind was left out");
                continue;
            }
            const std::string a = asciiLower(text(j->name1));
            const std::string b = asciiLower(text(j->name2));
            const auto same = std::find_if(sources.begin(), sources.end(), [&](const std::shared_ptr<Source> &s) {
                return s->isJoin() && s->contains(a) && s->contains(b);
            });
            if (same != sources.end()) {
                if ((*same)->joinType != type) {
                    problem("two joins of different kinds between the same tables; the second was left out");
                    continue;
                }
                (*same)->conditions.push_back(text(j->expression));
                continue;
            }
            auto joined = std::make_shared<Source>();
            joined->left = takeSource(sources, text(j->name1));
            joined->right = takeSource(sources, text(j->name2));
            joined->joinType = type;
            joined->conditions.push_back(text(j->expression));
            joined->keys = joined->left->keys;
            joined->keys.insert(joined->keys.end(), joined->right->keys.begin(), joined->right->keys.end());
            sources.push_back(joined);
        }
    }

    std::string expressions(int attribute, const char *keyword, int onlyFlag = 0)
    {
        std::vector<std::string> items;
        for (const QueryRow *r : rows(attribute)) {
            if (onlyFlag && r->flag.value_or(0) != onlyFlag)
                continue;
            std::string item = text(r->expression);
            if (attribute == OrderByRow && asciiLower(text(r->name1)) == "d")
                item += " DESC";
            items.push_back(item);
        }
        return items.empty() ? std::string() : std::string("\n") + keyword + join(items, ", ");
    }

    // The body shared by select, make-table, append, delete and crosstab queries: columns, FROM and
    // the clauses. `into` follows the columns of a make-table query.
    std::string selectBody(const std::vector<const QueryRow *> &columns, const std::string &into, bool crosstab)
    {
        std::vector<std::string> items;
        for (const QueryRow *c : columns)
            items.push_back(column(*c));
        if (flags() & SelectStar)
            items.push_back("*");
        std::string out = predicate() + join(items, ", ") + into;
        const std::string sources = from();
        if (!sources.empty()) // a SELECT of values alone has no FROM
            out += "\nFROM " + sources;
        out += expressions(WhereRow, "WHERE ");
        out += expressions(GroupByRow, "GROUP BY ", crosstab ? CrosstabColumn : 0);
        out += expressions(HavingRow, "HAVING ");
        out += expressions(OrderByRow, "ORDER BY ");
        return out;
    }

    std::string ending() const { return (flags() & OwnerAccess) ? "\nWITH OWNERACCESS OPTION;" : ";"; }

private:
    const std::vector<QueryRow> &m_rows;
    QueryText &m_result;
};

std::vector<const QueryRow *> withFlag(const std::vector<const QueryRow *> &rows, int flag, bool set)
{
    std::vector<const QueryRow *> out;
    for (const QueryRow *r : rows) {
        if (((r->flag.value_or(0) & flag) != 0) == set)
            out.push_back(r);
    }
    return out;
}

// The kind of query: the Flags of its MSysObjects row name the kinds other than select; when they
// name none, the query's type row says. Access writes select queries without a type row (every
// one in a file of Access 2007, and other writers do the same): with neither, it is a select.
const char *queryType(std::int32_t objectFlags, const QueryRow *typeRow)
{
    if (const char *type = typeFromObjectFlags(objectFlags))
        return type;
    if (typeRow)
        return typeFromTypeRow(typeRow->flag.value_or(0));
    return (objectFlags & 0xF0) == 0 ? "select" : nullptr;
}

std::string unknownKind(std::int32_t objectFlags, const QueryRow *typeRow)
{
    std::string why =
        "the kind of query is not one Access writes (MSysObjects Flags " + std::to_string(objectFlags & 0xF0) + ", ";
    if (!typeRow)
        return why + "no type row)";
    return why + "type row " + (typeRow->flag ? std::to_string(*typeRow->flag) : std::string("empty")) + ')';
}

// Whether MSysQueries holds anything of the query beyond the rows that open and close it.
bool hasContent(const std::vector<QueryRow> &rows)
{
    return std::any_of(rows.begin(), rows.end(),
                       [](const QueryRow &r) { return r.attribute != 0 && r.attribute != 255; });
}

// The kinds whose type row holds what the other rows cannot say: the target table, or the SQL.
bool needsTypeRow(const std::string &type)
{
    return type == "make-table" || type == "append" || type == "data-definition" || type == "pass-through";
}

// Data-definition and pass-through queries keep their SQL whole, in the type row.
std::string storedSql(Builder &b, const QueryRow &typeRow)
{
    std::string sql = tidy(text(typeRow.expression));
    if (sql.empty())
        b.problem("the query's SQL text is missing");
    return sql;
}

// The table an append or make-table query writes to, as its type row names it (the database it is
// in follows apart).
std::string targetTable(Builder &b, const QueryRow &typeRow)
{
    const std::string name = text(typeRow.name1);
    if (name.empty())
        b.problem("the query names no table to write to");
    return quoteName(name);
}

std::string targetDatabase(const QueryRow &typeRow)
{
    return Builder::remote(typeRow.name2, typeRow.expression);
}

// A union keeps its two SELECTs whole, as the expressions of two table rows with fixed aliases;
// only the ORDER BY and whether duplicates stay are rows of their own.
std::string unionStatement(Builder &b)
{
    const QueryRow *first = nullptr;
    const QueryRow *second = nullptr;
    for (const QueryRow *r : b.rows(TableRow)) {
        if (text(r->name2) == "X7YZ_____1")
            first = r;
        else if (text(r->name2) == "X7YZ_____2")
            second = r;
    }
    if (!first || !second) {
        b.problem("a part of the union is missing");
        return std::string();
    }
    return tidy(text(first->expression)) + '\n' + ((b.flags() & Distinct) ? "UNION " : "UNION ALL ") +
           tidy(text(second->expression)) + b.expressions(OrderByRow, "ORDER BY ");
}

// The statements built from rows, without the PARAMETERS before them and the ending after them.

std::string selectStatement(Builder &b, const std::vector<const QueryRow *> &columns)
{
    return "SELECT " + b.selectBody(columns, std::string(), false);
}

std::string makeTableStatement(Builder &b, const QueryRow &typeRow, const std::vector<const QueryRow *> &columns)
{
    return "SELECT " + b.selectBody(columns, " INTO " + targetTable(b, typeRow) + targetDatabase(typeRow), false);
}

std::string deleteStatement(Builder &b, const std::vector<const QueryRow *> &columns)
{
    return "DELETE " + b.selectBody(columns, std::string(), false);
}

// The column rows of a crosstab are its TRANSFORM value, its PIVOT column and its ordinary columns.
std::string crosstabStatement(Builder &b, const std::vector<const QueryRow *> &columns)
{
    const auto transform = withFlag(withFlag(columns, CrosstabPivot, false), CrosstabColumn, false);
    const auto pivot = withFlag(columns, CrosstabPivot, true);
    const auto ordinary = withFlag(columns, CrosstabColumn, true);
    if (transform.empty() || pivot.empty())
        b.problem("the crosstab's value or its PIVOT column is missing");
    std::string sql;
    if (!transform.empty())
        sql += "TRANSFORM " + Builder::column(*transform.front()) + '\n';
    sql += "SELECT " + b.selectBody(ordinary, std::string(), true);
    if (!pivot.empty())
        sql += "\nPIVOT " + text(pivot.front()->expression);
    return sql;
}

// The fields an append query fills, as the INSERT INTO list names them.
std::string appendTargets(const std::vector<const QueryRow *> &columns)
{
    std::vector<std::string> targets;
    for (const QueryRow *c : columns) {
        if (c->name2 && !c->name2->empty())
            targets.push_back(quoteName(*c->name2));
    }
    return targets.empty() ? std::string() : " (" + join(targets, ", ") + ')';
}

// An append query either gives its values (column rows marked as such) or selects them.
std::string appendStatement(Builder &b, const QueryRow &typeRow, const std::vector<const QueryRow *> &columns)
{
    const auto values = withFlag(columns, AppendValue, true);
    const auto selected = withFlag(columns, AppendValue, false);
    std::string sql = "INSERT INTO " + targetTable(b, typeRow);
    sql += appendTargets(values.empty() ? selected : values) + targetDatabase(typeRow) + '\n';
    if (values.empty())
        return sql + "SELECT " + b.selectBody(selected, std::string(), false);
    std::vector<std::string> items;
    for (const QueryRow *v : values)
        items.push_back(text(v->expression));
    return sql + "VALUES (" + join(items, ", ") + ')';
}

std::string updateStatement(Builder &b, const std::vector<const QueryRow *> &columns)
{
    std::vector<std::string> sets;
    for (const QueryRow *c : columns)
        sets.push_back(text(c->name2) + " = " + text(c->expression));
    if (sets.empty())
        b.problem("the update query sets no field");
    return "UPDATE " + b.from() + "\nSET " + join(sets, ", ") + b.expressions(WhereRow, "WHERE ");
}

// The statement of a query built from its rows; typeRow is there for the kinds that need it.
std::string statement(Builder &b, const std::string &type, const QueryRow *typeRow)
{
    const auto columns = b.rows(ColumnRow);
    if (type == "select")
        return selectStatement(b, columns);
    if (type == "make-table")
        return makeTableStatement(b, *typeRow, columns);
    if (type == "delete")
        return deleteStatement(b, columns);
    if (type == "crosstab")
        return crosstabStatement(b, columns);
    if (type == "append")
        return appendStatement(b, *typeRow, columns);
    if (type == "update")
        return updateStatement(b, columns);
    if (type == "union")
        return unionStatement(b);
    return std::string();
}

} // namespace

std::string quoteName(const std::string &name)
{
    std::string out;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = name.find('.', start);
        out += quotePart(name.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos)
            return out;
        out += '.';
        start = dot + 1;
    }
}

QueryText rebuildQuery(std::int32_t objectFlags, const std::vector<QueryRow> &rows)
{
    QueryText result;
    Builder b(rows, result);
    const QueryRow *typeRow = b.row(TypeRow);
    if (!hasContent(rows)) {
        const char *named = typeFromObjectFlags(objectFlags);
        result.type = named ? named : "unknown";
        b.problem("MSysQueries holds no rows of the query");
        return result;
    }
    const char *type = queryType(objectFlags, typeRow);
    if (!type) {
        result.type = "unknown";
        b.problem(unknownKind(objectFlags, typeRow));
        return result;
    }
    result.type = type;
    if (!typeRow && needsTypeRow(result.type)) {
        b.problem("the query's type row is missing");
        return result;
    }
    if (result.type == "data-definition" || result.type == "pass-through") {
        result.sql = storedSql(b, *typeRow);
        return result;
    }
    const std::string parameters = b.parameters(); // its problems come before the statement's
    const std::string body = statement(b, result.type, typeRow);
    if (!body.empty())
        result.sql = plainLineBreaks(parameters + body + b.ending());
    return result;
}

} // namespace Engine
