#pragma once

#include <QString>

namespace Structure {

// How printable() treats the text it is given.
enum class Escape {
    // Every control character, a backslash as \\: a name printed on its own, unambiguous.
    Controls,
    // The same, and a double quote as \": a value printed between quotes.
    ControlsAndQuotes,
    // Every control character but the line feeds, which are the message's own line breaks; a
    // backslash is left as it is, since messages name Windows paths.
    ControlsButLineFeeds,
};

// Text from a database in the one form the terminal is given it in: control characters (C0, DEL
// and C1), the line and paragraph separators U+2028 and U+2029, the bidirectional overrides and
// isolates (U+202A..U+202E, U+2066..U+2069) and halves of surrogate pairs that have no other half
// become C-style escapes (\n, \r, \t, \x1b, \u202e), so that no name can clear,
// retitle or reorder the terminal, or begin a line of its own. Every other character is kept.
QString printable(const QString &text, Escape escape = Escape::Controls);

// The characters every document shows as escapes rather than as they are: C0 and C1 controls, DEL,
// U+2028 and U+2029, and the marks that embed, override or isolate a direction.
constexpr bool isControlOrMark(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace Structure
