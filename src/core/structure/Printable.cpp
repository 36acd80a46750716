#include "core/structure/Printable.h"

#include <optional>

namespace Structure {

namespace {

// The C-style escape of one character printable() does not print as it is; nothing for the others.
std::optional<QString> escaped(char16_t c, Escape escape)
{
    switch (c) {
    case u'\n':
        return escape == Escape::ControlsButLineFeeds ? std::nullopt : std::optional(QStringLiteral("\\n"));
    case u'\r':
        return QStringLiteral("\\r");
    case u'\t':
        return QStringLiteral("\\t");
    case u'\\':
        return escape == Escape::ControlsButLineFeeds ? std::nullopt : std::optional(QStringLiteral("\\\\"));
    case u'"':
        return escape == Escape::ControlsAndQuotes ? std::optional(QStringLiteral("\\\"")) : std::nullopt;
    default:
        break;
    }
    if (c < 0x20 || c == 0x7f)
        return QStringLiteral("\\x%1").arg(unsigned(c), 2, 16, QLatin1Char('0'));
    if (isControlOrMark(c))
        return QStringLiteral("\\u%1").arg(unsigned(c), 4, 16, QLatin1Char('0'));
    return std::nullopt;
}

} // namespace

QString printable(const QString &text, Escape escape)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // A whole surrogate pair is a character beyond U+FFFF and printed as it is; half of one
        // is no character at all.
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate()) {
            out += QStringLiteral("\\u%1").arg(unsigned(c.unicode()), 4, 16, QLatin1Char('0'));
        } else if (const auto form = escaped(c.unicode(), escape)) {
            out += *form;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace Structure
