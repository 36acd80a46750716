#include "engine/Relationships.h"

#include "engine/AsciiText.h"

#include <algorithm>
#include <map>

namespace Engine {

namespace {

constexpr std::int32_t kOneToOne = 0x00000001;
constexpr std::int32_t kNotEnforced = 0x00000002;
constexpr std::int32_t kCascadeUpdates = 0x00000100;
constexpr std::int32_t kCascadeDeletes = 0x00001000;
constexpr std::int32_t kCascadeNull = 0x00002000;
constexpr std::int32_t kLeftJoin = 0x01000000;
constexpr std::int32_t kRightJoin = 0x02000000;
// Access allows 10 fields in a key.
constexpr std::int32_t kMaxPairs = 32;

void addProblem(Relationship &r, const std::string &what)
{
    if (r.problem.find(what) != std::string::npos)
        return;
    if (!r.problem.empty())
        r.problem += "; ";
    r.problem += what;
}

using Group = std::vector<const RelationshipRow *>;

// The rows of each relationship, in the order their names first appear.
std::vector<Group> groupRows(const std::vector<RelationshipRow> &rows)
{
    std::vector<Group> groups;
    std::map<std::string, std::size_t> byName;
    for (const RelationshipRow &row : rows) {
        // A row without a name belongs to no relationship the others can name: it stands alone, so
        // that two damaged rows are not taken for one relationship.
        if (!row.name || row.name->empty()) {
            groups.push_back({&row});
            continue;
        }
        const auto [it, added] = byName.try_emplace(asciiLower(*row.name), groups.size());
        if (added)
            groups.emplace_back();
        groups[it->second].push_back(&row);
    }
    return groups;
}

void setFlags(Relationship &r, std::int32_t flags)
{
    r.oneToOne = flags & kOneToOne;
    r.enforced = !(flags & kNotEnforced);
    r.cascadeUpdates = flags & kCascadeUpdates;
    r.cascadeDeletes = flags & kCascadeDeletes;
    r.cascadeNull = flags & kCascadeNull;
    r.join = (flags & kLeftJoin) ? "left" : (flags & kRightJoin) ? "right" : "inner";
}

// Each pair of fields at the position its row gives; the first row's tables and flags are the
// relationship's, and every row must agree with them.
void placePairs(Relationship &r, const Group &group, std::int32_t flags)
{
    std::int32_t count = group.front()->columnCount.value_or(static_cast<std::int32_t>(group.size()));
    if (count < 1 || count > kMaxPairs) {
        addProblem(r, "the relationship gives an impossible number of fields");
        count = std::clamp<std::int32_t>(static_cast<std::int32_t>(group.size()), 1, kMaxPairs);
    }
    std::vector<std::optional<std::pair<std::string, std::string>>> pairs(static_cast<std::size_t>(count));
    for (const RelationshipRow *row : group) {
        const std::int32_t at = row->position.value_or(-1);
        if (at < 0 || at >= count || pairs[static_cast<std::size_t>(at)]) {
            addProblem(r, "a pair of fields stands at a position the relationship does not have");
            continue;
        }
        if (asciiLower(row->primaryTable.value_or(std::string())) != asciiLower(r.primaryTable) ||
            asciiLower(row->foreignTable.value_or(std::string())) != asciiLower(r.foreignTable) ||
            row->flags.value_or(0) != flags)
            addProblem(r, "the rows of the relationship disagree");
        pairs[static_cast<std::size_t>(at)] =
            std::pair{row->primaryColumn.value_or(std::string()), row->foreignColumn.value_or(std::string())};
    }
    for (const auto &pair : pairs) {
        if (!pair) {
            addProblem(r, "a pair of fields is missing");
            continue;
        }
        r.primaryFields.push_back(pair->first);
        r.foreignFields.push_back(pair->second);
    }
}

Relationship relationshipOf(const Group &group, const std::vector<std::string> &knownTables)
{
    const RelationshipRow &first = *group.front();
    Relationship r;
    r.name = first.name.value_or(std::string());
    if (r.name.empty())
        addProblem(r, "the relationship has no name");
    r.primaryTable = first.primaryTable.value_or(std::string());
    r.foreignTable = first.foreignTable.value_or(std::string());
    const std::int32_t flags = first.flags.value_or(0);
    setFlags(r, flags);
    placePairs(r, group, flags);
    if (!knownTables.empty()) {
        for (const std::string *table : {&r.primaryTable, &r.foreignTable}) {
            if (std::find(knownTables.begin(), knownTables.end(), asciiLower(*table)) == knownTables.end())
                addProblem(r, "the relationship names a table that the database does not have: " + *table);
        }
    }
    return r;
}

} // namespace

std::vector<Relationship> readRelationships(const std::vector<RelationshipRow> &rows,
                                            const std::vector<std::string> &tables)
{
    std::vector<std::string> known;
    for (const std::string &table : tables)
        known.push_back(asciiLower(table));
    std::vector<Relationship> out;
    for (const Group &group : groupRows(rows))
        out.push_back(relationshipOf(group, known));
    return out;
}

bool joinsSystemTable(const Relationship &relationship, const std::vector<std::string> &systemTables)
{
    const std::string primary = asciiLower(relationship.primaryTable);
    const std::string foreign = asciiLower(relationship.foreignTable);
    return std::any_of(systemTables.begin(), systemTables.end(), [&](const std::string &table) {
        const std::string name = asciiLower(table);
        return name == primary || name == foreign;
    });
}

} // namespace Engine
