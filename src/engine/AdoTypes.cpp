#include "engine/AdoTypes.h"

#include <algorithm>
#include <charconv>

namespace Engine {

namespace {

// A calculated value is stored behind a 23-byte header, which the stored size of a calculated
// text column includes.
constexpr int kCalculatedValueOverhead = 23;

std::int64_t textCharacters(int storedBytes, bool jet3)
{
    const int bytes = std::max(storedBytes, 0);
    return jet3 ? bytes : bytes / 2;
}

// Fixed-size types and long values: the answer does not depend on the stored size.
std::optional<AdoField> simpleField(int type)
{
    switch (type) {
    case kBoolean:
        return AdoField{adBoolean, 2};
    case kByte:
        return AdoField{adUnsignedTinyInt, 1};
    case kInteger:
        return AdoField{adSmallInt, 2};
    case kLong:
        return AdoField{adInteger, 4};
    case kCurrency:
        return AdoField{adCurrency, 8};
    case kSingle:
        return AdoField{adSingle, 4};
    case kDouble:
        return AdoField{adDouble, 8};
    case kDateTime:
        return AdoField{adDate, 8};
    case kOle:
        return AdoField{adLongVarBinary, kOleDefinedSize};
    case kMemo:
        return AdoField{adLongVarWChar, kMemoDefinedSize};
    case kReplicationId:
        return AdoField{adGUID, 16};
    case kDecimal:
        return AdoField{adNumeric, 19}; // sizeof(DB_NUMERIC)
    case kComplex:
        return AdoField{adChapter, 4}; // the stored key is 4 bytes
    case kLargeNumber:
        return AdoField{adBigInt, 8};
    case kDateTimeExtended:
        return AdoField{adDBTimeStamp, 16}; // sizeof(DBTIMESTAMP)
    default:
        return std::nullopt;
    }
}

} // namespace

std::int32_t adoAttributesFor(std::uint8_t flags, bool calculated, std::int32_t adoType, bool required)
{
    constexpr std::uint8_t kFixedLength = 0x01;
    constexpr std::uint8_t kAutoNumber = 0x04 | 0x40;
    std::int32_t attributes = 0;
    if (adoType == adLongVarWChar || adoType == adLongVarBinary)
        attributes |= adFldLong | adFldMayDefer;
    if (!(flags & kAutoNumber) && !calculated)
        attributes |= adFldUpdatable;
    if (flags & kFixedLength)
        attributes |= adFldFixed;
    if (!required)
        attributes |= adFldIsNullable | adFldMayBeNull;
    return attributes;
}

AdoField adoFieldFor(const StoredColumn &column)
{
    // A calculated field is what its result is. The stored type is only a container (a Currency
    // result may be stored as Double, a Memo result as Text of size 0).
    if (column.calculated && column.resultType) {
        const int result = *column.resultType;
        if (result == kText)
            return {adVarWChar,
                    std::clamp<std::int64_t>(textCharacters(column.size - kCalculatedValueOverhead, false), 0, 255)};
        if (auto field = simpleField(result))
            return *field;
        // An unknown result type: fall through to the stored column.
    }

    if (auto field = simpleField(column.type))
        return *field;

    switch (column.type) {
    case kText:
        return {column.fixedLength ? adWChar : adVarWChar, textCharacters(column.size, column.jet3)};
    case kBinary:
        return {column.fixedLength ? adBinary : adVarBinary, std::max(column.size, 0)};
    default:
        // A type Access does not document (Jackcess's test files have 0x46 and 0x47, and 0x11
        // exists in system tables). The providers hand such bytes over as binary: fixed-length as
        // adBinary, variable as adVarBinary, and without a stored size as a long binary.
        if (column.fixedLength)
            return {adBinary, std::max(column.size, 0)};
        if (column.size > 0)
            return {adVarBinary, column.size};
        return {adLongVarBinary, kOleDefinedSize};
    }
}

std::optional<int> parseResultType(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

} // namespace Engine
