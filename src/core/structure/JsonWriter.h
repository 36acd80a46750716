#pragma once

#include "core/structure/Structure.h"

#include <QByteArray>
#include <QIODevice>

namespace Structure {

// The document as JSON (UTF-8, two-space indents, keys in a fixed order, a final newline), as
// described by docs/structure.schema.json: the generator's name and version first, then the
// structure; absent values are null, never missing keys.
QByteArray toJson(const Document &document);
// The same bytes written to the device in pieces of a few hundred KB as they are made, so the
// whole text is never held. False when a piece could not be written (the device says why).
bool writeJson(const Document &document, QIODevice &device);

// The SHA-256 (hex) of the document's design: its JSON without the generator, the file's path and
// facts, the records counted and the moments objects were made and changed. Two copies of one
// design have the same hash whatever their data.
QString designHash(const Document &document);

// A JSON string literal of the text, quotes included (UTF-8; a lone half of a surrogate pair is
// kept as an escape).
QByteArray jsonString(const QString &text);
void appendJsonString(QByteArray &out, const QString &text);

} // namespace Structure
