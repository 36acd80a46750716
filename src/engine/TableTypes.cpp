#include "engine/TableTypes.h"

namespace Engine {

namespace {

constexpr std::uint32_t kSystemObjectFlag = 0x80000000u;
constexpr std::uint32_t kAccessObjectFlag = 0x00000002u;
// The kind of a saved query is kept in these bits of its flags; zero is a select query.
constexpr std::uint32_t kQueryKindMask = 0x000000F0u;

} // namespace

std::string tableType(int objectType, std::uint32_t flags, bool odbcLink)
{
    switch (objectType) {
    case kObjectTable:
        if (flags & kSystemObjectFlag)
            return "SYSTEM TABLE";
        if (flags & kAccessObjectFlag)
            return "ACCESS TABLE";
        return "TABLE";
    case kObjectLinkedTable:
        return "LINK";
    case kObjectOdbcLinkOrReport:
        return odbcLink ? "PASS-THROUGH" : std::string();
    case kObjectQuery:
        return (flags & kQueryKindMask) == 0 ? "VIEW" : std::string();
    default:
        return {};
    }
}

} // namespace Engine
