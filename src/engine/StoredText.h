#pragma once

// Text as Jet 4 and ACE store it: UTF-16LE, or "Unicode compression" (FF FE, then one byte per
// character until a zero byte switches to two bytes per character and the next zero back). Standard
// library only, so that every reader of the worker decodes text the same way.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace Engine {

// The stored text as UTF-8, at most maxBytes - 1 bytes of it (maxBytes counts a terminating NUL,
// as libmdb's buffers do), ending at the first U+0000. A surrogate pair becomes its character; a
// surrogate without its partner (and a trailing odd byte) becomes U+FFFD, so the result is always
// valid UTF-8. A character that does not fit whole is left out, and *cut is set then.
std::string decodeStoredText(std::span<const std::uint8_t> stored, std::size_t maxBytes, bool *cut = nullptr);

// UTF-16LE units as UTF-8, with the same rules (no compression, no NUL ending).
std::string utf16leToUtf8(std::span<const std::uint8_t> units, std::size_t maxBytes, bool *cut = nullptr);

} // namespace Engine
