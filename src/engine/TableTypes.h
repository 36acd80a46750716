#pragma once

// Which catalogue objects the TABLES rowset of the Jet / ACE providers lists, and as what.

#include <cstdint>
#include <string>

namespace Engine {

// Object types as libmdb reports them (the MSysObjects type masked with 0x7F).
inline constexpr int kObjectTable = 1;
inline constexpr int kObjectOdbcLinkOrReport = 4; // masking makes reports (-32764) look like ODBC links (4)
inline constexpr int kObjectQuery = 5;
inline constexpr int kObjectLinkedTable = 6;

// The raw MSysObjects type of ODBC-linked tables, for libmdb's catalogue filter.
inline constexpr int kRawOdbcLinkType = 4;

// The TABLE_TYPE of a catalogue object, or an empty string when the rowset does not list it.
//   TABLE         local table
//   SYSTEM TABLE  local table with the Jet system flag (0x80000000)
//   ACCESS TABLE  local table with only Access's own system flag (0x2)
//   LINK          table linked from another Access database
//   PASS-THROUGH  table linked through ODBC (odbcLink tells it from a report)
//   VIEW          select query; action, crosstab, union, pass-through and data-definition queries
//                 belong to the PROCEDURES rowset and are left out
// Forms, reports, macros, modules and relationships are not listed.
std::string tableType(int objectType, std::uint32_t flags, bool odbcLink);

} // namespace Engine
