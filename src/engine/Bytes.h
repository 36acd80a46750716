#pragma once

// Reading the bytes of an Access file: little-endian numbers, UTF-8 output, and where the fields of
// the database header (page 0) stand. Standard library only, shared by every reader of the worker.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace Engine::Raw {

// Little-endian numbers at pos. The caller has checked that the bytes are there.
inline std::uint32_t u16(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    return static_cast<std::uint32_t>(bytes[pos]) | static_cast<std::uint32_t>(bytes[pos + 1]) << 8;
}

inline std::uint32_t u32(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    return u16(bytes, pos) | u16(bytes, pos + 2) << 16;
}

// Appends one code point as UTF-8 (the caller has replaced surrogates and values past U+10FFFF).
inline void appendUtf8(std::string &out, std::uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

} // namespace Engine::Raw

// Where the fields of page 0 stand.
namespace Engine::HeaderOffsets {

// The version byte: 0 Jet 3, 1 Jet 4, 2 and up ACE.
inline constexpr std::size_t Version = 0x14;
// Start of the area that Jet masks with its RC4 stream.
inline constexpr std::size_t Mask = 0x18;
inline constexpr std::size_t CodePage = 0x3C;
// The key of Jet's page encoding (and, in encrypted ACE files, of the page-0 mask).
inline constexpr std::size_t EncodingKey = 0x3E;
inline constexpr std::size_t Password = 0x42;
inline constexpr std::size_t CreationDate = 0x72;

} // namespace Engine::HeaderOffsets
