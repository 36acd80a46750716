#pragma once

// How a column stored in an Access table looks to ADO through the Jet 4.0 / ACE providers: the
// Field.Type code and Field.DefinedSize that the report prints.

#include <cstdint>
#include <optional>
#include <string_view>

namespace Engine {

// On-disk column type codes (the first byte of a column descriptor).
enum StoredType : int {
    kBoolean = 0x01,
    kByte = 0x02,
    kInteger = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kSingle = 0x06,
    kDouble = 0x07,
    kDateTime = 0x08,
    kBinary = 0x09,
    kText = 0x0A,
    kOle = 0x0B,
    kMemo = 0x0C,
    kReplicationId = 0x0F,
    kDecimal = 0x10,
    kComplex = 0x12, // attachment, multi-value, version history of an append-only memo
    kLargeNumber = 0x13,
    kDateTimeExtended = 0x14,
};

// ADO DataTypeEnum values we report.
enum AdoType : std::int32_t {
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBoolean = 11,
    adUnsignedTinyInt = 17,
    adBigInt = 20,
    adGUID = 72,
    adBinary = 128,
    adWChar = 130,
    adNumeric = 131,
    adDBTimeStamp = 135,
    adChapter = 136,
    adLongVarWChar = 203,
    adVarWChar = 202,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

// The providers' documented maxima, which is what they report as the size of long values.
inline constexpr std::int64_t kMemoDefinedSize = 536870910;
inline constexpr std::int64_t kOleDefinedSize = 1073741823;

// What the column descriptor says about a column.
struct StoredColumn
{
    int type = 0;
    int size = 0; // bytes, as stored (Jet 4 and later text: two per character)
    bool fixedLength = false;
    bool calculated = false;       // Access 2010 calculated field
    std::optional<int> resultType; // its ResultType property, a stored type code
    bool jet3 = false;             // Access 97 file: text sizes are characters already
};

struct AdoField
{
    std::int32_t type = 0;
    std::int64_t definedSize = 0;
};

AdoField adoFieldFor(const StoredColumn &column);

// ADO's field attributes (FieldAttributeEnum) that follow from a table's design, for the field of
// a table opened for update: long values may be deferred and come in chunks; AutoNumber and
// calculated fields cannot be written; fixed-length data; a field that is not Required may be null.
// flags is the column descriptor's flags byte (0x01 fixed length, 0x04 AutoNumber, 0x40 a
// replication-ID AutoNumber).
inline constexpr std::int32_t adFldMayDefer = 0x2;
inline constexpr std::int32_t adFldUpdatable = 0x4;
inline constexpr std::int32_t adFldFixed = 0x10;
inline constexpr std::int32_t adFldIsNullable = 0x20;
inline constexpr std::int32_t adFldMayBeNull = 0x40;
inline constexpr std::int32_t adFldLong = 0x80;
std::int32_t adoAttributesFor(std::uint8_t flags, bool calculated, std::int32_t adoType, bool required);

// Parses a ResultType property value ("10"); nothing when it is not a plain number.
std::optional<int> parseResultType(std::string_view text);

} // namespace Engine
