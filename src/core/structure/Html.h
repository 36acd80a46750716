#pragma once

#include "core/structure/Structure.h"

#include <QString>

namespace Structure {

// The document as one self-contained HTML page: inline styles and script, the relationship
// diagram as inline SVG, no reference to anything outside the page. A contents list, a search box
// that narrows the tables shown, print styles, every table with its fields, keys, indexes and
// properties, the relationships, queries and linked tables. Every name and text is escaped.
QString toHtml(const Document &document);

// Text escaped for HTML element content and attribute values.
QString htmlText(const QString &text);
void appendHtmlText(QString &out, const QString &text);

} // namespace Structure
