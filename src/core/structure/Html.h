#pragma once

#include "core/structure/Structure.h"

#include <QIODevice>
#include <QString>

namespace Structure {

// The document as one self-contained HTML page: inline styles and script, the relationship
// diagram as inline SVG, no reference to anything outside the page. A contents list of the tables
// and queries, a search box that narrows them, print styles, every table with its fields (primary
// and foreign keys marked, each field's sheet), the tables it references and is referenced by, its
// keys, indexes and properties, then the relationships, queries and linked tables. Every name is
// escaped and isolated for bidirectional text; control characters show as their escapes. Each
// table's details wait in the page until the browser needs them, so that a page of thousands of
// tables opens at once; without scripts they show as they are.
QString toHtml(const Document &document);
// The same page written to the device as UTF-8, in pieces of a few hundred KB as it is made, so
// the whole page is never held. False when a piece could not be written (the device says why).
bool writeHtml(const Document &document, QIODevice &device);

// A name from the database as the page shows it: escaped, its control characters and direction
// marks shown as their escapes, and isolated (<bdi>) so that it cannot reorder the page around it.
QString htmlName(const QString &text);
// The style rules every page of the program shares: colours, font and the header.
const char *sharedPageStyle();
// A text from the database as an attribute's value: escaped, its control characters and direction
// marks as their escapes.
QString htmlAttribute(const QString &text);
// A message or note from the database: escaped, its line breaks as <br>, its other control
// characters and direction marks shown as their escapes.
QString htmlProse(const QString &text);

} // namespace Structure
