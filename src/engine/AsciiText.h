#pragma once

// Comparing names without regard to case, as the readers of the system tables do: only A to Z
// are folded, so that the result does not depend on the locale and a UTF-8 byte is never changed.

#include <algorithm>
#include <string>

namespace Engine {

inline std::string asciiLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

} // namespace Engine
