#include "PropertyBlock.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace Engine {

namespace {

std::uint32_t u16(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    return bytes[pos] | bytes[pos + 1] << 8;
}

std::uint32_t u32(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    return u16(bytes, pos) | u16(bytes, pos + 2) << 16;
}

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

} // namespace Engine
