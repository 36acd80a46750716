#include "core/estate/IndexPage.h"

#include "core/structure/Diagram.h"
#include "core/structure/Html.h"
#include "core/structure/TextSink.h"

#include <graphviz/cgraph.h>

#include <QCryptographicHash>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

namespace Estate {

using Structure::htmlAttribute;
using Structure::htmlName;
using Structure::htmlProse;

namespace {

// The one-database page's look (Structure::sharedPageStyle), so that the index reads as part of the
// same product, and its own.
const char *const Style = R"(main { padding: 8px 24px 32px; }
h2 { margin: 28px 0 8px; padding-bottom: 2px; border-bottom: 2px solid var(--accent); font-size: 20px; }
h3 { margin: 14px 0 4px; font-size: 16px; }
dl.figures { display: flex; flex-wrap: wrap; gap: 6px; margin: 16px 0 6px; }
dl.figures div { border: 1px solid var(--line); border-radius: 4px; padding: 4px 10px; background: var(--head); }
dl.figures dt { color: var(--muted); font-size: 12px; white-space: nowrap; }
dl.figures dd { margin: 0; font-size: 16px; font-weight: 600; white-space: nowrap; }
dl.figures div.bad dd { color: #a4262c; }
.counts { margin: 6px 0; }
.wide { overflow-x: auto; }
table.grid { border-collapse: collapse; margin: 8px 0 12px; width: 100%; font-size: 13px; }
table.grid th, table.grid td { border: 1px solid var(--line); padding: 4px 8px; text-align: left; vertical-align: top;
                               overflow-wrap: break-word; }
table.grid th { background: var(--head); font-weight: 600; }
table.grid.fit { width: auto; }
table.grid th.num, table.grid td.num { text-align: right; }
table.grid td.num { white-space: nowrap; }
table.grid td.path { overflow-wrap: anywhere; min-width: 14em; }
table.grid td.when, table.grid td.format { white-space: nowrap; }
#databases th, #databases td { padding: 4px 6px; }
table.grid tr.failed td { background: #fdf1f1; }
#databases th button { all: inherit; display: inline; cursor: pointer; padding: 0; border: 0; }
#databases th button:hover, #databases th button:focus-visible { text-decoration: underline; }
#databases th[aria-sort="ascending"] button::after { content: " \2191"; color: var(--accent); }
#databases th[aria-sort="descending"] button::after { content: " \2193"; color: var(--accent); }
.tools { display: flex; align-items: center; gap: 12px; margin: 8px 0; }
.tools input { width: 320px; max-width: 100%; padding: 6px 8px; border: 1px solid var(--line); border-radius: 4px; }
a { color: var(--accent); }
.kind { display: inline-block; padding: 0 6px; border-radius: 3px; background: #fbe1e1; color: #7a1d22; font-size: 12px;
        font-weight: 600; }
.design { font: 12px monospace; }
.ctl { color: var(--muted); font: 12px monospace; }
.note { background: #fff4e5; border-left: 4px solid #e8a33d; padding: 6px 10px; }
.muted { color: var(--muted); }
ul.links { margin: 10px 0 8px; padding-left: 20px; }
ul.links li { margin: 2px 0; overflow-wrap: anywhere; }
.diagram { overflow: auto; border: 1px solid var(--line); padding: 8px; background: #fff; }
.diagram svg { max-width: none; height: auto; }
footer { margin-top: 16px; padding: 10px 24px; border-top: 1px solid var(--line); color: var(--muted); font-size: 12px; }
[hidden] { display: none !important; }
@media print {
  .tools { display: none; }
  header { background: none; color: #000; border-bottom: 2px solid #000; }
  .wide { overflow: visible; }
  table.grid tr { break-inside: avoid; }
  a { color: inherit; text-decoration: none; }
}
)";

// The page's one script: the databases' table sorted by the column whose header is clicked
// (numbers by their value, kept in data-v; a second click turns the order round) and filtered by
// the box. It reads the page's text as text and writes only text: nothing it handles becomes markup.
const char *const Script = R"(
(function () {
  'use strict';
  var table = document.getElementById('databases');
  if (!table) return;
  var body = table.tBodies[0];
  var rows = Array.prototype.slice.call(body.rows);
  var heads = Array.prototype.slice.call(table.tHead.rows[0].cells);
  var sorted = -1;
  var ascending = true;
  function key(row, column, numeric) {
    var cell = row.cells[column];
    var value = cell.hasAttribute('data-v') ? cell.getAttribute('data-v') : cell.textContent;
    return numeric ? Number(value) : value.toLowerCase();
  }
  function sortBy(column) {
    ascending = sorted === column ? !ascending : true;
    sorted = column;
    var numeric = heads[column].classList.contains('num');
    var keyed = rows.map(function (row, n) { return { key: key(row, column, numeric), n: n, row: row }; });
    keyed.sort(function (a, b) {
      var order = numeric ? a.key - b.key : (a.key < b.key ? -1 : a.key > b.key ? 1 : 0);
      return (ascending ? order : -order) || a.n - b.n;
    });
    var ordered = document.createDocumentFragment();
    keyed.forEach(function (each) { ordered.appendChild(each.row); });
    body.appendChild(ordered);
    heads.forEach(function (head, i) {
      if (i === column) head.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
      else head.removeAttribute('aria-sort');
    });
  }
  heads.forEach(function (head, column) {
    var button = document.createElement('button');
    button.type = 'button';
    while (head.firstChild) button.appendChild(head.firstChild);
    head.appendChild(button);
    button.addEventListener('click', function () { sortBy(column); });
  });

  var box = document.getElementById('filter');
  var shown = document.getElementById('shown');
  var texts = rows.map(function (row) { return row.getAttribute('data-search') || ''; });
  var timer = 0;
  function filter() {
    var term = box.value.trim().toLowerCase();
    var count = 0;
    rows.forEach(function (row, i) {
      var show = !term || texts[i].indexOf(term) >= 0;
      if (row.hidden === show) row.hidden = !show;
      if (show) count++;
    });
    shown.textContent = term ? count.toLocaleString('en') + ' of ' + rows.length.toLocaleString('en') +
      ' databases' : '';
  }
  box.addEventListener('input', function () {
    clearTimeout(timer);
    timer = setTimeout(filter, 120);
  });
  box.parentNode.hidden = false;
})();
)";

QString number(qint64 n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

QString counted(qint64 n, const char *one, const char *many)
{
    return number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

QString dataSize(qint64 bytes)
{
    return QLocale(QLocale::English, QLocale::UnitedStates)
        .formattedDataSize(bytes, bytes < 1024 ? 0 : 1, QLocale::DataSizeTraditionalFormat);
}

// The policy lets in the page's own script alone, named by its hash: a name that found a way into
// markup still could not run anything.
QString contentSecurityPolicy()
{
    const QByteArray hash = QCryptographicHash::hash(QByteArray(Script), QCryptographicHash::Sha256).toBase64();
    return QStringLiteral("default-src 'none'; style-src 'unsafe-inline'; script-src 'sha256-%1'")
        .arg(QString::fromLatin1(hash));
}

// The document a database's path links to: its page when it has one, else its JSON.
QString hrefOf(const DatabaseEntry &entry)
{
    for (const char *kind : {".html", ".json"}) {
        for (const QString &document : entry.documents) {
            if (document.endsWith(QLatin1String(kind), Qt::CaseInsensitive))
                return documentHref(document);
        }
    }
    return QString();
}

QString linked(const QString &href, const QString &html)
{
    return href.isEmpty() ? html : QStringLiteral("<a href=\"%1\">").arg(href) + html + QStringLiteral("</a>");
}

// A modification time as the table shows it: "2026-12-08 10:52" for the index's own UTC times,
// anything else as it is.
QString modifiedText(const QString &iso)
{
    static const QRegularExpression utc(QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d)T(\\d\\d:\\d\\d)(:\\d\\d)?Z$"));
    const QRegularExpressionMatch match = utc.match(iso);
    return match.hasMatch() ? match.captured(1) + QLatin1Char(' ') + match.captured(2) : htmlName(iso);
}

// What the page knows of every database by its path: the link to its document.
struct Page
{
    explicit Page(const Index &i) : index(i)
    {
        for (const DatabaseEntry &entry : i.databases)
            hrefs.insert(entry.path, hrefOf(entry));
        for (qsizetype g = 0; g < i.summary.identicalDesigns.size(); ++g)
            designGroups.insert(i.summary.identicalDesigns[g].schemaHash, int(g));
    }

    // A database's path, linked to its document when it has one.
    QString pathLink(const QString &path) const { return linked(hrefs.value(path), htmlName(path)); }

    const Index &index;
    QHash<QString, QString> hrefs;
    QHash<QString, int> designGroups;
};

QString figure(const char *title, const QString &value, bool bad = false)
{
    return QStringLiteral("<div%1><dt>%2</dt><dd>%3</dd></div>")
        .arg(bad ? QStringLiteral(" class=\"bad\"") : QString(), QLatin1String(title), value);
}

QString countsLine(const char *title, const QList<QPair<QString, qint64>> &counts)
{
    if (counts.isEmpty())
        return QString();
    QStringList parts;
    for (const auto &[name, count] : counts)
        parts << htmlName(name) + QStringLiteral(" <b>") + number(count) + QStringLiteral("</b>");
    return QStringLiteral("<p class=\"counts\"><span class=\"muted\">%1:</span> ").arg(QLatin1String(title)) +
           parts.join(QStringLiteral(" &middot; ")) + QStringLiteral("</p>\n");
}

QString pageStart(const Index &index)
{
    const Summary &s = index.summary;
    const Totals &t = s.totals;
    // A title holds no markup: the isolating marks of plain text keep the root's direction to itself.
    const QString title = QChar(0x2068) + htmlAttribute(index.root) + QChar(0x2069);
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                          "<meta name=\"generator\" content=\"") +
           htmlAttribute(index.generator) +
           QStringLiteral("\">\n<meta http-equiv=\"Content-Security-Policy\" content=\"") + contentSecurityPolicy() +
           QStringLiteral("\">\n<title>Access databases in ") + title + QStringLiteral("</title>\n<style>") +
           QString::fromUtf8(Structure::sharedPageStyle()) + QString::fromUtf8(Style) +
           QStringLiteral("</style>\n</head>\n<body>\n<header>\n<h1>Access databases in ") + htmlName(index.root) +
           QStringLiteral("</h1>\n<p>") + counted(s.databases, "database", "databases") + QStringLiteral(" &middot; ") +
           number(s.documented) + QStringLiteral(" documented &middot; ") + counted(s.errors, "error", "errors") +
           QStringLiteral(" &middot; indexed by ") + htmlName(index.generator) +
           QStringLiteral("</p>\n</header>\n<main>\n<dl class=\"figures\">") +
           figure("Databases", number(s.databases)) + figure("Documented", number(s.documented)) +
           figure("Errors", number(s.errors), s.errors > 0) + figure("Size", dataSize(t.size)) +
           figure("Tables", number(t.tables)) + figure("Records", number(t.records)) +
           figure("Queries", number(t.queries)) + figure("Relationships", number(t.relationships)) +
           figure("Linked tables", number(t.linkedTables)) + figure("Forms", number(t.forms)) +
           figure("Reports", number(t.reports)) + figure("Macros", number(t.macros)) +
           figure("Modules", number(t.modules)) + figure("Code lines", number(t.codeLines)) +
           QStringLiteral("</dl>\n") + countsLine("Formats", s.byFormat) + countsLine("Errors", s.byError);
}

// A figure of a database; one with an error has none (its zeros would read as an empty database),
// nor has one that could not be counted (below zero), and those sort before every real one.
QString numberCell(const DatabaseEntry &entry, qint64 value, const QString &shown = QString())
{
    if (entry.error || value < 0)
        return QStringLiteral("<td class=\"num\" data-v=\"-1\">\u2014</td>");
    return QStringLiteral("<td class=\"num\" data-v=\"%1\">%2</td>")
        .arg(QString::number(value), shown.isEmpty() ? number(value) : shown);
}

QString designCell(const Page &page, const DatabaseEntry &entry)
{
    if (entry.schemaHash.isEmpty())
        return QStringLiteral("<td class=\"design\">\u2014</td>");
    const QString label = htmlName(designLabel(entry.schemaHash));
    const auto group = page.designGroups.constFind(entry.schemaHash);
    // A design shared with others links to its group, where they are listed.
    return QStringLiteral("<td class=\"design\" title=\"") + htmlAttribute(entry.schemaHash) + QStringLiteral("\">") +
           (group == page.designGroups.cend()
                ? label
                : QStringLiteral("<a href=\"#design-%1\">").arg(*group + 1) + label + QStringLiteral("</a>")) +
           QStringLiteral("</td>");
}

QString databaseRow(const Page &page, const DatabaseEntry &entry)
{
    const QString kind = entry.error ? errorKindName(entry.error->kind) : QString();
    const QString search = QStringList{entry.path, entry.format, kind}.join(u'\n').toLower();
    QString out =
        QStringLiteral("<tr%1 data-search=\"").arg(entry.error ? QStringLiteral(" class=\"failed\"") : QString()) +
        htmlAttribute(search) + QStringLiteral("\">");
    out += QStringLiteral("<td class=\"path\">") + page.pathLink(entry.path) + QStringLiteral("</td>");
    out += QStringLiteral("<td class=\"format\">") + htmlName(entry.format) + QStringLiteral("</td>");
    out += entry.error ? QStringLiteral("<td data-v=\"\"></td>")
                       : QStringLiteral("<td data-v=\"%1\">%2</td>")
                             .arg(entry.encrypted ? QStringLiteral("1") : QStringLiteral("0"),
                                  entry.encrypted ? QStringLiteral("yes") : QStringLiteral("no"));
    // The size is the file's, known with or without an error.
    out += entry.size < 0 ? QStringLiteral("<td class=\"num\" data-v=\"-1\">\u2014</td>")
                          : QStringLiteral("<td class=\"num\" data-v=\"%1\">%2</td>")
                                .arg(QString::number(entry.size), dataSize(entry.size));
    out += QStringLiteral("<td class=\"when\" data-v=\"") + htmlAttribute(entry.modified) + QStringLiteral("\">") +
           modifiedText(entry.modified) + QStringLiteral("</td>");
    for (qint64 value : {entry.tables, entry.records, entry.queries, entry.relationships})
        out += numberCell(entry, value);
    out += numberCell(entry, entry.linkedTables.size());
    for (qint64 value : {entry.forms, entry.reports, entry.macros, entry.modules, entry.codeLines})
        out += numberCell(entry, value);
    out += designCell(page, entry);
    out += entry.error ? QStringLiteral("<td><span class=\"kind\">") + htmlName(kind) + QStringLiteral("</span></td>")
                       : QStringLiteral("<td></td>");
    return out + QStringLiteral("</tr>\n");
}

void databasesSection(QString &out, const Page &page)
{
    out += QStringLiteral("<h2 id=\"databases-list\">Databases</h2>\n");
    if (page.index.databases.isEmpty()) {
        out += QStringLiteral("<p>No Access databases were found.</p>\n");
        return;
    }
    // The box needs the script: hidden until the script shows it.
    out += QStringLiteral("<div class=\"tools\" hidden><input id=\"filter\" type=\"search\" "
                          "placeholder=\"Filter by path, format or error\" aria-label=\"Filter by path, format or "
                          "error\"><span id=\"shown\" class=\"muted\" aria-live=\"polite\"></span></div>\n"
                          "<div class=\"wide\">\n<table class=\"grid\" id=\"databases\">\n<thead><tr>"
                          "<th>Path</th><th>Format</th><th>Encrypted</th><th class=\"num\">Size</th>"
                          "<th>Modified</th><th class=\"num\">Tables</th><th class=\"num\">Records</th>"
                          "<th class=\"num\">Queries</th><th class=\"num\">Relation&shy;ships</th>"
                          "<th class=\"num\">Linked tables</th><th class=\"num\">Forms</th>"
                          "<th class=\"num\">Reports</th><th class=\"num\">Macros</th><th class=\"num\">Modules</th>"
                          "<th class=\"num\">Code lines</th><th>Design</th><th>Error</th></tr></thead>\n<tbody>\n");
    for (const DatabaseEntry &entry : page.index.databases)
        out += databaseRow(page, entry);
    out += QStringLiteral("</tbody>\n</table>\n</div>\n");
}

void errorsSection(QString &out, const Page &page)
{
    out += QStringLiteral("<h2 id=\"errors\">Errors</h2>\n");
    QString errors, unread;
    for (const DatabaseEntry &entry : page.index.databases) {
        if (entry.error)
            errors += QStringLiteral("<tr><td class=\"path\">") + page.pathLink(entry.path) +
                      QStringLiteral("</td><td><span class=\"kind\">") + htmlName(errorKindName(entry.error->kind)) +
                      QStringLiteral("</span></td><td>") + htmlProse(entry.error->message) +
                      QStringLiteral("</td></tr>\n");
        QStringList lines;
        for (const QString &line : entry.unread)
            lines << htmlProse(line);
        if (!lines.isEmpty())
            unread += QStringLiteral("<tr><td class=\"path\">") + page.pathLink(entry.path) +
                      QStringLiteral("</td><td>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</td></tr>\n");
    }
    out += errors.isEmpty() ? QStringLiteral("<p>No errors.</p>\n")
                            : QStringLiteral("<table class=\"grid\">\n<thead><tr><th>Path</th><th>Kind</th>"
                                             "<th>Message</th></tr></thead>\n<tbody>\n") +
                                  errors + QStringLiteral("</tbody>\n</table>\n");
    if (!unread.isEmpty())
        out += QStringLiteral("<h3>Documented, with parts that could not be read</h3>\n<table class=\"grid\">\n"
                              "<thead><tr><th>Path</th><th>Not read</th></tr></thead>\n<tbody>\n") +
               unread + QStringLiteral("</tbody>\n</table>\n");
}

void designsSection(QString &out, const Page &page)
{
    out += QStringLiteral("<h2 id=\"designs\">Identical designs</h2>\n");
    const QList<DesignGroup> &groups = page.index.summary.identicalDesigns;
    if (groups.isEmpty()) {
        out += QStringLiteral("<p>No two databases share a design.</p>\n");
        return;
    }
    out += QStringLiteral("<p class=\"muted\">Databases with the same tables, fields, indexes, relationships and "
                          "queries, whatever their data.</p>\n<table class=\"grid fit\">\n<thead><tr><th>Design</th>"
                          "<th class=\"num\">Databases</th><th>Paths</th></tr></thead>\n<tbody>\n");
    for (qsizetype g = 0; g < groups.size(); ++g) {
        QStringList paths;
        for (const QString &path : groups[g].paths)
            paths << page.pathLink(path);
        out += QStringLiteral("<tr id=\"design-%1\"><td class=\"design\" title=\"").arg(g + 1) +
               htmlAttribute(groups[g].schemaHash) + QStringLiteral("\">") +
               htmlName(designLabel(groups[g].schemaHash)) + QStringLiteral("</td><td class=\"num\">") +
               number(groups[g].paths.size()) + QStringLiteral("</td><td class=\"path\">") +
               paths.join(QStringLiteral("<br>")) + QStringLiteral("</td></tr>\n");
    }
    out += QStringLiteral("</tbody>\n</table>\n");
}

// A node of the drawing: a database of the tree, or a target that is not in it.
struct Node
{
    QString text; // the path, or the target as the linking database writes it
    bool found = true;
};

// The drawing's nodes in the order they first appear in the links, and each link's two ends.
struct LinkGraph
{
    QList<Node> nodes;
    QList<QPair<int, int>> ends; // by link
};

LinkGraph linkGraph(const QList<Link> &links)
{
    LinkGraph graph;
    QHash<QString, int> found, missing;
    const auto nodeOf = [&graph](QHash<QString, int> &known, const QString &text, bool isFound) {
        const auto at = known.constFind(text);
        if (at != known.cend())
            return *at;
        graph.nodes << Node{text, isFound};
        return *known.insert(text, int(graph.nodes.size() - 1));
    };
    for (const Link &link : links) {
        const int from = nodeOf(found, link.from, true);
        const int to = link.to ? nodeOf(found, *link.to, true) : nodeOf(missing, link.target, false);
        graph.ends << qMakePair(from, to);
    }
    return graph;
}

void set(void *object, const char *name, const QByteArray &value)
{
    agsafeset(object, const_cast<char *>(name), const_cast<char *>(value.constData()), const_cast<char *>(""));
}

void setLabel(Agraph_t *graph, Agnode_t *node, const QString &html)
{
    QByteArray utf8 = html.toUtf8();
    char *label = agstrdup_html(graph, utf8.data());
    agsafeset(node, const_cast<char *>("label"), label, const_cast<char *>(""));
    agstrfree(graph, label);
}

// The title of a link's line: which file links to which, and the tables it links.
QString linkTitle(const Link &link)
{
    const QString to = link.to ? Structure::diagramName(*link.to)
                               : Structure::diagramName(link.target) + QStringLiteral(" (not found)");
    constexpr qsizetype named = 40;
    QStringList tables;
    for (qsizetype i = 0; i < link.tables.size() && i < named; ++i)
        tables << Structure::diagramName(link.tables[i]);
    if (link.tables.size() > named)
        tables << QStringLiteral("and %1 more").arg(number(link.tables.size() - named));
    return Structure::diagramName(link.from) + QStringLiteral(" \u2192 ") + to + QStringLiteral(": ") +
           counted(link.tables.size(), "linked table", "linked tables") +
           (tables.isEmpty() ? QString() : QStringLiteral(" (") + tables.join(QStringLiteral(", ")) + u')');
}

QString linkDrawing(const Page &page, const LinkGraph &shape)
{
    return Structure::graphvizSvg("links", [&](Agraph_t *graph) {
        const char *const looks[][3] = {
            {"G", "rankdir", "LR"},         {"G", "nodesep", "0.25"},      {"G", "ranksep", "1.2"},
            {"G", "fontname", "Helvetica"}, {"N", "shape", "box"},         {"N", "style", "rounded,filled"},
            {"N", "fillcolor", "#dbe4f0"},  {"N", "color", "#7d8ca0"},     {"N", "fontname", "Helvetica"},
            {"N", "fontsize", "10"},        {"N", "margin", "0.12,0.06"},  {"E", "fontname", "Helvetica"},
            {"E", "fontsize", "9"},         {"E", "fontcolor", "#2b5797"}, {"E", "color", "#44546a"},
        };
        for (const auto &look : looks) {
            const int kind = look[0][0] == 'G' ? AGRAPH : look[0][0] == 'N' ? AGNODE : AGEDGE;
            agattr(graph, kind, const_cast<char *>(look[1]), const_cast<char *>(look[2]));
        }
        QHash<QString, QString> titles;
        QList<Agnode_t *> nodes;
        for (qsizetype i = 0; i < shape.nodes.size(); ++i) {
            const Node &node = shape.nodes[i];
            const QByteArray name = "n" + QByteArray::number(i + 1);
            Agnode_t *drawn = agnode(graph, const_cast<char *>(name.constData()), 1);
            const QByteArray id = "links-" + name;
            set(drawn, "id", id);
            if (node.found) {
                setLabel(graph, drawn, Structure::graphvizLabelText(node.text));
                const QString href = page.hrefs.value(node.text);
                if (!href.isEmpty())
                    set(drawn, "URL", href.toUtf8());
                titles.insert(QString::fromLatin1(id), Structure::diagramName(node.text));
            } else {
                setLabel(graph, drawn,
                         QStringLiteral("<I>") + Structure::graphvizLabelText(node.text) +
                             QStringLiteral("</I><BR/><FONT POINT-SIZE=\"8\">(not found)</FONT>"));
                set(drawn, "style", "rounded,dashed,filled");
                set(drawn, "fillcolor", "#fff4e5");
                set(drawn, "color", "#b26a00");
                titles.insert(QString::fromLatin1(id),
                              Structure::diagramName(node.text) + QStringLiteral(" (not found)"));
            }
            nodes << drawn;
        }
        for (qsizetype n = 0; n < page.index.links.size(); ++n) {
            const Link &link = page.index.links[n];
            const QByteArray id = "links-e" + QByteArray::number(n + 1);
            Agedge_t *edge = agedge(graph, nodes[shape.ends[n].first], nodes[shape.ends[n].second],
                                    const_cast<char *>(id.constData()), 1);
            set(edge, "id", id);
            set(edge, "label", QByteArray::number(link.tables.size()));
            if (!link.to)
                set(edge, "style", "dashed");
            titles.insert(QString::fromLatin1(id), linkTitle(link));
        }
        return titles;
    });
}

QString linkItem(const Page &page, const Link &link)
{
    const QString to = link.to ? page.pathLink(*link.to)
                               : htmlName(link.target) + QStringLiteral(" <span class=\"muted\">(not found)</span>");
    QStringList tables;
    for (const QString &table : link.tables)
        tables << htmlName(table);
    return QStringLiteral("<li>") + page.pathLink(link.from) + QStringLiteral(" &rarr; ") + to + QStringLiteral(": ") +
           counted(link.tables.size(), "linked table", "linked tables") +
           (tables.isEmpty() ? QString()
                             : QStringLiteral(" <span class=\"muted\">(") + tables.join(QStringLiteral(", ")) +
                                   QStringLiteral(")</span>")) +
           QStringLiteral("</li>\n");
}

void linksSection(QString &out, const Page &page)
{
    out += QStringLiteral("<h2 id=\"links\">Links between databases</h2>\n");
    const QList<Link> &links = page.index.links;
    if (links.isEmpty()) {
        out += QStringLiteral("<p>No database links to another file.</p>\n");
        return;
    }
    const LinkGraph shape = linkGraph(links);
    if (shape.nodes.size() > LinkDrawingLimit) {
        out += QStringLiteral("<p class=\"note\">The drawing is left out: %1 files link or are linked, more than a "
                              "drawing of %2 can show legibly. The links are listed below.</p>\n")
                   .arg(number(shape.nodes.size()), number(LinkDrawingLimit));
    } else {
        out += QStringLiteral("<p class=\"muted\">An arrow goes from the database that holds linked tables to the "
                              "file they are in, labelled with their number; a dashed box is a file that is not in "
                              "the tree. Hover over an arrow for its tables.</p>\n");
        const QString svg = linkDrawing(page, shape);
        out += svg.startsWith(QLatin1String("<svg"))
                   ? QStringLiteral("<div class=\"diagram\">\n") + svg + QStringLiteral("\n</div>\n")
                   : svg;
    }
    out += QStringLiteral("<ul class=\"links\">\n");
    for (const Link &link : links)
        out += linkItem(page, link);
    out += QStringLiteral("</ul>\n");
}

QString page(const Index &index)
{
    const Page page(index);
    QString out = pageStart(index);
    databasesSection(out, page);
    errorsSection(out, page);
    designsSection(out, page);
    linksSection(out, page);
    out += QStringLiteral("</main>\n<footer>Written by ") + htmlName(index.generator) +
           QStringLiteral("</footer>\n<script>") + QString::fromUtf8(Script) +
           QStringLiteral("</script>\n</body>\n</html>\n");
    return out;
}

} // namespace

QString documentHref(const QString &path)
{
    const QStringList parts = path.split(u'/');
    QStringList encoded;
    for (const QString &part : parts) {
        // An empty part would make "//host" of the link, or an absolute path; dot parts would leave
        // the output folder.
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QString();
        // Everything but letters, digits and "-._~" percent-encoded: no quote, angle bracket,
        // colon, backslash or space is left to mean anything.
        encoded << QString::fromLatin1(QUrl::toPercentEncoding(part));
    }
    return encoded.join(u'/');
}

QString designLabel(const QString &schemaHash)
{
    return schemaHash.left(8);
}

QByteArray indexPage(const Index &index)
{
    return page(index).toUtf8();
}

bool writeIndexPage(const Index &index, QIODevice &device)
{
    const QByteArray bytes = indexPage(index);
    return Structure::writeWhole(device, bytes.constData(), bytes.size());
}

} // namespace Estate
