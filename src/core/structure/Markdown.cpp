#include "core/structure/Markdown.h"

#include "core/structure/Diagram.h"

#include <QHash>
#include <QRegularExpression>

namespace Structure {

namespace {

// A flag in a table's column of flags.
QString flag(bool value)
{
    return yesNo(value, No::Blank);
}

// Mermaid reads a quoted text up to the next quote: quotes and the characters it treats as markup
// become its own entity codes.
QString mermaidText(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QStringLiteral("#quot;");
            break;
        case u'#':
            out += QStringLiteral("#35;");
            break;
        case u'%':
            out += QStringLiteral("#37;");
            break;
        case u'\\':
            out += QStringLiteral("#92;");
            break;
        case u'<':
            out += QStringLiteral("#lt;");
            break;
        case u'>':
            out += QStringLiteral("#gt;");
            break;
        case u'\n':
        case u'\r':
        case u'`':
            out += QLatin1Char(' ');
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString fieldList(const QStringList &names)
{
    QStringList escaped;
    for (const QString &name : names)
        escaped << markdownText(name);
    return escaped.join(QStringLiteral(", "));
}

void note(QString &out, const QString &text)
{
    if (!text.isEmpty())
        out += QStringLiteral("> **Note:** ") + markdownText(text) + QStringLiteral("\n\n");
}

void databaseSection(QString &out, const Document &document)
{
    const QString fileName = document.database.path.section(QRegularExpression(QStringLiteral("[/\\\\]")), -1);
    out += QStringLiteral("# Structure of ") + markdownText(fileName) + QStringLiteral("\n\n");
    out += QStringLiteral("- Database: ") + markdownText(document.database.path) + QLatin1Char('\n');
    out += QStringLiteral("- Format: ") + markdownText(document.database.format) + QLatin1Char('\n');
    out += QStringLiteral("- Encrypted or password-protected: ") + yesNo(document.database.encrypted) +
           QStringLiteral("\n\n");
    for (const QString &text : document.notes)
        note(out, text);
}

void contentsSection(QString &out, const Document &document, const QStringList &anchors)
{
    out += QStringLiteral("## Contents\n\n");
    out += QStringLiteral("- [Tables](#tables)\n");
    for (int i = 0; i < document.tables.size(); ++i)
        out += QStringLiteral("  - [%1](#%2)\n").arg(markdownText(document.tables[i].name), anchors[i]);
    out +=
        QStringLiteral("- [Relationships](#relationships)\n- [Queries](#queries)\n- [Linked tables](#linked-tables)\n"
                       "- [Diagram](#diagram)\n\n");
}

// The table's settings beyond its fields, in the order Access stores them.
void tableProperties(QString &out, const Table &table)
{
    if (table.validationText)
        out += QStringLiteral("Validation text: ") + markdownText(*table.validationText) + QStringLiteral("\n\n");
    if (table.validationRule)
        out += QStringLiteral("Validation rule: ") + markdownText(*table.validationRule) + QStringLiteral("\n\n");
}

void fieldsTable(QString &out, const Table &table)
{
    out += QStringLiteral("| Field | Type | Size | Required | Default | Description |\n");
    out += QStringLiteral("|---|---|---|---|---|---|\n");
    for (const Field &field : table.fields) {
        // The biggest part of a big database's page: written straight into it.
        out += QLatin1String("| ");
        appendMarkdownText(out, field.name);
        out += QLatin1String(" | ");
        appendMarkdownText(out, typeDescription(field));
        out += QLatin1String(" | ");
        out += QString::number(field.size);
        out += QLatin1String(" | ");
        out += flag(field.required.value_or(false));
        out += QLatin1String(" | ");
        if (field.defaultValue)
            appendMarkdownText(out, *field.defaultValue);
        out += QLatin1String(" | ");
        if (field.description)
            appendMarkdownText(out, *field.description);
        out += QLatin1String(" |\n");
    }
    out += QLatin1Char('\n');
    for (const Field &field : table.fields) {
        if (!field.note.isEmpty())
            note(out, field.name + QStringLiteral(": ") + field.note);
    }
}

void indexesTable(QString &out, const Table &table)
{
    if (table.indexes.isEmpty())
        return;
    out += QStringLiteral("Keys and indexes:\n\n| Index | Fields | Primary key | Unique | Ignore nulls | "
                          "Required | For a relationship |\n|---|---|---|---|---|---|---|\n");
    for (const Index &index : table.indexes) {
        QStringList fields;
        for (const IndexField &field : index.fields)
            fields << markdownText(field.name) + (field.descending ? QStringLiteral(" (descending)") : QString());
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n")
                   .arg(markdownText(index.name), fields.join(QStringLiteral(", ")), flag(index.primary),
                        flag(index.unique), flag(index.ignoreNulls), flag(index.required), flag(index.foreignKey));
    }
    out += QLatin1Char('\n');
    for (const Index &index : table.indexes) {
        if (!index.note.isEmpty())
            note(out, index.name + QStringLiteral(": ") + index.note);
    }
}

void tableSection(QString &out, const Table &table, const QString &anchor)
{
    out += QStringLiteral("<a id=\"%1\"></a>\n\n### ").arg(anchor) + markdownText(table.name) + QStringLiteral("\n\n");
    if (table.description)
        out += markdownText(*table.description) + QStringLiteral("\n\n");
    out += QStringLiteral("Records: ") +
           (table.records ? QString::number(*table.records) : QStringLiteral("not counted")) + QStringLiteral("\n\n");
    note(out, table.note);
    tableProperties(out, table);
    // An empty table of fields would say the table has none; the note above says why they are unknown.
    if (!table.definitionRead) {
        out += QStringLiteral("Fields and indexes: not read\n\n");
        return;
    }
    fieldsTable(out, table);
    indexesTable(out, table);
}

void tablesSection(QString &out, const Document &document, const QStringList &anchors)
{
    out += QStringLiteral("## Tables\n\n");
    if (document.tables.isEmpty())
        out += QStringLiteral("No user tables.\n\n");
    for (int i = 0; i < document.tables.size(); ++i)
        tableSection(out, document.tables[i], anchors[i]);
}

void relationshipsSection(QString &out, const QList<Relationship> &relationships)
{
    out += QStringLiteral("## Relationships\n\n");
    if (relationships.isEmpty()) {
        out += QStringLiteral("None.\n\n");
        return;
    }
    out += QStringLiteral("| Relationship | Primary table | Fields | Foreign table | Fields | Enforced | Cascade "
                          "updates | Cascade deletes | Cascade to null | One-to-one | Join |\n"
                          "|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Relationship &r : relationships) {
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 | ")
                   .arg(markdownText(r.name), markdownText(r.primaryTable), fieldList(r.primaryFields),
                        markdownText(r.foreignTable), fieldList(r.foreignFields), flag(r.enforced),
                        flag(r.cascadeUpdates), flag(r.cascadeDeletes), flag(r.cascadeNull)) +
               flag(r.oneToOne) + QStringLiteral(" | ") + joinName(r.join) + QStringLiteral(" |\n");
    }
    out += QLatin1Char('\n');
    for (const Relationship &r : relationships) {
        if (!r.note.isEmpty())
            note(out, r.name + QStringLiteral(": ") + r.note);
    }
}

void queriesSection(QString &out, const QList<Query> &queries)
{
    out += QStringLiteral("## Queries\n\n");
    if (queries.isEmpty())
        out += QStringLiteral("None.\n\n");
    for (const Query &query : queries) {
        out += QStringLiteral("### ") + markdownText(query.name) + QStringLiteral("\n\n");
        out += QStringLiteral("Type: ") + markdownText(query.type) + QStringLiteral("\n\n");
        note(out, query.note);
        out += markdownFence(query.sql, QStringLiteral("sql")) + QLatin1Char('\n');
    }
}

void linkedTablesSection(QString &out, const QList<LinkedTable> &links)
{
    out += QStringLiteral("## Linked tables\n\n");
    if (links.isEmpty()) {
        out += QStringLiteral("None.\n\n");
        return;
    }
    out += QStringLiteral("| Table | Target | Source |\n|---|---|---|\n");
    for (const LinkedTable &link : links) {
        out += QStringLiteral("| %1 | %2 | %3 |\n")
                   .arg(markdownText(link.name), markdownText(link.target), markdownText(link.source));
    }
    out += QLatin1Char('\n');
    for (const LinkedTable &link : links) {
        if (!link.note.isEmpty())
            note(out, link.name + QStringLiteral(": ") + link.note);
    }
}

void diagramSection(QString &out, const Document &document)
{
    out += QStringLiteral("## Diagram\n\n");
    const DiagramScope scope = diagramScope(document);
    if (scope.onlyRelated) {
        out += QStringLiteral("The database has more than %1 tables: the diagram shows only the %2 that take part in "
                              "relationships.\n\n")
                   .arg(DiagramTableLimit)
                   .arg(scope.tables.size());
    }
    if (scope.tables.isEmpty()) {
        out += QStringLiteral("No tables to draw.\n");
        return;
    }
    QHash<QString, QString> ids;
    out += QStringLiteral("```mermaid\nerDiagram\n");
    for (int index : scope.tables) {
        const QString id = QStringLiteral("T%1").arg(index + 1);
        ids.insert(nameKey(document.tables[index].name), id);
        out += QStringLiteral("    %1[\"%2\"]\n").arg(id, mermaidText(document.tables[index].name));
    }
    for (const Relationship &r : document.relationships) {
        const QString from = ids.value(nameKey(r.primaryTable));
        const QString to = ids.value(nameKey(r.foreignTable));
        if (from.isEmpty() || to.isEmpty())
            continue;
        const QString shape = r.oneToOne ? QStringLiteral("||--o|") : QStringLiteral("||--o{");
        out += QStringLiteral("    %1 %2 %3 : \"%4\"\n")
                   .arg(from, r.enforced ? shape : QString(shape).replace(QStringLiteral("--"), QStringLiteral("..")),
                        to, mermaidText(r.name));
    }
    out += QStringLiteral("```\n");
}

} // namespace

void appendMarkdownText(QString &out, const QString &text)
{
    // Inline markup and table cells; the characters that start a block matter only at the start.
    static const QString special = QStringLiteral("\\`*_[]|~");
    static const QString blockStart = QStringLiteral("#-+>=");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (i == 0 &&
            (blockStart.contains(c) || (c.isDigit() && text.size() > 1 && QStringLiteral(".)").contains(text.at(1))))) {
            out += c.isDigit() ? QString(c) + QLatin1Char('\\') + text.at(1) : QLatin1Char('\\') + QString(c);
            if (c.isDigit())
                ++i;
            continue;
        }
        if (c == QLatin1Char('<')) {
            out += QStringLiteral("&lt;");
        } else if (c == QLatin1Char('>')) {
            out += QStringLiteral("&gt;");
        } else if (c == QLatin1Char('&')) {
            out += QStringLiteral("&amp;");
        } else if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QStringLiteral("<br>");
        } else if (c == QLatin1Char('\n')) {
            out += QStringLiteral("<br>");
        } else if (special.contains(c)) {
            out += QLatin1Char('\\');
            out += c;
        } else {
            out += c;
        }
    }
}

QString markdownText(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    appendMarkdownText(out, text);
    return out;
}

QString markdownFence(const QString &text, const QString &language)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('`') ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const QString fence(std::max<qsizetype>(3, longest + 1), QLatin1Char('`'));
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!body.endsWith(QLatin1Char('\n')))
        body += QLatin1Char('\n');
    return fence + language + QLatin1Char('\n') + body + fence + QLatin1Char('\n');
}

QString toMarkdown(const Document &document)
{
    qsizetype fields = 0;
    for (const Table &table : document.tables)
        fields += table.fields.size();
    const QStringList anchors = tableAnchors(document);
    QString out;
    out.reserve(4096 + 80 * fields);
    databaseSection(out, document);
    contentsSection(out, document, anchors);
    tablesSection(out, document, anchors);
    relationshipsSection(out, document.relationships);
    queriesSection(out, document.queries);
    linkedTablesSection(out, document.linkedTables);
    diagramSection(out, document);
    return out;
}

} // namespace Structure
