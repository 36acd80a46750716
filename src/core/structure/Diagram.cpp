#include "core/structure/Diagram.h"

#include <graphviz/gvc.h>
#include <graphviz/gvplugin.h>

#include <QHash>
#include <QLibrary>
#include <QSet>

#include <memory>
#include <vector>

// Graphviz's own plugins for the dot layout and SVG output, loaded by name from Graphviz's plugin
// folder. Loading plugins by its configuration would also bring the Pango text layout, whose font
// cache (Graphviz 2.42) keeps a pointer into the previous graph and reads it after that graph is
// closed. Without it Graphviz measures text with its built-in font metrics, which also makes the
// drawing the same on every machine, whatever fonts it has.

namespace Structure {

namespace {

// The most fields a box lists; the rest are counted.
constexpr int MaxFieldsInBox = 25;

// Text inside a Graphviz HTML-like label.
QString labelText(const QString &text)
{
    QString out;
    for (const QChar c : text) {
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
        case u'\'':
            out += QStringLiteral("&#39;");
            break;
        case u'\n':
        case u'\r':
        case u'\t':
            out += QLatin1Char(' ');
            break;
        default:
            if (c.unicode() >= 0x20)
                out += c;
        }
    }
    return out;
}

// A plain Graphviz string (a tooltip): a backslash starts an escape there.
QByteArray plainText(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return out.toUtf8();
}

QString boxLabel(const Table &table)
{
    QString html = QStringLiteral("<TABLE BORDER=\"0\" CELLBORDER=\"1\" CELLSPACING=\"0\" CELLPADDING=\"3\">"
                                  "<TR><TD BGCOLOR=\"#dbe4f0\"><B>&#160;%1&#160;</B></TD></TR>")
                       .arg(labelText(table.name));
    QSet<QString> keys;
    for (const QString &name : primaryKeyFields(table))
        keys.insert(nameKey(name));
    const qsizetype shown = std::min<qsizetype>(table.fields.size(), MaxFieldsInBox);
    for (qsizetype i = 0; i < shown; ++i) {
        const QString name = labelText(table.fields[i].name);
        html += QStringLiteral("<TR><TD ALIGN=\"LEFT\">%1</TD></TR>")
                    .arg(keys.contains(nameKey(table.fields[i].name)) ? QStringLiteral("<U>%1</U>").arg(name) : name);
    }
    if (table.fields.size() > shown)
        html += QStringLiteral("<TR><TD ALIGN=\"LEFT\"><I>and %1 more</I></TD></TR>").arg(table.fields.size() - shown);
    if (!table.definitionRead)
        html += QStringLiteral("<TR><TD ALIGN=\"LEFT\"><I>fields not read</I></TD></TR>");
    else if (table.fields.isEmpty())
        html += QStringLiteral("<TR><TD> </TD></TR>");
    return html + QStringLiteral("</TABLE>");
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

void set(void *object, const char *name, const QByteArray &value)
{
    agsafeset(object, const_cast<char *>(name), const_cast<char *>(value.constData()), const_cast<char *>(""));
}

} // namespace

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

QString relationshipDiagramSvg(const Document &document, const DiagramScope &scope, const QList<QString> &tableAnchors)
{
    if (scope.tables.isEmpty())
        return QString();
    if (plugins().list.empty())
        return QStringLiteral("<p class=\"note\">The diagram could not be drawn: Graphviz's plugins could not be "
                              "loaded (%1).</p>")
            .arg(plugins().problem.toHtmlEscaped());
    std::unique_ptr<GVC_t, ContextDeleter> context(gvContextPlugins(plugins().list.data(), 0));
    if (!context)
        return QString();
    std::unique_ptr<Agraph_t, GraphDeleter> graph(agopen(const_cast<char *>("relationships"), Agdirected, nullptr));
    set(graph.get(), "rankdir", "LR");
    set(graph.get(), "nodesep", "0.4");
    set(graph.get(), "ranksep", "0.9");
    set(graph.get(), "fontname", "Helvetica");
    Agsym_t *label = agattr(graph.get(), AGNODE, const_cast<char *>("label"), const_cast<char *>(""));
    agattr(graph.get(), AGNODE, const_cast<char *>("shape"), const_cast<char *>("plaintext"));
    agattr(graph.get(), AGNODE, const_cast<char *>("fontname"), const_cast<char *>("Helvetica"));
    agattr(graph.get(), AGNODE, const_cast<char *>("fontsize"), const_cast<char *>("10"));
    agattr(graph.get(), AGEDGE, const_cast<char *>("fontname"), const_cast<char *>("Helvetica"));
    agattr(graph.get(), AGEDGE, const_cast<char *>("fontsize"), const_cast<char *>("9"));

    QHash<QString, Agnode_t *> nodes;
    for (int index : scope.tables) {
        const Table &table = document.tables[index];
        const QByteArray id = QByteArray("t") + QByteArray::number(index + 1);
        Agnode_t *node = agnode(graph.get(), const_cast<char *>(id.constData()), 1);
        QByteArray html = boxLabel(table).toUtf8();
        char *htmlLabel = agstrdup_html(graph.get(), html.data());
        agxset(node, label, htmlLabel);
        agstrfree(graph.get(), htmlLabel);
        if (index < tableAnchors.size())
            set(node, "URL", ('#' + tableAnchors[index]).toUtf8());
        set(node, "tooltip", plainText(table.name));
        nodes.insert(nameKey(table.name), node);
    }
    for (const Relationship &r : document.relationships) {
        Agnode_t *from = nodes.value(nameKey(r.primaryTable));
        Agnode_t *to = nodes.value(nameKey(r.foreignTable));
        if (!from || !to)
            continue;
        Agedge_t *edge = agedge(graph.get(), from, to, nullptr, 1);
        set(edge, "taillabel", "1");
        set(edge, "headlabel", r.oneToOne ? "1" : "\xE2\x88\x9E"); // the infinity sign, as Access draws it
        set(edge, "arrowhead", "none");
        if (!r.enforced)
            set(edge, "style", "dashed");
        set(edge, "tooltip", plainText(r.name));
    }

    if (gvLayout(context.get(), graph.get(), "dot") != 0)
        return QStringLiteral("<p class=\"note\">The diagram could not be laid out.</p>");
    char *data = nullptr;
    unsigned int length = 0;
    const int rendered = gvRenderData(context.get(), graph.get(), "svg", &data, &length);
    QByteArray svg = rendered == 0 && data ? QByteArray(data, int(length)) : QByteArray();
    if (data)
        gvFreeRenderData(data);
    gvFreeLayout(context.get(), graph.get());
    // Only the <svg> element goes into the page: the XML declaration and DOCTYPE before it do not.
    const qsizetype start = svg.indexOf("<svg");
    if (start < 0)
        return QStringLiteral("<p class=\"note\">The diagram could not be drawn.</p>");
    return QString::fromUtf8(svg.mid(start)).trimmed();
}

} // namespace Structure
