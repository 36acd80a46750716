#pragma once

// Relationships, from the rows of MSysRelationships: one row per pair of fields.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Engine {

struct RelationshipRow
{
    std::optional<std::int32_t> columnCount;  // ccolumn
    std::optional<std::int32_t> flags;        // grbit
    std::optional<std::int32_t> position;     // icolumn
    std::optional<std::string> foreignColumn; // szColumn
    std::optional<std::string> foreignTable;  // szObject
    std::optional<std::string> primaryColumn; // szReferencedColumn
    std::optional<std::string> primaryTable;  // szReferencedObject
    std::optional<std::string> name;          // szRelationship
};

struct Relationship
{
    std::string name;
    std::string primaryTable;
    std::vector<std::string> primaryFields;
    std::string foreignTable;
    std::vector<std::string> foreignFields;
    bool enforced = true;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
    bool cascadeNull = false;
    bool oneToOne = false;
    // "inner", "left" or "right".
    std::string join = "inner";
    // Why this relationship could not be read whole; empty when it could.
    std::string problem;
};

// Groups the rows by relationship name (without regard to case, in the order the names first
// appear; a row without a name is a relationship of its own) and puts each pair of fields at its
// position. A relationship whose rows disagree, miss
// a pair or name a table that is not among `tables` (when given) is kept with a problem.
std::vector<Relationship> readRelationships(const std::vector<RelationshipRow> &rows,
                                            const std::vector<std::string> &tables);

// Whether either side of the relationship is one of systemTables (named without regard to ASCII
// case). Access relates its own tables (the navigation pane's groups, its storage tree) as it
// relates the user's; those relationships are Access's, not the database's design.
bool joinsSystemTable(const Relationship &relationship, const std::vector<std::string> &systemTables);

} // namespace Engine
