#include "engine/StoredText.h"

#include "engine/Bytes.h"

#include <vector>

namespace Engine {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

bool isHighSurrogate(std::uint32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(std::uint32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

std::size_t utf8Length(std::uint32_t codePoint)
{
    return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}

// Compressed text spread out to UTF-16LE the way libmdb does it: a zero byte switches between one
// byte per character and two; an odd byte left at the end of a two-byte stretch is kept alone, to
// become U+FFFD.
std::vector<std::uint8_t> expandCompressed(std::span<const std::uint8_t> chars)
{
    std::vector<std::uint8_t> units;
    units.reserve(chars.size() * 2);
    bool compressed = true;
    for (std::size_t pos = 0; pos < chars.size();) {
        if (chars[pos] == 0) {
            compressed = !compressed;
            ++pos;
        } else if (compressed) {
            units.push_back(chars[pos++]);
            units.push_back(0);
        } else if (pos + 1 < chars.size()) {
            units.push_back(chars[pos]);
            units.push_back(chars[pos + 1]);
            pos += 2;
        } else {
            units.push_back(chars[pos++]);
        }
    }
    return units;
}

} // namespace

std::string utf16leToUtf8(std::span<const std::uint8_t> units, std::size_t maxBytes, bool *cut)
{
    std::string out;
    if (cut)
        *cut = false;
    const std::size_t room = maxBytes == 0 ? 0 : maxBytes - 1;
    for (std::size_t pos = 0; pos < units.size();) {
        std::uint32_t codePoint = kReplacement;
        std::size_t used = 1; // an odd byte at the end
        if (pos + 1 < units.size()) {
            const std::uint32_t unit = Raw::u16(units, pos);
            used = 2;
            if (isHighSurrogate(unit) && pos + 3 < units.size() && isLowSurrogate(Raw::u16(units, pos + 2))) {
                codePoint = 0x10000 + ((unit - 0xD800) << 10) + (Raw::u16(units, pos + 2) - 0xDC00);
                used = 4;
            } else if (!isHighSurrogate(unit) && !isLowSurrogate(unit)) {
                codePoint = unit;
            }
        }
        if (out.size() + utf8Length(codePoint) > room) {
            if (cut)
                *cut = true;
            break;
        }
        Raw::appendUtf8(out, codePoint);
        pos += used;
    }
    return out;
}

std::string decodeStoredText(std::span<const std::uint8_t> stored, std::size_t maxBytes, bool *cut)
{
    std::string text;
    if (stored.size() >= 2 && stored[0] == 0xFF && stored[1] == 0xFE) {
        const std::vector<std::uint8_t> units = expandCompressed(stored.subspan(2));
        text = utf16leToUtf8(units, maxBytes, cut);
    } else {
        text = utf16leToUtf8(stored, maxBytes, cut);
    }
    // libmdb hands its text out as a C string: it ends at the first U+0000.
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) {
        text.resize(nul);
        if (cut)
            *cut = false;
    }
    return text;
}

} // namespace Engine
