#pragma once

#include "core/estate/Index.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace Estate {

// The drawing of the links between databases stops at this many files: beyond it a layout takes
// long and reads as a tangle, while the list under it says the same.
inline constexpr int LinkDrawingLimit = 300;

// The index as one self-contained HTML page in UTF-8: inline styles and script, the drawing of the
// links as inline SVG, no reference to anything outside the page but the databases' own documents
// (relative links). A header with the figures of the whole estate, a table of every database that
// its column headers sort and a box filters (the table is plain HTML: without scripts it reads
// the same, unsorted), the errors, the identical designs and the links between databases. Every
// text of the index is escaped; control characters and direction marks show as their escapes.
QByteArray indexPage(const Index &index);
// The same page written to the device. False when it could not be written (the device says why).
bool writeIndexPage(const Index &index, QIODevice &device);

// A document's path (relative to the output folder, '/' between folders) as a relative link: each
// part percent-encoded, so that no name can leave the attribute, become a scheme ("javascript:")
// or reach another host. Empty when the path cannot be a link inside the output folder (an
// absolute path, or one with an empty, "." or ".." part).
QString documentHref(const QString &path);

// The short name of a design on the page: the first eight characters of its hash.
QString designLabel(const QString &schemaHash);

} // namespace Estate
