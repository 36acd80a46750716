#pragma once

#include "core/structure/Structure.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

// Graphviz's graph, for drawings made elsewhere through graphvizSvg().
struct Agraph_s;

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

// What the page's relationship diagram draws. Only tables joined by a relationship are drawn: a
// table with none says nothing in a picture and would push the others screens away, so those are
// listed under it instead. A group of related tables is drawn whole or not at all, and groups are
// taken in table order until the limit, so that a layout stays legible and quick.
struct DiagramPlan
{
    // Indexes into Document::tables, in table order.
    QList<int> drawn;
    // Tables in no relationship with a table of the document.
    QList<int> unrelated;
    // Related tables whose group would have made the drawing too big.
    QList<int> leftOut;
    // Relationships not drawn because one of their tables is not a table of the document (a
    // linked table, or a name a damaged row gives).
    int unresolved = 0;
};

inline constexpr int DiagramDrawLimit = 150;

DiagramPlan diagramPlan(const Document &document, int limit = DiagramDrawLimit);

// One or two plain sentences on what the diagram shows and leaves out; empty when it shows every
// table.
QString diagramSummary(const Document &document, const DiagramPlan &plan);

// The relationship diagram as an SVG element, laid out by Graphviz like Access's Relationships
// window: a box per table with a row per field (the key and related fields first when a table is
// wide), primary and foreign keys marked, and a line per pair of related fields joining their rows,
// with "1" and "∞" ends, dashed when not enforced, arrows for outer joins and letters for cascades.
// Each box links to "#<anchor of its table>". Every name is shown literally (no Graphviz escape
// acts, control and bidirectional-override characters are shown visibly), in the boxes and in the
// titles. Empty when there is nothing to draw; a layout that fails gives a short note instead.
QString relationshipDiagramSvg(const Document &document, const QList<int> &tables, const QList<QString> &tableAnchors);

// The key to the marks the drawing of these tables uses, as an HTML paragraph.
QString diagramLegendHtml(const Document &document, const QList<int> &tables);

// The tables left out of the drawing as a compact HTML list of links to their sections; empty
// when there are none.
QString unrelatedTablesHtml(const Document &document, const QList<int> &tables, const QList<QString> &tableAnchors);

// A name as a picture shows it: control characters, bidirectional overrides and isolates, line
// separators, lone surrogates and the non-characters U+FFFE and U+FFFF as C-style escapes ("\n",
// "\x01", "\u202e"), so that no name can reorder, break or invalidate the drawing. Backslashes
// stay as they are: a name is shown as it is.
QString diagramName(const QString &name);

// A name as the text of a Graphviz HTML-like label: shown as diagramName() shows it, its markup
// characters as entities and its backslashes doubled, so that Graphviz neither reads markup nor
// \N-like escapes in it.
QString graphvizLabelText(const QString &text);

// A drawing laid out by Graphviz's dot and rendered as an SVG element, the way the relationship
// diagram is: build fills the new directed graph (ids and object names of its own; a name from a
// database only in HTML-like labels made of graphvizLabelText) and returns the titles (tooltips)
// that the SVG gets afterwards, by the id of their node or edge. A short note paragraph instead
// when Graphviz cannot be loaded or the layout fails.
QString graphvizSvg(const char *name, const std::function<QHash<QString, QString>(Agraph_s *)> &build);

} // namespace Structure
