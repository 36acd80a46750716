#include "core/structure/Html.h"

#include "core/structure/Diagram.h"

#include <QRegularExpression>

namespace Structure {

namespace {

const char *const Style = R"(
:root { color-scheme: light; --line: #c8ced6; --head: #eef2f7; --accent: #2b5797; }
* { box-sizing: border-box; }
body { font: 14px/1.45 "Segoe UI", "Liberation Sans", Arial, sans-serif; margin: 0; color: #1d232b; }
header { background: var(--accent); color: #fff; padding: 16px 24px; }
header h1 { margin: 0 0 4px; font-size: 22px; }
header p { margin: 0; opacity: .9; }
main { display: flex; align-items: flex-start; }
nav { position: sticky; top: 0; width: 260px; max-height: 100vh; overflow: auto; padding: 16px; border-right: 1px solid var(--line); }
nav input { width: 100%; padding: 6px 8px; margin-bottom: 12px; border: 1px solid var(--line); border-radius: 4px; }
nav ul { list-style: none; padding-left: 0; margin: 0; }
nav ul ul { padding-left: 14px; }
nav a { color: var(--accent); text-decoration: none; word-break: break-word; }
article { flex: 1; padding: 8px 24px 32px; min-width: 0; }
section.table { border-top: 1px solid var(--line); padding-top: 4px; }
table.grid { border-collapse: collapse; margin: 8px 0 16px; width: 100%; }
table.grid th, table.grid td { border: 1px solid var(--line); padding: 4px 8px; text-align: left; vertical-align: top; word-break: break-word; }
table.grid th { background: var(--head); font-weight: 600; }
pre { background: #f6f8fa; border: 1px solid var(--line); padding: 8px 12px; overflow: auto; white-space: pre-wrap; }
.note { background: #fff4e5; border-left: 4px solid #e8a33d; padding: 6px 10px; }
.muted { color: #5d6875; }
.diagram { overflow: auto; border: 1px solid var(--line); padding: 8px; background: #fff; }
.diagram svg { max-width: none; height: auto; }
[hidden] { display: none !important; }
@media print {
  nav, #search { display: none; }
  main { display: block; }
  header { background: none; color: #000; border-bottom: 2px solid #000; }
  section.table, table.grid tr { break-inside: avoid; }
  a { color: inherit; text-decoration: none; }
}
)";

// Narrows the tables shown to those whose name or field names hold the typed text.
const char *const Script = R"(
(function () {
  var box = document.getElementById('search');
  if (!box) return;
  box.addEventListener('input', function () {
    var term = box.value.trim().toLowerCase();
    document.querySelectorAll('section.table').forEach(function (section) {
      var text = section.getAttribute('data-search');
      var show = !term || text.indexOf(term) >= 0;
      section.hidden = !show;
      var link = document.querySelector('nav a[href="#' + section.id + '"]');
      if (link) link.parentElement.hidden = !show;
    });
  });
})();
)";

// A flag in a table's column of flags.
QString flag(bool value)
{
    return yesNo(value, No::Blank);
}

QString optional(const std::optional<QString> &text)
{
    return text ? htmlText(*text) : QString();
}

QString noteOf(const QString &text)
{
    return text.isEmpty() ? QString()
                          : QStringLiteral("<p class=\"note\">") + htmlText(text) + QStringLiteral("</p>\n");
}

QString propertyList(const Properties &properties)
{
    if (properties.isEmpty())
        return QString();
    QString out =
        QStringLiteral("<details><summary>Stored properties</summary>\n<table class=\"grid\"><tr><th>Property</th>"
                       "<th>Value</th></tr>\n");
    for (const auto &[name, text] : properties)
        out += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>\n").arg(htmlText(name), htmlText(text));
    return out + QStringLiteral("</table></details>\n");
}

QString fieldsTable(const Table &table)
{
    QString out = QStringLiteral("<table class=\"grid\"><tr><th>Field</th><th>Type</th><th>Size</th><th>Required</th>"
                                 "<th>Default</th><th>Validation</th><th>Description</th></tr>\n");
    for (const Field &field : table.fields) {
        QString validation = optional(field.validationRule);
        if (field.validationText)
            validation += (validation.isEmpty() ? QString() : QStringLiteral("<br>")) +
                          QStringLiteral("<span class=\"muted\">") + htmlText(*field.validationText) +
                          QStringLiteral("</span>");
        QString type = htmlText(typeDescription(field));
        if (field.expression)
            type += QStringLiteral("<br><code>") + htmlText(*field.expression) + QStringLiteral("</code>");
        if (field.lookup && field.lookup->rowSource)
            type += QStringLiteral("<br><span class=\"muted\">Lookup: ") + htmlText(*field.lookup->rowSource) +
                    QStringLiteral("</span>");
        // The biggest part of a big database's page: written straight into it.
        out += QLatin1String("<tr><td>");
        appendHtmlText(out, field.name);
        out += QLatin1String("</td><td>");
        out += type;
        out += QLatin1String("</td><td>");
        out += QString::number(field.size);
        out += QLatin1String("</td><td>");
        out += flag(field.required.value_or(false));
        out += QLatin1String("</td><td>");
        if (field.defaultValue)
            appendHtmlText(out, *field.defaultValue);
        out += QLatin1String("</td><td>");
        out += validation;
        out += QLatin1String("</td><td>");
        if (field.description)
            appendHtmlText(out, *field.description);
        out += QLatin1String("</td></tr>\n");
    }
    out += QStringLiteral("</table>\n");
    for (const Field &field : table.fields) {
        if (!field.note.isEmpty())
            out += noteOf(field.name + QStringLiteral(": ") + field.note);
    }
    return out;
}

QString indexesTable(const Table &table)
{
    if (table.indexes.isEmpty())
        return QString();
    QString out = QStringLiteral("<h4>Keys and indexes</h4>\n<table class=\"grid\"><tr><th>Index</th><th>Fields</th>"
                                 "<th>Primary key</th><th>Unique</th><th>Ignore nulls</th><th>Required</th>"
                                 "<th>For a relationship</th></tr>\n");
    for (const Index &index : table.indexes) {
        QStringList fields;
        for (const IndexField &field : index.fields)
            fields << htmlText(field.name) + (field.descending ? QStringLiteral(" &darr;") : QString());
        out +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td></tr>\n")
                .arg(htmlText(index.name), fields.join(QStringLiteral(", ")), flag(index.primary), flag(index.unique),
                     flag(index.ignoreNulls), flag(index.required), flag(index.foreignKey));
    }
    out += QStringLiteral("</table>\n");
    for (const Index &index : table.indexes) {
        if (!index.note.isEmpty())
            out += noteOf(index.name + QStringLiteral(": ") + index.note);
    }
    return out;
}

QString tableSection(const Table &table, const QString &anchor)
{
    // Lower-cased as the page's script lower-cases what is typed (toLowerCase), not by the name key.
    QStringList searchable{table.name.toLower()};
    for (const Field &field : table.fields)
        searchable << field.name.toLower();
    QString out = QStringLiteral("<section class=\"table\" id=\"%1\" data-search=\"%2\">\n<h3>%3</h3>\n")
                      .arg(anchor, htmlText(searchable.join(QLatin1Char(' '))), htmlText(table.name));
    if (table.description)
        out += QStringLiteral("<p>") + htmlText(*table.description) + QStringLiteral("</p>\n");
    out += QStringLiteral("<p class=\"muted\">Records: %1 &middot; Fields: %2</p>\n")
               .arg(table.records ? QString::number(*table.records) : QStringLiteral("not counted"),
                    table.definitionRead ? QString::number(table.fields.size()) : QStringLiteral("not read"));
    out += noteOf(table.note);
    // Without its definition the table's fields and indexes are unknown: no empty grid claims none.
    if (table.definitionRead) {
        out += fieldsTable(table);
        out += indexesTable(table);
    }
    out += propertyList(table.properties);
    return out + QStringLiteral("</section>\n");
}

QString names(const QStringList &list)
{
    QStringList escaped;
    for (const QString &name : list)
        escaped << htmlText(name);
    return escaped.join(QStringLiteral(", "));
}

QString pageStart(const Document &document)
{
    const QString fileName = document.database.path.section(QRegularExpression(QStringLiteral("[/\\\\]")), -1);
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                          "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                          "style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:\">\n"
                          "<title>Structure of ") +
           htmlText(fileName) + QStringLiteral("</title>\n<style>") + QString::fromUtf8(Style) +
           QStringLiteral("</style>\n</head>\n<body>\n<header>\n<h1>Structure of ") + htmlText(fileName) +
           QStringLiteral("</h1>\n<p>") + htmlText(document.database.path) + QStringLiteral(" &middot; ") +
           htmlText(document.database.format) +
           (document.database.encrypted ? QStringLiteral(" &middot; encrypted or password-protected") : QString()) +
           QStringLiteral("</p>\n</header>\n");
}

QString contents(const Document &document, const QStringList &anchors)
{
    QString out =
        QStringLiteral("<nav>\n<input id=\"search\" type=\"search\" placeholder=\"Find a table or field\" "
                       "aria-label=\"Find a table or field\">\n<ul>\n"
                       "<li><a href=\"#diagram\">Diagram</a></li>\n<li><a href=\"#tables\">Tables</a>\n<ul>\n");
    for (int i = 0; i < document.tables.size(); ++i)
        out += QStringLiteral("<li><a href=\"#%1\">%2</a></li>\n").arg(anchors[i], htmlText(document.tables[i].name));
    return out + QStringLiteral("</ul></li>\n<li><a href=\"#relationships\">Relationships</a></li>\n"
                                "<li><a href=\"#queries\">Queries</a></li>\n<li><a href=\"#linked-tables\">Linked "
                                "tables</a></li>\n</ul>\n</nav>\n");
}

QString diagramSection(const Document &document, const QStringList &anchors)
{
    QString out = QStringLiteral("<h2 id=\"diagram\">Diagram</h2>\n");
    const DiagramPlan plan = diagramPlan(document);
    const QString summary = diagramSummary(document, plan);
    if (!summary.isEmpty())
        out += QStringLiteral("<p class=\"muted\">") + htmlText(summary) + QStringLiteral("</p>\n");
    const QString svg = relationshipDiagramSvg(document, plan.drawn, anchors);
    if (!svg.isEmpty())
        out += QStringLiteral("<div class=\"diagram\">\n") + svg + QStringLiteral("\n</div>\n");
    if (svg.startsWith(QLatin1String("<svg")))
        out += diagramLegendHtml(document, plan.drawn);
    // Without a single relationship, the list would only repeat the contents.
    if (plan.drawn.isEmpty() && plan.leftOut.isEmpty())
        return out;
    return out + unrelatedTablesHtml(document, plan.unrelated, anchors);
}

QString tablesSection(const Document &document, const QStringList &anchors)
{
    QString out = QStringLiteral("<h2 id=\"tables\">Tables</h2>\n");
    if (document.tables.isEmpty())
        out += QStringLiteral("<p class=\"muted\">No user tables.</p>\n");
    for (int i = 0; i < document.tables.size(); ++i)
        out += tableSection(document.tables[i], anchors[i]);
    return out;
}

QString relationshipsSection(const QList<Relationship> &relationships)
{
    QString out = QStringLiteral("<h2 id=\"relationships\">Relationships</h2>\n");
    if (relationships.isEmpty())
        return out + QStringLiteral("<p class=\"muted\">None.</p>\n");
    out += QStringLiteral("<table class=\"grid\"><tr><th>Relationship</th><th>Primary table</th><th>Fields</th>"
                          "<th>Foreign table</th><th>Fields</th><th>Enforced</th><th>Cascade updates</th>"
                          "<th>Cascade deletes</th><th>Cascade to null</th><th>One-to-one</th><th>Join</th></tr>\n");
    for (const Relationship &r : relationships) {
        out += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td>"
                              "<td>%8</td><td>%9</td>")
                   .arg(htmlText(r.name), htmlText(r.primaryTable), names(r.primaryFields), htmlText(r.foreignTable),
                        names(r.foreignFields), flag(r.enforced), flag(r.cascadeUpdates), flag(r.cascadeDeletes),
                        flag(r.cascadeNull)) +
               QStringLiteral("<td>") + flag(r.oneToOne) + QStringLiteral("</td><td>") + joinName(r.join) +
               QStringLiteral("</td></tr>\n");
    }
    out += QStringLiteral("</table>\n");
    for (const Relationship &r : relationships) {
        if (!r.note.isEmpty())
            out += noteOf(r.name + QStringLiteral(": ") + r.note);
    }
    return out;
}

QString queriesSection(const QList<Query> &queries)
{
    QString out = QStringLiteral("<h2 id=\"queries\">Queries</h2>\n");
    if (queries.isEmpty())
        out += QStringLiteral("<p class=\"muted\">None.</p>\n");
    for (const Query &query : queries) {
        out +=
            QStringLiteral("<h3>%1</h3>\n<p class=\"muted\">%2</p>\n").arg(htmlText(query.name), htmlText(query.type));
        out += noteOf(query.note);
        out += QStringLiteral("<pre><code>") + htmlText(query.sql) + QStringLiteral("</code></pre>\n");
    }
    return out;
}

QString linkedTablesSection(const QList<LinkedTable> &links)
{
    QString out = QStringLiteral("<h2 id=\"linked-tables\">Linked tables</h2>\n");
    if (links.isEmpty())
        return out + QStringLiteral("<p class=\"muted\">None.</p>\n");
    out += QStringLiteral("<table class=\"grid\"><tr><th>Table</th><th>Target</th><th>Source</th></tr>\n");
    for (const LinkedTable &link : links) {
        out += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>\n")
                   .arg(htmlText(link.name), htmlText(link.target), htmlText(link.source));
    }
    out += QStringLiteral("</table>\n");
    for (const LinkedTable &link : links) {
        if (!link.note.isEmpty())
            out += noteOf(link.name + QStringLiteral(": ") + link.note);
    }
    return out;
}

} // namespace

void appendHtmlText(QString &out, const QString &text)
{
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#39;");
            break;
        default:
            // Control characters have no place in a page; they show as the replacement sign.
            out += (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t')) ? QChar(0xFFFD) : c;
        }
    }
}

QString htmlText(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    appendHtmlText(out, text);
    return out;
}

QString toHtml(const Document &document)
{
    const QStringList anchors = tableAnchors(document);
    QString out =
        pageStart(document) + QStringLiteral("<main>\n") + contents(document, anchors) + QStringLiteral("<article>\n");
    for (const QString &text : document.notes)
        out += noteOf(text);
    out += diagramSection(document, anchors);
    out += tablesSection(document, anchors);
    out += relationshipsSection(document.relationships);
    out += queriesSection(document.queries);
    out += linkedTablesSection(document.linkedTables);
    out += QStringLiteral("</article>\n</main>\n<script>") + QString::fromUtf8(Script) +
           QStringLiteral("</script>\n</body>\n</html>\n");
    return out;
}

} // namespace Structure
