#include "engine/PropertyBlock.h"

#include "engine/Bytes.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace Engine {

namespace {

using Raw::u16;
using Raw::u32;

constexpr std::uint16_t kNamesRecord = 0x80;
constexpr std::size_t kRecordHeader = 6; // u32 length, u16 type
constexpr std::size_t kValueHeader = 8;  // u16 length, u8, u8 type, u16 name index, u16 size

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
    static constexpr std::array<std::uint8_t, 4> kKkd = {'K', 'K', 'D', 0};
    static constexpr std::array<std::uint8_t, 4> kMr2 = {'M', 'R', '2', 0};
    if (block.size() < 4)
        return true; // libmdb does not parse it (though it peeks at up to four bytes)
    if (!std::equal(kKkd.begin(), kKkd.end(), block.begin()) && !std::equal(kMr2.begin(), kMr2.end(), block.begin()))
        return true; // "Unrecognized format": libmdb gives up at once

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

bool hasSignature(std::span<const std::uint8_t> block)
{
    static constexpr std::array<std::uint8_t, 4> kKkd = {'K', 'K', 'D', 0};
    static constexpr std::array<std::uint8_t, 4> kMr2 = {'M', 'R', '2', 0};
    return block.size() >= 4 &&
           (std::equal(kKkd.begin(), kKkd.end(), block.begin()) || std::equal(kMr2.begin(), kMr2.end(), block.begin()));
}

// For each name of a names record, which wanted property it is (or -1).
std::vector<int> wantedIndexes(std::span<const std::uint8_t> names, std::span<const std::string_view> wanted,
                               const TextDecoder &decode)
{
    std::vector<int> indexes;
    std::size_t pos = 0;
    while (pos + 2 <= names.size()) {
        const std::size_t length = u16(names, pos);
        pos += 2;
        if (length > names.size() - pos)
            break;
        const std::string name = decode(names.subspan(pos, length), 3 * length + 1);
        const auto found = std::find(wanted.begin(), wanted.end(), name);
        indexes.push_back(found == wanted.end() ? -1 : static_cast<int>(found - wanted.begin()));
        pos += length;
    }
    return indexes;
}

} // namespace

std::vector<NamedProperties> readNamedProperties(std::span<const std::uint8_t> block,
                                                 std::span<const std::string_view> wanted, const TextDecoder &decode)
{
    std::vector<NamedProperties> result;
    if (!hasSignature(block))
        return result; // libmdb: "Unrecognized format", no properties at all

    std::optional<std::vector<int>> names;
    std::size_t pos = 4;
    while (pos + kRecordHeader <= block.size()) {
        const std::size_t length = u32(block, pos);
        const std::uint16_t type = static_cast<std::uint16_t>(u16(block, pos + 4));
        if (length < kRecordHeader || length > block.size() - pos)
            break;
        const auto body = block.subspan(pos + kRecordHeader, length - kRecordHeader);
        pos += length;
        if (type == kNamesRecord) {
            names = wantedIndexes(body, wanted, decode);
            continue;
        }
        if (type > 2 || !names || body.size() < 6)
            continue;

        const std::size_t nameLength = u16(body, 4);
        std::size_t at = 6 + nameLength;
        if (nameLength == 0 || at > body.size())
            continue; // the table's own properties, or a name running off the block
        NamedProperties properties;
        properties.name = decode(body.subspan(6, nameLength), 3 * nameLength + 1);
        properties.values.resize(wanted.size());
        while (at + kValueHeader <= body.size()) {
            const std::size_t valueLength = u16(body, at);
            const int valueType = body[at + 3];
            const std::size_t nameIndex = u16(body, at + 4);
            const std::size_t size = u16(body, at + 6);
            if (nameIndex >= names->size() || at + kValueHeader + size > body.size())
                break;
            if (const int index = (*names)[nameIndex]; index >= 0) {
                const auto bytes = body.subspan(at + kValueHeader, size);
                properties.values[static_cast<std::size_t>(index)] =
                    PropertyValue{valueType, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
            }
            if (valueLength == 0)
                break; // libmdb would read this value for ever
            at += valueLength;
        }
        result.push_back(std::move(properties));
    }
    return result;
}

} // namespace Engine
