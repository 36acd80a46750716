#pragma once

// How Access itself names a column's type in table design: its data type ("Short Text",
// "Number", "AutoNumber", ...) and field size ("Long Integer", "Decimal", characters of text).

#include "engine/AdoTypes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Engine {

// Column flags (the descriptor's flags byte).
inline constexpr std::uint8_t kColumnAutoNumber = 0x04;
inline constexpr std::uint8_t kColumnAutoGuid = 0x40;
inline constexpr std::uint8_t kColumnHyperlink = 0x80;

struct ColumnDesign
{
    StoredColumn stored;
    std::uint8_t flags = 0;
    // Decimal's precision and scale, as stored.
    int precision = 0;
    int scale = 0;
    // For a complex column: the name of its template table ("MSysComplexType_Attachment",
    // "MSysComplexType_Long", ...); nothing when it is not known.
    std::optional<std::string> complexTemplate;
};

struct AccessFieldType
{
    std::string accessType;
    std::optional<std::string> fieldSize;
    std::optional<int> precision;
    std::optional<int> scale;
    bool multiValued = false;
};

AccessFieldType accessFieldType(const ColumnDesign &column);

} // namespace Engine
