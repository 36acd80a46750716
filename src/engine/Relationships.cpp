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

} // namespace

std::vector<Relationship> readRelationships(const std::vector<RelationshipRow> &rows,
                                            const std::vector<std::string> &tables)
{
    std::vector<std::string> order;
    std::map<std::string, std::vector<const RelationshipRow *>> groups;
    for (const RelationshipRow &row : rows) {
        const std::string key = asciiLower(row.name.value_or(std::string()));
        auto [it, added] = groups.try_emplace(key);
        if (added)
            order.push_back(key);
        it->second.push_back(&row);
    }
    std::vector<std::string> known;
    for (const std::string &table : tables)
        known.push_back(asciiLower(table));

    std::vector<Relationship> out;
    for (const std::string &key : order) {
        const auto &group = groups[key];
        const RelationshipRow &first = *group.front();
        Relationship r;
        r.name = first.name.value_or(std::string());
        if (r.name.empty())
            addProblem(r, "the relationship has no name");
        r.primaryTable = first.primaryTable.value_or(std::string());
        r.foreignTable = first.foreignTable.value_or(std::string());
        const std::int32_t flags = first.flags.value_or(0);
        r.oneToOne = flags & kOneToOne;
        r.enforced = !(flags & kNotEnforced);
        r.cascadeUpdates = flags & kCascadeUpdates;
        r.cascadeDeletes = flags & kCascadeDeletes;
        r.cascadeNull = flags & kCascadeNull;
        r.join = (flags & kLeftJoin) ? "left" : (flags & kRightJoin) ? "right" : "inner";

        std::int32_t count = first.columnCount.value_or(static_cast<std::int32_t>(group.size()));
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
        if (!tables.empty()) {
            for (const std::string *table : {&r.primaryTable, &r.foreignTable}) {
                if (std::find(known.begin(), known.end(), asciiLower(*table)) == known.end())
                    addProblem(r, "the relationship names a table that the database does not have: " + *table);
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace Engine
