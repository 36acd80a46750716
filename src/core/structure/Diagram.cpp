#include "core/structure/Diagram.h"

#include "core/structure/Html.h"
#include "core/structure/Printable.h"

#include <graphviz/gvc.h>
#include <graphviz/gvplugin.h>

#include <QHash>
#include <QLibrary>
#include <QLocale>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <memory>
#include <numeric>
#include <vector>

// Graphviz's own plugins for the dot layout and SVG output, loaded by name from Graphviz's plugin
// folder. Loading plugins by its configuration would also bring the Pango text layout, whose font
// cache (Graphviz 2.42) keeps a pointer into the previous graph and reads it after that graph is
// closed. Without it Graphviz measures text with its built-in font metrics, which also makes the
// drawing the same on every machine, whatever fonts it has.
//
// Graphviz reads escapes in what it is given: \N, \G, \E (and in some attributes \T, \H, \L) are
// replaced by the names of the graph's objects, even inside HTML-like labels, after their entities
// are decoded. So every backslash of a name is doubled in a label, and no name is given to Graphviz
// anywhere else: the titles (tooltips) of boxes and lines are put into the SVG afterwards, through
// an XML writer, by the id of their node or edge.

namespace Structure {

namespace {

// A narrow table's box lists every field; a wider one its key and related fields, then others
// up to this many, and counts the rest.
constexpr int MaxFieldsInBox = 15;
// A drawing of more tables than this lists only the key and related fields in each box: boxes
// of fifteen rows would make it many screens tall.
constexpr int CompactAbove = 40;

QString number(qsizetype n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qint64(n));
}

QString counted(qsizetype n, const QString &one, const QString &many)
{
    return number(n) + QLatin1Char(' ') + (n == 1 ? one : many);
}

// Text inside a Graphviz HTML-like label: its markup characters as entities, and every backslash
// doubled, since Graphviz reads \N and the like there too.
QString labelText(const QString &text)
{
    QString out;
    for (const QChar c : diagramName(text)) {
        switch (c.unicode()) {
        case u'&':
            out += QStringLiteral("&amp;");
            break;
        case u'<':
            out += QStringLiteral("&lt;");
            break;
        case u'>':
            out += QStringLiteral("&gt;");
            break;
        case u'"':
            out += QStringLiteral("&quot;");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Tables joined by relationships, as groups: each table points towards its group's first table.
class Groups
{
public:
    explicit Groups(qsizetype size) : parent_(size) { std::iota(parent_.begin(), parent_.end(), 0); }
    int find(int table)
    {
        while (parent_[table] != table)
            table = parent_[table] = parent_[parent_[table]];
        return table;
    }
    void join(int a, int b)
    {
        const int ra = find(a);
        const int rb = find(b);
        parent_[std::max(ra, rb)] = std::min(ra, rb);
    }

private:
    std::vector<int> parent_;
};

// Each table's index by its name key; a name given twice keeps its first table.
QHash<QString, int> tableIndexes(const Document &document)
{
    QHash<QString, int> indexes;
    for (int i = 0; i < document.tables.size(); ++i)
        indexes.insert(nameKey(document.tables[i].name), indexes.value(nameKey(document.tables[i].name), i));
    return indexes;
}

// Which tables each table is joined to, and the groups they make.
struct Links
{
    mutable Groups groups;
    std::vector<QList<int>> neighbours;
    int unresolved = 0; // relationships one of whose tables is not a table of the document
};

Links linksOf(const Document &document)
{
    const QHash<QString, int> indexes = tableIndexes(document);
    Links links{Groups(document.tables.size()), std::vector<QList<int>>(size_t(document.tables.size())), 0};
    for (const Relationship &r : document.relationships) {
        const int primary = indexes.value(nameKey(r.primaryTable), -1);
        const int foreign = indexes.value(nameKey(r.foreignTable), -1);
        if (primary < 0 || foreign < 0) {
            ++links.unresolved;
            continue;
        }
        links.neighbours[size_t(primary)] << foreign;
        links.neighbours[size_t(foreign)] << primary;
        links.groups.join(primary, foreign);
    }
    return links;
}

// Up to size tables joined to each other, found breadth first from the first one, so that a part
// of a group too big to draw whole still shows the lines between its tables.
QList<int> connectedPart(int first, int size, const std::vector<QList<int>> &neighbours)
{
    QList<int> part{first};
    QSet<int> seen{first};
    for (qsizetype next = 0; next < part.size() && part.size() < size; ++next) {
        for (int table : neighbours[size_t(part[next])]) {
            if (part.size() < size && !seen.contains(table)) {
                seen.insert(table);
                part << table;
            }
        }
    }
    return part;
}

// The relationships whose two tables are both among these, in document order.
QList<const Relationship *> relationshipsAmong(const Document &document, const QList<int> &tables)
{
    QSet<QString> names;
    for (int index : tables)
        names.insert(nameKey(document.tables[index].name));
    QList<const Relationship *> among;
    for (const Relationship &r : document.relationships) {
        if (names.contains(nameKey(r.primaryTable)) && names.contains(nameKey(r.foreignTable)))
            among << &r;
    }
    return among;
}

// What a table's box shows of each field: the marks and whether it takes part in a drawn line.
struct BoxFacts
{
    QSet<QString> keys;        // primary key fields, by name key
    QSet<QString> foreign;     // fields that point at another table
    QSet<QString> related;     // fields at either end of a drawn line
    int room = MaxFieldsInBox; // the rows a box of a wide table fills up to
};

// The fields a box lists, in table order: every field of a narrow table; of a wide one its key
// and related fields (each needs its row for its line), then the others until the box is full.
QList<int> shownFields(const Table &table, const BoxFacts &facts)
{
    const qsizetype count = table.fields.size();
    const bool wide = count > facts.room;
    std::vector<bool> shown(size_t(count), !wide);
    qsizetype taken = 0;
    for (qsizetype i = 0; i < count && wide; ++i) {
        const QString key = nameKey(table.fields[i].name);
        if (facts.keys.contains(key) || facts.related.contains(key)) {
            shown[size_t(i)] = true;
            ++taken;
        }
    }
    for (qsizetype i = 0; i < count && wide && taken < facts.room; ++i) {
        if (!shown[size_t(i)]) {
            shown[size_t(i)] = true;
            ++taken;
        }
    }
    QList<int> fields;
    for (qsizetype i = 0; i < count; ++i) {
        if (shown[size_t(i)])
            fields << int(i);
    }
    return fields;
}

// One field's row: its name at the left, where the names line up whatever the box's width, and
// its marks at the right. A line leaves a foreign key at its row's right end and reaches the
// field it points at at its row's left end, as the layout puts pointing tables before the tables
// they point at.
QString fieldRow(int index, const QString &name, const BoxFacts &facts)
{
    const QString key = nameKey(name);
    QStringList marks;
    if (facts.keys.contains(key))
        marks << QStringLiteral("PK");
    if (facts.foreign.contains(key))
        marks << QStringLiteral("FK");
    const QString markText =
        marks.isEmpty() ? QString()
                        : QStringLiteral("<FONT POINT-SIZE=\"7\" COLOR=\"#2b5797\">%1</FONT>").arg(marks.join(u' '));
    // Not bold: Graphviz measures text by its regular metrics, and a bold name would overflow its box.
    return QStringLiteral("<TR><TD PORT=\"f%1\" ALIGN=\"LEFT\">%2</TD>"
                          "<TD PORT=\"m%1\" ALIGN=\"RIGHT\" WIDTH=\"24\">%3</TD></TR>")
        .arg(QString::number(index), labelText(name), markText);
}

// Graphviz measures text by its regular metrics: no-break spaces on both sides of a bold title
// make up for the room its bold letters take beyond that (about a tenth).
QString boldRoom(const QString &text)
{
    return QString(text.size() / 8 + 1, QChar(0xA0));
}

QString boxLabel(const Table &table, const BoxFacts &facts)
{
    QString html = QStringLiteral("<TABLE BORDER=\"1\" CELLBORDER=\"0\" CELLSPACING=\"0\" CELLPADDING=\"3\" "
                                  "COLOR=\"#7d8ca0\" BGCOLOR=\"white\"><TR><TD PORT=\"h\" COLSPAN=\"2\" "
                                  "BGCOLOR=\"#dbe4f0\" CELLPADDING=\"4\">"
                                  "<B>%1%2%1</B></TD></TR>")
                       .arg(boldRoom(table.name), labelText(table.name));
    const QList<int> shown = shownFields(table, facts);
    for (int i : shown)
        html += fieldRow(i, table.fields[i].name, facts);
    const QString italic =
        QStringLiteral("<TR><TD COLSPAN=\"2\" ALIGN=\"LEFT\"><FONT COLOR=\"#5d6875\"><I>%1</I></FONT></TD></TR>");
    if (table.fields.size() > shown.size())
        html += italic.arg(QStringLiteral("\u2026 ") + counted(table.fields.size() - shown.size(),
                                                               QStringLiteral("more field"),
                                                               QStringLiteral("more fields")));
    if (!table.definitionRead)
        html += italic.arg(QStringLiteral("fields not read"));
    else if (table.fields.isEmpty())
        html += italic.arg(QStringLiteral("no fields"));
    return html + QStringLiteral("</TABLE>");
}

BoxFacts boxFacts(const Table &table, const QList<const Relationship *> &drawn, const RelationshipIndex &index)
{
    BoxFacts facts;
    for (const QString &name : primaryKeyFields(table))
        facts.keys.insert(nameKey(name));
    for (const Field &field : table.fields) {
        if (index.foreignKeyOf(table.name, field.name))
            facts.foreign.insert(nameKey(field.name));
    }
    const QString self = nameKey(table.name);
    for (const Relationship *r : drawn) {
        if (nameKey(r->primaryTable) == self) {
            for (const QString &name : r->primaryFields)
                facts.related.insert(nameKey(name));
        }
        if (nameKey(r->foreignTable) == self) {
            for (const QString &name : r->foreignFields)
                facts.related.insert(nameKey(name));
        }
    }
    return facts;
}

// What a line's title says: the fields it joins, and the relationship's name and rules.
QString lineTitle(const Relationship &r, qsizetype pair)
{
    QStringList rules{r.oneToOne ? QStringLiteral("one-to-one") : QStringLiteral("one-to-many"),
                      r.enforced ? QStringLiteral("integrity enforced") : QStringLiteral("integrity not enforced")};
    if (r.cascadeUpdates)
        rules << QStringLiteral("cascade updates");
    if (r.cascadeDeletes)
        rules << QStringLiteral("cascade deletes");
    if (r.cascadeNull)
        rules << QStringLiteral("cascade to null");
    const QString primary = diagramName(r.primaryTable);
    const QString foreign = diagramName(r.foreignTable);
    if (r.join == Join::Left)
        rules << QStringLiteral("outer join: every row of %1, the matching rows of %2").arg(primary, foreign);
    else if (r.join == Join::Right)
        rules << QStringLiteral("outer join: every row of %1, the matching rows of %2").arg(foreign, primary);
    const QString primaryField = diagramName(r.primaryFields.value(pair));
    const QString foreignField = diagramName(r.foreignFields.value(pair));
    return QStringLiteral("%1.%2 \u2192 %3.%4 (%5: %6)")
        .arg(foreign, foreignField, primary, primaryField, diagramName(r.name), rules.join(QStringLiteral(", ")));
}

// The letters a line carries for its cascades.
QString cascadeLetters(const Relationship &r)
{
    QStringList letters;
    if (r.cascadeUpdates)
        letters << QStringLiteral("CU");
    if (r.cascadeDeletes)
        letters << QStringLiteral("CD");
    if (r.cascadeNull)
        letters << QStringLiteral("CN");
    return letters.join(u' ');
}

// Where a line meets a field's row: the right end of the row of the field that points, the left
// end of the row of the field pointed at; the box's title when the field is not one of the
// table's (a damaged row, or a table whose fields could not be read).
QByteArray portOf(const Table *table, const QString &field, bool pointing)
{
    const QString key = nameKey(field);
    for (qsizetype i = 0; table && i < table->fields.size(); ++i) {
        if (nameKey(table->fields[i].name) == key)
            return (pointing ? QByteArray("m") : QByteArray("f")) + QByteArray::number(i) + (pointing ? ":e" : ":w");
    }
    return pointing ? QByteArrayLiteral("h:e") : QByteArrayLiteral("h:w");
}

void set(void *object, const char *name, const QByteArray &value)
{
    agsafeset(object, const_cast<char *>(name), const_cast<char *>(value.constData()), const_cast<char *>(""));
}

// Everything the drawing is built from, and the titles the SVG gets afterwards by object id.
struct Drawing
{
    const Document &document;
    Agraph_t *graph = nullptr;
    QHash<QString, Agnode_t *> nodes;     // by the table's name key
    QHash<QString, const Table *> tables; // by the table's name key
    QHash<QString, QString> titles;       // by SVG id
};

void addBoxes(Drawing &drawing, const QList<int> &tables, const QList<QString> &anchors,
              const QList<const Relationship *> &drawn)
{
    const RelationshipIndex index(drawing.document);
    Agsym_t *label = agattr(drawing.graph, AGNODE, const_cast<char *>("label"), const_cast<char *>(""));
    for (int i : tables) {
        const Table &table = drawing.document.tables[i];
        const QByteArray name = QByteArray("t") + QByteArray::number(i + 1);
        Agnode_t *node = agnode(drawing.graph, const_cast<char *>(name.constData()), 1);
        BoxFacts facts = boxFacts(table, drawn, index);
        facts.room = tables.size() > CompactAbove ? 0 : MaxFieldsInBox;
        QByteArray html = boxLabel(table, facts).toUtf8();
        char *htmlLabel = agstrdup_html(drawing.graph, html.data());
        agxset(node, label, htmlLabel);
        agstrfree(drawing.graph, htmlLabel);
        const QByteArray id = "diagram-" + name;
        set(node, "id", id);
        if (i < anchors.size())
            set(node, "URL", ('#' + anchors[i]).toUtf8());
        drawing.titles.insert(QString::fromLatin1(id), diagramName(table.name));
        drawing.nodes.insert(nameKey(table.name), node);
        drawing.tables.insert(nameKey(table.name), &table);
    }
}

// One line per pair of related fields, from the foreign field's row to the primary field's.
void addLines(Drawing &drawing, const QList<const Relationship *> &drawn)
{
    // Lines that reach the same field share their end: one "1" there says it for all of them.
    QSet<QByteArray> labelledEnds;
    for (qsizetype n = 0; n < drawn.size(); ++n) {
        const Relationship &r = *drawn[n];
        Agnode_t *primary = drawing.nodes.value(nameKey(r.primaryTable));
        Agnode_t *foreign = drawing.nodes.value(nameKey(r.foreignTable));
        const qsizetype pairs = std::max<qsizetype>(1, std::max(r.primaryFields.size(), r.foreignFields.size()));
        for (qsizetype pair = 0; pair < pairs; ++pair) {
            const QByteArray id = "diagram-r" + QByteArray::number(n + 1) + '-' + QByteArray::number(pair + 1);
            Agedge_t *edge = agedge(drawing.graph, foreign, primary, const_cast<char *>(id.constData()), 1);
            set(edge, "id", id);
            set(edge, "tailport",
                portOf(drawing.tables.value(nameKey(r.foreignTable)), r.foreignFields.value(pair), true));
            const QByteArray head =
                portOf(drawing.tables.value(nameKey(r.primaryTable)), r.primaryFields.value(pair), false);
            set(edge, "headport", head);
            const QByteArray end = QByteArray(agnameof(primary)) + ':' + head;
            set(edge, "dir", "both");
            // Access's arrow points at the table of which only the matching rows are included.
            set(edge, "arrowtail", r.join == Join::Left ? "normal" : "none");
            set(edge, "arrowhead", r.join == Join::Right ? "normal" : "none");
            set(edge, "headlabel", labelledEnds.contains(end) ? QByteArray() : QByteArrayLiteral("1"));
            labelledEnds.insert(end);
            set(edge, "taillabel", r.oneToOne ? "1" : "\xE2\x88\x9E"); // the infinity sign, as Access draws it
            set(edge, "style", r.enforced ? "solid" : "dashed");
            set(edge, "label", pair == 0 ? cascadeLetters(r).toUtf8() : QByteArray());
            drawing.titles.insert(QString::fromLatin1(id), lineTitle(r, pair));
        }
    }
}

void setLooks(Agraph_t *graph)
{
    const char *const looks[][3] = {
        {"G", "rankdir", "LR"},         {"G", "nodesep", "0.3"},       {"G", "ranksep", "1.1"},
        {"G", "fontname", "Helvetica"}, {"N", "shape", "plaintext"},   {"N", "fontname", "Helvetica"},
        {"N", "fontsize", "10"},        {"N", "margin", "0"},          {"E", "fontname", "Helvetica"},
        {"E", "fontsize", "8"},         {"E", "fontcolor", "#2b5797"}, {"E", "labelfontsize", "10"},
        {"E", "labeldistance", "1.4"},  {"E", "labelangle", "35"},     {"E", "color", "#44546a"},
    };
    for (const auto &look : looks) {
        const int kind = look[0][0] == 'G' ? AGRAPH : look[0][0] == 'N' ? AGNODE : AGEDGE;
        agattr(graph, kind, const_cast<char *>(look[1]), const_cast<char *>(look[2]));
    }
}

struct Plugins
{
    std::vector<lt_symlist_t> list; // ends with an empty entry, as Graphviz wants it
    QString problem;                // why they are not there
};

// The plugins, loaded once and kept for the life of the program (Graphviz keeps pointers into them).
const Plugins &plugins()
{
    static const Plugins loaded = [] {
        struct Wanted
        {
            const char *file;
            const char *symbol;
        };
        static constexpr Wanted wanted[] = {
            {"gvplugin_dot_layout", "gvplugin_dot_layout_LTX_library"},
            {"gvplugin_core", "gvplugin_core_LTX_library"},
        };
        Plugins result;
        for (const Wanted &plugin : wanted) {
            QLibrary library(QStringLiteral(STRUDEX_GRAPHVIZ_PLUGIN_DIR "/") + QLatin1String(plugin.file),
                             STRUDEX_GRAPHVIZ_PLUGIN_VERSION);
            QFunctionPointer address = library.load() ? library.resolve(plugin.symbol) : nullptr;
            if (!address) {
                result.list.clear();
                result.problem = library.errorString();
                return result;
            }
            result.list.push_back({plugin.symbol, reinterpret_cast<void *>(address)});
        }
        result.list.push_back({nullptr, nullptr});
        return result;
    }();
    return loaded;
}

struct ContextDeleter
{
    void operator()(GVC_t *context) const { gvFreeContext(context); }
};

struct GraphDeleter
{
    void operator()(Agraph_t *graph) const { agclose(graph); }
};

// Copies one element's start, with the title of the box or line it belongs to in place of
// whatever Graphviz made of it.
void copyStart(const QXmlStreamReader &reader, QXmlStreamWriter &writer, const QString &title)
{
    writer.writeStartElement(reader.qualifiedName().toString());
    for (const QXmlStreamAttribute &attribute : reader.attributes()) {
        if (attribute.qualifiedName() == QLatin1String("xlink:title"))
            continue;
        writer.writeAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
    }
    if (reader.qualifiedName() == QLatin1String("a") && !title.isEmpty())
        writer.writeAttribute(QStringLiteral("xlink:title"), title);
}

// Graphviz's SVG as the page gets it: the <svg> element alone, without comments, each box's and
// line's <title> and link title set to ours, the graph's own title dropped (it would be the
// tooltip of the whole picture). Rewriting it through an XML reader also proves it well-formed:
// empty when it is not.
QString finishedSvg(const QByteArray &svg, const QHash<QString, QString> &titles)
{
    QXmlStreamReader reader(svg);
    reader.setNamespaceProcessing(false);
    QString out;
    QXmlStreamWriter writer(&out);
    QString title;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (reader.qualifiedName() == QLatin1String("g")) {
                const QString kind = reader.attributes().value(QLatin1String("class")).toString();
                if (kind == QLatin1String("node") || kind == QLatin1String("edge") || kind == QLatin1String("graph"))
                    title = titles.value(reader.attributes().value(QLatin1String("id")).toString());
            }
            if (reader.qualifiedName() == QLatin1String("title")) {
                reader.skipCurrentElement();
                if (!title.isEmpty())
                    writer.writeTextElement(QStringLiteral("title"), title);
                break;
            }
            copyStart(reader, writer, title);
            break;
        case QXmlStreamReader::EndElement:
            writer.writeEndElement();
            break;
        case QXmlStreamReader::Characters:
            writer.writeCharacters(reader.text().toString());
            break;
        default:
            break;
        }
    }
    return reader.hasError() || writer.hasError() ? QString() : out.trimmed();
}

QString laidOut(GVC_t *context, Agraph_t *graph, const QHash<QString, QString> &titles)
{
    if (gvLayout(context, graph, "dot") != 0)
        return QStringLiteral("<p class=\"note\">The diagram could not be laid out.</p>");
    char *data = nullptr;
    unsigned int length = 0;
    const int rendered = gvRenderData(context, graph, "svg", &data, &length);
    const QByteArray svg = rendered == 0 && data ? QByteArray(data, qsizetype(length)) : QByteArray();
    if (data)
        gvFreeRenderData(data);
    gvFreeLayout(context, graph);
    const QString finished = finishedSvg(svg, titles);
    return finished.startsWith(QLatin1String("<svg"))
               ? finished
               : QStringLiteral("<p class=\"note\">The diagram could not be drawn.</p>");
}

} // namespace

QString diagramName(const QString &name)
{
    QString text = name;
    // What printable() leaves for a terminal's own line breaks, and what is no character at all.
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QChar(0xfffe), QStringLiteral("\\ufffe"));
    text.replace(QChar(0xffff), QStringLiteral("\\uffff"));
    return printable(text, Escape::ControlsButLineFeeds);
}

DiagramScope diagramScope(const Document &document)
{
    DiagramScope scope;
    if (document.tables.size() <= DiagramTableLimit) {
        for (int i = 0; i < document.tables.size(); ++i)
            scope.tables << i;
        return scope;
    }
    QSet<QString> related;
    for (const Relationship &r : document.relationships) {
        related.insert(nameKey(r.primaryTable));
        related.insert(nameKey(r.foreignTable));
    }
    for (int i = 0; i < document.tables.size(); ++i) {
        if (related.contains(nameKey(document.tables[i].name)))
            scope.tables << i;
    }
    scope.onlyRelated = true;
    return scope;
}

DiagramPlan diagramPlan(const Document &document, int limit)
{
    const Links links = linksOf(document);
    const int count = int(document.tables.size());
    std::vector<int> groupSize(size_t(count), 0);
    for (int i = 0; i < count; ++i) {
        if (!links.neighbours[size_t(i)].isEmpty())
            ++groupSize[size_t(links.groups.find(i))];
    }
    // A group is decided at its first table, which is its root: drawn whole while there is room,
    // else as much of it as there is room for, tables joined to each other, and no more.
    DiagramPlan plan;
    plan.unresolved = links.unresolved;
    std::vector<bool> drawn(size_t(count), false);
    int room = limit;
    for (int i = 0; i < count; ++i) {
        if (links.neighbours[size_t(i)].isEmpty()) {
            plan.unrelated << i;
            continue;
        }
        const int root = links.groups.find(i);
        const int size = groupSize[size_t(i)];
        if (root == i && (size <= room || room >= 2)) {
            const QList<int> part = connectedPart(i, std::min(room, size), links.neighbours);
            for (int table : part)
                drawn[size_t(table)] = true;
            room -= int(part.size());
        }
        (drawn[size_t(i)] ? plan.drawn : plan.leftOut) << i;
    }
    return plan;
}

QString diagramSummary(const Document &document, const DiagramPlan &plan)
{
    const qsizetype total = document.tables.size();
    const qsizetype related = plan.drawn.size() + plan.leftOut.size();
    // A relationship with a linked table is one, but not one the diagram can draw.
    const QString within = plan.unresolved > 0 ? QStringLiteral(" with a table of this database") : QString();
    QStringList sentences;
    if (total == 0)
        sentences << QStringLiteral("No tables to draw.");
    else if (related == 0 && total == 1)
        sentences << QStringLiteral("The database's one table takes part in no relationship%1: there is nothing to "
                                    "draw.")
                         .arg(within);
    else if (related == 0)
        sentences << QStringLiteral("None of the %1 tables takes part in a relationship%2: there is nothing to draw.")
                         .arg(number(total), within);
    else if (!plan.leftOut.isEmpty())
        sentences << QStringLiteral("The diagram shows %1 of the %2 tables that take part in relationships, as "
                                    "many as stay legible and quick to draw; the relationships of the other %3 are "
                                    "listed under Relationships.")
                         .arg(number(plan.drawn.size()), number(related), number(plan.leftOut.size()));
    else if (!plan.unrelated.isEmpty())
        sentences << QStringLiteral("The diagram shows the %1 that take part in relationships.")
                         .arg(related == 1 ? QStringLiteral("one table") : number(related) + QStringLiteral(" tables"));
    if (related > 0 && !plan.unrelated.isEmpty())
        sentences << (plan.unrelated.size() == 1
                          ? QStringLiteral("The one table without relationships is listed under it.")
                          : QStringLiteral("The %1 tables without relationships are listed under it.")
                                .arg(number(plan.unrelated.size())));
    if (plan.unresolved > 0)
        sentences << QStringLiteral("%1 not drawn: one of its tables is not a table of this database (a linked "
                                    "table, or a damaged entry); see Relationships.")
                         .arg(plan.unresolved == 1 ? QStringLiteral("1 relationship is")
                                                   : number(plan.unresolved) + QStringLiteral(" relationships are"));
    return sentences.join(u' ');
}

QString graphvizLabelText(const QString &text)
{
    return labelText(text);
}

QString graphvizSvg(const char *name, const std::function<QHash<QString, QString>(Agraph_t *)> &build)
{
    if (plugins().list.empty())
        return QStringLiteral("<p class=\"note\">The diagram could not be drawn: Graphviz's plugins could not be "
                              "loaded (%1).</p>")
            .arg(plugins().problem.toHtmlEscaped());
    std::unique_ptr<GVC_t, ContextDeleter> context(gvContextPlugins(plugins().list.data(), 0));
    if (!context)
        return QStringLiteral("<p class=\"note\">The diagram could not be drawn: Graphviz did not start.</p>");
    std::unique_ptr<Agraph_t, GraphDeleter> graph(agopen(const_cast<char *>(name), Agdirected, nullptr));
    const QHash<QString, QString> titles = build(graph.get());
    return laidOut(context.get(), graph.get(), titles);
}

QString relationshipDiagramSvg(const Document &document, const QList<int> &tables, const QList<QString> &tableAnchors)
{
    if (tables.isEmpty())
        return QString();
    return graphvizSvg("relationships", [&](Agraph_t *graph) {
        setLooks(graph);
        // A big drawing grows in breadth, top to bottom, since its frame scrolls sideways while a tall
        // one would push the rest of the page many screens down.
        if (tables.size() > CompactAbove)
            agattr(graph, AGRAPH, const_cast<char *>("rankdir"), const_cast<char *>("TB"));
        Drawing drawing{document, graph, {}, {}, {}};
        const QList<const Relationship *> drawn = relationshipsAmong(document, tables);
        addBoxes(drawing, tables, tableAnchors, drawn);
        addLines(drawing, drawn);
        return drawing.titles;
    });
}

QString diagramLegendHtml(const Document &document, const QList<int> &tables)
{
    bool dashed = false, outer = false, updates = false, deletes = false, nulls = false;
    for (const Relationship *r : relationshipsAmong(document, tables)) {
        dashed = dashed || !r->enforced;
        outer = outer || r->join != Join::Inner;
        updates = updates || r->cascadeUpdates;
        deletes = deletes || r->cascadeDeletes;
        nulls = nulls || r->cascadeNull;
    }
    QStringList marks{QStringLiteral("<b>PK</b> primary key"), QStringLiteral("<b>FK</b> foreign key"),
                      QStringLiteral("<b>1</b> and <b>&infin;</b> the one and the many side of a line")};
    if (dashed)
        marks << QStringLiteral("dashed line: integrity not enforced");
    if (outer)
        marks << QStringLiteral("arrow: outer join, pointing at the table of which only the matching rows are "
                                "included");
    if (updates)
        marks << QStringLiteral("<b>CU</b> cascade updates");
    if (deletes)
        marks << QStringLiteral("<b>CD</b> cascade deletes");
    if (nulls)
        marks << QStringLiteral("<b>CN</b> cascade to null");
    return QStringLiteral("<p class=\"muted\">Key: ") + marks.join(QStringLiteral(" &middot; ")) +
           QStringLiteral(". Hover over a line for its relationship; click a box for its table.</p>\n");
}

QString unrelatedTablesHtml(const Document &document, const QList<int> &tables, const QList<QString> &tableAnchors)
{
    if (tables.isEmpty())
        return QString();
    QString out = QStringLiteral("<details%1><summary>%2 without relationships</summary>\n"
                                 "<ul style=\"columns: 16em; margin: 6px 0; padding-left: 20px\">\n")
                      .arg(tables.size() <= 40 ? QStringLiteral(" open") : QString(),
                           counted(tables.size(), QStringLiteral("table"), QStringLiteral("tables")));
    for (int i : tables) {
        const QString name = htmlName(document.tables[i].name);
        out += i < tableAnchors.size() ? QStringLiteral("<li><a href=\"#%1\">%2</a></li>\n").arg(tableAnchors[i], name)
                                       : QStringLiteral("<li>%1</li>\n").arg(name);
    }
    return out + QStringLiteral("</ul>\n</details>\n");
}

} // namespace Structure
