#include "engine/PropertyBlock.h"

#include "engine/Bytes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

namespace Engine {

namespace {

using Raw::u16;
using Raw::u32;

constexpr std::uint16_t kNamesRecord = 0x80;
constexpr std::size_t kRecordHeader = 6; // u32 length, u16 type
constexpr std::size_t kValueHeader = 8;  // u16 length, u8, u8 type, u16 name index, u16 size

// A "KKD" or "MR2" block: the two signatures libmdb parses.
bool hasSignature(std::span<const std::uint8_t> block)
{
    static constexpr std::array<std::uint8_t, 4> kKkd = {'K', 'K', 'D', 0};
    static constexpr std::array<std::uint8_t, 4> kMr2 = {'M', 'R', '2', 0};
    return block.size() >= 4 &&
           (std::equal(kKkd.begin(), kKkd.end(), block.begin()) || std::equal(kMr2.begin(), kMr2.end(), block.begin()));
}

// The list of property names: u16 length, then that many bytes, repeated. Gives the count.
bool namesAreSafe(std::span<const std::uint8_t> names, std::size_t &count)
{
    count = 0;
    std::size_t pos = 0;
    while (pos < names.size()) {
        if (pos + 2 > names.size())
            return false;
        const std::size_t length = u16(names, pos);
        pos += 2;
        if (length > names.size() - pos)
            return false;
        pos += length;
        ++count;
    }
    return true;
}

// One block of values (the object's own, or one column's): a header with the block's name, then
// values until the end. libmdb stops at a value that names no property or runs past the end; it
// loops for ever on a value of length zero.
bool valuesAreSafe(std::span<const std::uint8_t> values, std::size_t nameCount)
{
    if (values.size() < 6)
        return false;
    std::size_t pos = 6 + u16(values, 4);
    if (pos > values.size())
        return false;
    while (pos < values.size()) {
        if (pos + kValueHeader > values.size())
            return false;
        const std::size_t length = u16(values, pos);
        const std::size_t nameIndex = u16(values, pos + 4);
        const std::size_t size = u16(values, pos + 6);
        if (nameIndex >= nameCount || pos + kValueHeader + size > values.size())
            return true; // libmdb stops here
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

} // namespace

bool propertyBlockIsSafe(std::span<const std::uint8_t> block)
{
    // Shorter than a signature, libmdb does not parse it (though it peeks at up to four bytes);
    // with another signature, it says "Unrecognized format" and gives up at once.
    if (!hasSignature(block))
        return true;

    bool haveNames = false;
    std::size_t nameCount = 0;
    std::size_t pos = 4;
    while (pos < block.size()) {
        if (pos + kRecordHeader > block.size())
            return false;
        const std::size_t length = u32(block, pos);
        const std::uint16_t type = static_cast<std::uint16_t>(u16(block, pos + 4));
        if (length < kRecordHeader || length > block.size() - pos)
            return false;
        const auto body = block.subspan(pos + kRecordHeader, length - kRecordHeader);
        if (type == kNamesRecord) {
            if (!namesAreSafe(body, nameCount))
                return false;
            haveNames = true;
        } else if (type <= 2 && haveNames) {
            if (!valuesAreSafe(body, nameCount))
                return false;
        }
        pos += length;
    }
    return true;
}

namespace {

// The names of a names record, decoded.
std::vector<std::string> recordNames(std::span<const std::uint8_t> names, const TextDecoder &decode)
{
    std::vector<std::string> decoded;
    std::size_t pos = 0;
    while (pos + 2 <= names.size()) {
        const std::size_t length = u16(names, pos);
        pos += 2;
        if (length > names.size() - pos)
            break;
        decoded.push_back(decode(names.subspan(pos, length), 3 * length + 1));
        pos += length;
    }
    return decoded;
}

// Where the reading of a block stopped short of its end, and why; empty while it did not.
class Shortfall
{
public:
    void note(const std::string &list, const char *what)
    {
        if (!m_text.empty())
            return; // the first stop explains the rest
        m_text = list.empty() ? std::string("the table's own list: ") + what : "the list of " + list + ": " + what;
    }
    void noteBlock(const char *what)
    {
        if (m_text.empty())
            m_text = what;
    }
    std::string text() const { return m_text; }

private:
    std::string m_text;
};

// The values of one list, from `at` on, each handed to value(name, type, bytes); where the list
// stops before its end is noted.
template <class Value>
void walkValues(std::span<const std::uint8_t> body, std::size_t at, const std::vector<std::string> &names,
                const std::string &listName, Shortfall &shortfall, Value &value)
{
    while (at + kValueHeader <= body.size()) {
        const std::size_t valueLength = u16(body, at);
        const int valueType = body[at + 3];
        const std::size_t nameIndex = u16(body, at + 4);
        const std::size_t size = u16(body, at + 6);
        if (nameIndex >= names.size())
            return shortfall.note(listName, "a value names a property the block does not name");
        if (at + kValueHeader + size > body.size())
            return shortfall.note(listName, "a value runs past the end of the list");
        value(names[nameIndex], valueType, body.subspan(at + kValueHeader, size));
        if (valueLength == 0)
            return shortfall.note(listName, "a value has no length"); // libmdb would read it for ever
        at += valueLength;
    }
    if (at != body.size())
        shortfall.note(listName, "the list ends inside a value");
}

// Walks the value lists of a block as mdb_kkd_to_props does: a list of names replaces the one
// before it, a list's values stop at one that names no property or runs past the list. For each
// list, begin(name) is called (an empty name for the object's own list), then value(name, type,
// bytes) for each of its values, with the names of the moment; the bytes are the block's own, so
// that only the values someone keeps are copied. Gives where the reading stopped short of what
// the block holds, and why; empty when it read the block whole.
template <class Begin, class Value>
std::string walk(std::span<const std::uint8_t> block, const TextDecoder &decode, Begin begin, Value value)
{
    Shortfall shortfall;
    std::optional<std::vector<std::string>> names;
    std::size_t pos = 4;
    while (pos + kRecordHeader <= block.size()) {
        const std::size_t length = u32(block, pos);
        const std::uint16_t type = static_cast<std::uint16_t>(u16(block, pos + 4));
        if (length < kRecordHeader || length > block.size() - pos) {
            shortfall.noteBlock("a part of the block runs past its end");
            break;
        }
        const auto body = block.subspan(pos + kRecordHeader, length - kRecordHeader);
        pos += length;
        if (type == kNamesRecord) {
            names = recordNames(body, decode);
            continue;
        }
        if (type > 2)
            continue;
        if (!names || body.size() < 6) {
            shortfall.noteBlock(names ? "a list of values is too short to be one"
                                      : "a list of values comes before the names of the properties");
            continue;
        }
        const std::size_t nameLength = u16(body, 4);
        if (6 + nameLength > body.size()) {
            shortfall.noteBlock("the name of a list runs past the end of the list");
            continue;
        }
        std::string listName =
            nameLength == 0 ? std::string() : decode(body.subspan(6, nameLength), 3 * nameLength + 1);
        if (begin(listName))
            walkValues(body, 6 + nameLength, *names, listName, shortfall, value);
    }
    if (pos < block.size() && pos + kRecordHeader > block.size())
        shortfall.noteBlock("the block ends inside a part");
    return shortfall.text();
}

} // namespace

std::vector<NamedProperties> readNamedProperties(std::span<const std::uint8_t> block,
                                                 std::span<const std::string_view> wanted, const TextDecoder &decode,
                                                 bool withOwnBlock)
{
    std::vector<NamedProperties> result;
    if (!hasSignature(block))
        return result; // libmdb: "Unrecognized format", no properties at all
    bool ownSeen = false;
    walk(
        block, decode,
        [&](std::string name) {
            if (name.empty() && (!withOwnBlock || std::exchange(ownSeen, true)))
                return false; // the table's own properties, the first list of them when wanted
            result.push_back(
                NamedProperties{std::move(name), std::vector<std::optional<PropertyValue>>(wanted.size())});
            return true;
        },
        [&](const std::string &name, int type, std::span<const std::uint8_t> bytes) {
            const auto found = std::find(wanted.begin(), wanted.end(), name);
            if (found != wanted.end())
                result.back().values[static_cast<std::size_t>(found - wanted.begin())] =
                    PropertyValue{type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
        });
    return result;
}

std::vector<std::pair<std::string, PropertyValue>> readDataMacros(std::span<const std::uint8_t> block,
                                                                  const TextDecoder &decode, std::string &problem)
{
    // Parts as in every block; the macros' part (kind 3) holds after a header of the size its
    // first u32 gives, per event: u32 size, a flag byte, the type, u16 the name's number, u32 the
    // data's size, the data.
    constexpr std::uint16_t kDataMacrosRecord = 3;
    std::vector<std::pair<std::string, PropertyValue>> macros;
    if (!hasSignature(block))
        return macros;
    std::vector<std::string> names;
    std::size_t pos = 4;
    while (pos + kRecordHeader <= block.size()) {
        const std::size_t length = u32(block, pos);
        const std::uint16_t type = static_cast<std::uint16_t>(u16(block, pos + 4));
        if (length < kRecordHeader || length > block.size() - pos) {
            problem = "a part of the block runs past its end";
            return macros;
        }
        const auto body = block.subspan(pos + kRecordHeader, length - kRecordHeader);
        pos += length;
        if (type == kNamesRecord) {
            names = recordNames(body, decode);
            continue;
        }
        if (type != kDataMacrosRecord)
            continue;
        std::size_t at = body.size() >= 4 ? u32(body, 0) : body.size() + 1;
        while (at < body.size()) {
            if (body.size() - at < 12) {
                problem = "a data macro runs past the end of its part";
                return macros;
            }
            const std::size_t size = u32(body, at);
            const std::size_t index = u16(body, at + 6);
            const std::size_t dataSize = u32(body, at + 8);
            if (size < 12 || size > body.size() - at || dataSize > size - 12 || index >= names.size()) {
                problem = "a data macro is not one";
                return macros;
            }
            macros.emplace_back(names[index],
                                PropertyValue{body[at + 5], std::vector<std::uint8_t>(
                                                                body.begin() + std::ptrdiff_t(at + 12),
                                                                body.begin() + std::ptrdiff_t(at + 12 + dataSize))});
            at += size;
        }
    }
    return macros;
}

std::vector<PropertyList> readAllProperties(std::span<const std::uint8_t> block, const TextDecoder &decode,
                                            std::string *problem)
{
    std::vector<PropertyList> result;
    if (!hasSignature(block)) {
        if (problem)
            *problem = block.empty() ? std::string() : std::string("the block is not a property block");
        return result;
    }
    // A list for the table and one for each of its fields, as a rule: room for a usual table's
    // saves moving the lists made so far each time the vector grows.
    result.reserve(64);
    std::string stop = walk(
        block, decode,
        [&](std::string name) {
            result.push_back(PropertyList{std::move(name), {}});
            return true;
        },
        [&](const std::string &name, int type, std::span<const std::uint8_t> bytes) {
            PropertyValue value{type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
            auto &values = result.back().values;
            const auto same =
                std::find_if(values.begin(), values.end(), [&](const auto &v) { return v.first == name; });
            if (same != values.end())
                same->second = std::move(value); // the last value of a name counts
            else
                values.emplace_back(name, std::move(value));
        });
    if (problem)
        *problem = std::move(stop);
    return result;
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// A little-endian signed integer of `size` bytes; nothing when the value is shorter.
std::optional<std::int64_t> signedInteger(const Bytes &b, std::size_t size)
{
    if (b.size() < size)
        return std::nullopt;
    std::uint64_t raw = 0;
    for (std::size_t i = 0; i < size; ++i)
        raw |= std::uint64_t(b[i]) << (8 * i);
    if (size < 8 && (raw >> (8 * size - 1)) & 1)
        raw |= ~std::uint64_t(0) << (8 * size); // sign-extend
    return static_cast<std::int64_t>(raw);
}

// What a value that cannot be read as its type is shown as.
std::string hexText(const Bytes &b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t byte : b) {
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

std::string integerText(const Bytes &b, std::size_t size)
{
    const auto value = signedInteger(b, size);
    return value ? std::to_string(*value) : hexText(b);
}

// A count of ten-thousandths, without trailing zeros.
std::string currencyText(const Bytes &b)
{
    const auto units = signedInteger(b, 8);
    if (!units)
        return hexText(b);
    const bool negative = *units < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t(0) - static_cast<std::uint64_t>(*units) : static_cast<std::uint64_t>(*units);
    char text[48];
    std::snprintf(text, sizeof text, "%s%llu.%04llu", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000),
                  static_cast<unsigned long long>(magnitude % 10000));
    std::string out = text;
    while (out.back() == '0')
        out.pop_back();
    if (out.back() == '.')
        out.pop_back();
    return out;
}

std::string singleText(const Bytes &b)
{
    if (b.size() < 4)
        return hexText(b);
    float f;
    std::memcpy(&f, b.data(), 4);
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", double(f));
    return text;
}

std::string doubleText(double d)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", d);
    return text;
}

// A Double, or a Date/Time; a date too far from 1899 to be one Access writes (or not a number at
// all) is shown as the number it is.
std::string doubleOrDateText(const Bytes &b, bool isDate)
{
    if (b.size() < 8)
        return hexText(b);
    double d;
    std::memcpy(&d, b.data(), 8);
    if (!isDate || !std::isfinite(d) || std::fabs(d) > 3e6)
        return doubleText(d);
    return dateTimeText(d);
}

// A 16-byte value in the braces of a GUID; other sizes in hexadecimal.
std::string guidText(const Bytes &b)
{
    if (b.size() != 16)
        return hexText(b);
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(Raw::u32(b, 0)), static_cast<unsigned>(Raw::u16(b, 4)),
                  static_cast<unsigned>(Raw::u16(b, 6)), b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

} // namespace

std::string propertyText(const PropertyValue &value, const TextDecoder &decodeText)
{
    const auto &b = value.bytes;
    switch (value.type) {
    case 1: // Yes/No
        return !b.empty() && b[0] ? "Yes" : "No";
    case 2: // Byte
        return b.empty() ? std::string() : std::to_string(b[0]);
    case 3: // Integer
        return integerText(b, 2);
    case 4: // Long Integer
        return integerText(b, 4);
    case 5: // Currency
        return currencyText(b);
    case 6: // Single
        return singleText(b);
    case 7: // Double
        return doubleOrDateText(b, false);
    case 8: // Date/Time
        return doubleOrDateText(b, true);
    case 10: // Text
    case 12: // Memo
        return decodeText(b, 3 * b.size() + 1);
    case 9:  // Binary
    case 15: // Replication ID
        return guidText(b);
    default: // OLE Object (11) and anything else
        return hexText(b);
    }
}

std::string dateTimeText(double d)
{
    // Civil date from a day count (Howard Hinnant's algorithm), day 0 = 1899-12-30.
    const double dayPart = std::trunc(d);
    double seconds = std::round((std::fabs(d - dayPart)) * 86400.0);
    std::int64_t days = static_cast<std::int64_t>(dayPart) - 25569 + 719468; // to 1970, then to 0000-03-01
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const int secs = static_cast<int>(seconds);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02d:%02d:%02d", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), secs / 3600, secs / 60 % 60, secs % 60);
    return text;
}

} // namespace Engine
