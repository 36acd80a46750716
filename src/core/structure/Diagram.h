#pragma once

#include "core/structure/Structure.h"

#include <QList>
#include <QString>

namespace Structure {

// Which tables a relationship diagram shows. A big database shows only the tables that take part
// in relationships, and says so.
struct DiagramScope
{
    // Indexes into Document::tables, in table order.
    QList<int> tables;
    // True when tables without relationships were left out.
    bool onlyRelated = false;
};

inline constexpr int DiagramTableLimit = 200;

DiagramScope diagramScope(const Document &document);

// The relationship diagram as an SVG element, laid out by Graphviz like Access's Relationships
// window: a box per table with its fields (primary key fields underlined), a line per relationship
// from the primary to the foreign table (dashed when not enforced). Each box links to
// "#<anchor of its table>". Empty when there is nothing to draw; a layout that fails gives a
// short note in place of the picture.
QString relationshipDiagramSvg(const Document &document, const DiagramScope &scope, const QList<QString> &tableAnchors);

} // namespace Structure
