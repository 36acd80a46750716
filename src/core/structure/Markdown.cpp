#include "core/structure/Markdown.h"

#include "core/structure/Diagram.h"
#include "core/structure/Printable.h"
#include "core/structure/TextSink.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace Structure {

namespace {

// A part of a text written as a code span instead of escaped text.
struct Span
{
    qsizetype start = 0;
    qsizetype size = 0;
};

// The e-mail addresses of a text (GitHub's reading: letters, digits and ".+-_" before an "@", a
// domain with a dot after it). GitHub's autolinking reads the text after escapes are undone, so no
// escape keeps one from becoming a link; a code span does, and shows the address as it is.
QList<Span> emailSpans(const QString &text)
{
    QList<Span> spans;
    if (!text.contains(QLatin1Char('@')))
        return spans;
    static const QRegularExpression address(QStringLiteral("[A-Za-z0-9.+_-]+@[A-Za-z0-9._@-]+"));
    for (auto it = address.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString found = match.captured();
        if (found.indexOf(QLatin1Char('.'), found.indexOf(QLatin1Char('@'))) > 0)
            spans << Span{match.capturedStart(), match.capturedLength()};
    }
    return spans;
}

// Where the run of "#" that would close a heading starts (a run at the end, after a space or
// alone); the text's size when there is none.
qsizetype closingHashes(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    qsizetype start = end;
    while (start > 0 && text.at(start - 1) == QLatin1Char('#'))
        --start;
    if (start == end || (start > 0 && text.at(start - 1) != QLatin1Char(' ')))
        return text.size();
    return start;
}

// True when the text is nothing but the character c and spaces: a rule or a heading's underline.
bool onlyOf(const QString &text, QChar c)
{
    return std::all_of(text.cbegin(), text.cend(), [c](QChar t) { return t == c || t == QLatin1Char(' '); });
}

// Writes what would start a block at the beginning of a line (a heading, list item, rule, setext
// underline or indented code) as text; returns how many characters it wrote. Only a marker that
// Markdown would read is escaped, so "=Now()", "-5", "1.5" and "#1/1/1990#" stay as they are.
template <class Out> qsizetype appendLineStart(Out &out, const QString &text)
{
    if (text.isEmpty())
        return 0;
    const QChar first = text.at(0);
    if (first == QLatin1Char(' ')) {
        out += QStringLiteral("&#32;");
        return 1;
    }
    // How long the marker of a heading, bullet or numbered item would be.
    qsizetype marker = 0;
    if (first == QLatin1Char('#')) {
        while (marker < text.size() && text.at(marker) == QLatin1Char('#'))
            ++marker;
    } else if (first == QLatin1Char('-') || first == QLatin1Char('+')) {
        marker = 1;
    } else {
        while (marker < text.size() && text.at(marker) >= QLatin1Char('0') && text.at(marker) <= QLatin1Char('9'))
            ++marker;
        marker = marker > 0 && marker < text.size() && QStringLiteral(".)").contains(text.at(marker)) ? marker + 1 : 0;
    }
    const bool isMarker = marker > 0 && (marker == text.size() || text.at(marker) == QLatin1Char(' '));
    const bool isRule = (first == QLatin1Char('-') || first == QLatin1Char('=')) && onlyOf(text, first);
    if (!isMarker && !isRule)
        return 0;
    // A numbered item's number stays: its "." or ")" is what makes it one.
    const qsizetype at = first.isDigit() ? marker - 1 : 0;
    out += QStringView(text).left(at);
    out += QLatin1Char('\\');
    out += text.at(at);
    return at + 1;
}

// The characters a scheme's "://" or a "www." would turn into a link.
bool startsLink(const QString &text, qsizetype i)
{
    const QChar c = text.at(i);
    if (c == QLatin1Char(':'))
        return QStringView(text).mid(i + 1, 2) == u"//"_sv;
    return c == QLatin1Char('.') && i >= 3 &&
           QStringView(text).mid(i - 3, 3).compare(u"www"_sv, Qt::CaseInsensitive) == 0;
}

// A character printable() shows as an escape: a control character, a separator, a direction mark,
// or half of a surrogate pair (a whole pair is taken before this is asked).
bool isControl(char16_t c)
{
    return isControlOrMark(c) || QChar::isSurrogate(c);
}

// Code as it is, but for the controls that would reach a terminal: tabs and line feeds are the
// code's own layout.
QString codeText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const QStringView view(text);
    qsizetype run = 0; // where the characters not yet copied start
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (isControl(c.unicode()) && c != QLatin1Char('\t') && c != QLatin1Char('\n')) {
            // Copied a run at a time: nearly all of a module's code is plain.
            out += view.mid(run, i - run);
            out += printable(QString(c));
            run = i + 1;
        }
    }
    out += view.mid(run);
    return out;
}

// Writes the character at i (two for a surrogate pair or a CR LF) and returns where the next starts.
template <class Out>
qsizetype appendCharacter(Out &out, const QString &text, qsizetype i, LineBreaks breaks, qsizetype hashes)
{
    // Inline markup and table cells; "$" is GitHub's mathematics.
    static const QString special = QStringLiteral("\\`*_[]|~$");
    const QChar c = text.at(i);
    if (c == QLatin1Char('<')) {
        out += QStringLiteral("&lt;");
    } else if (c == QLatin1Char('>')) {
        out += QStringLiteral("&gt;");
    } else if (c == QLatin1Char('&')) {
        out += QStringLiteral("&amp;");
    } else if (breaks == LineBreaks::Break && (c == QLatin1Char('\r') || c == QLatin1Char('\n'))) {
        out += QStringLiteral("<br>");
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            return i + 2;
    } else if (special.contains(c) || startsLink(text, i) || (c == QLatin1Char('#') && i >= hashes)) {
        out += QLatin1Char('\\');
        out += c;
    } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        out += c;
        out += text.at(i + 1);
        return i + 2;
    } else if (isControl(c.unicode())) {
        // A backslash before a letter is no escape in Markdown: "\x1b" shows as it is written.
        out += printable(QString(c));
    } else {
        out += c;
    }
    return i + 1;
}

// How many characters from i on, up to end, are printable ASCII that appendCharacter() writes as
// they are wherever they stand (all but "<>&", its escaped marks, and ":", "." and "#", which
// may start a link or close a heading), so a run of them is copied at once.
qsizetype plainRun(const QString &text, qsizetype i, qsizetype end)
{
    static constexpr auto plainAscii = [] {
        std::array<bool, 128> plain{};
        for (char16_t c = 0x20; c < 0x7f; ++c)
            plain[c] = std::u16string_view(u"<>&\\`*_[]|~$#:.").find(c) == std::u16string_view::npos;
        return plain;
    }();
    qsizetype at = i;
    for (; at < end; ++at) {
        const char16_t c = text.at(at).unicode();
        if (c >= 0x80 || !plainAscii[c])
            break;
    }
    return at - i;
}

} // namespace

namespace {

template <class Out> void appendMarkdown(Out &out, const QString &text, LineBreaks breaks)
{
    const QList<Span> code = emailSpans(text);
    const qsizetype hashes = closingHashes(text);
    // A code span at the start starts no block.
    qsizetype i = code.isEmpty() || code.first().start > 0 ? appendLineStart(out, text) : 0;
    qsizetype next = 0;
    while (i < text.size()) {
        const qsizetype spanStart = next < code.size() ? code.at(next).start : text.size();
        if (spanStart == i) {
            out += QLatin1Char('`');
            out += QStringView(text).mid(i, code.at(next).size);
            out += QLatin1Char('`');
            i += code.at(next++).size;
        } else if (const qsizetype run = plainRun(text, i, spanStart); run > 0) {
            out += QStringView(text).mid(i, run);
            i += run;
        } else {
            i = appendCharacter(out, text, i, breaks, hashes);
        }
    }
}

} // namespace

void appendMarkdownText(QString &out, const QString &text, LineBreaks breaks)
{
    appendMarkdown(out, text, breaks);
}

QString markdownText(const QString &text, LineBreaks breaks)
{
    QString out;
    out.reserve(text.size() + 8);
    appendMarkdownText(out, text, breaks);
    return out;
}

void appendMarkdownFence(QString &out, const QString &text, QStringView language)
{
    // One look over the text first, branch-free so that many characters are looked at at once:
    // nearly all code holds no backtick, no CR and nothing shown as an escape, and is written as it
    // is. (Half a surrogate pair counts as an escape here; codeText() lets a whole pair be.)
    const auto *data = reinterpret_cast<const char16_t *>(text.utf16());
    unsigned backtick = 0;
    unsigned carriageReturn = 0;
    unsigned escape = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const std::uint16_t c = data[i];
        backtick |= c == u'`';
        carriageReturn |= c == u'\r';
        escape |= (c < 0x20) & (c != u'\t') & (c != u'\n') & (c != u'\r');
        escape |= std::uint16_t(c - 0x7f) <= 0x20;    // U+007F to U+009F
        escape |= std::uint16_t(c - 0x2028) <= 6;     // line and paragraph separators, embeddings, overrides
        escape |= std::uint16_t(c - 0x2066) <= 3;     // isolates
        escape |= std::uint16_t(c - 0xd800) <= 0x7ff; // surrogates
    }
    qsizetype longest = 0;
    if (backtick) {
        qsizetype run = 0;
        for (const QChar c : text) {
            run = c == QLatin1Char('`') ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    const QString fence(std::max<qsizetype>(3, longest + 1), QLatin1Char('`'));
    out += fence;
    out += language;
    out += QLatin1Char('\n');
    const QString body = carriageReturn ? lineFeeds(text) : text;
    if (escape)
        out += codeText(body);
    else
        out += body;
    if (!body.endsWith(QLatin1Char('\n')))
        out += QLatin1Char('\n');
    out += fence;
    out += QLatin1Char('\n');
}

QString markdownFence(const QString &text, const QString &language)
{
    QString out;
    appendMarkdownFence(out, text, language);
    return out;
}

namespace {

// What every section looks names up in, found once for the whole document.
struct Context
{
    explicit Context(const Document &d) : document(d), anchors(tableAnchors(d)), relationships(d)
    {
        for (qsizetype i = d.tables.size() - 1; i >= 0; --i)
            anchorOf.insert(nameKey(d.tables[i].name), anchors[i]);
    }

    const Document &document;
    const QStringList anchors;
    // By the table's name key: the first table of that name.
    QHash<QString, QString> anchorOf;
    const RelationshipIndex relationships;
};

QString markdownName(const QString &name)
{
    return markdownText(name, LineBreaks::Show);
}

// A flag in a table's column of flags.
QString flag(bool value)
{
    return yesNo(value, No::Blank);
}

// A link to the table's section; its name alone when the document does not hold it.
QString tableLink(const Context &context, const QString &table)
{
    const QString anchor = context.anchorOf.value(nameKey(table));
    if (anchor.isEmpty())
        return markdownName(table);
    return QLatin1Char('[') + markdownName(table) + QStringLiteral("](#") + anchor + QLatin1Char(')');
}

QString fieldList(const QStringList &names)
{
    QStringList escaped;
    for (const QString &name : names)
        escaped << markdownName(name);
    return escaped.join(QStringLiteral(", "));
}

void note(QString &out, const QString &text)
{
    if (!text.isEmpty())
        out += QStringLiteral("> **Note:** ") + markdownText(text) + QStringLiteral("\n\n");
}

// The note of a named part: the name is one line, the note may be several.
void noteOf(QString &out, const QString &name, const QString &text)
{
    if (!text.isEmpty())
        out += QStringLiteral("> **Note:** ") + markdownName(name) + QStringLiteral(": ") + markdownText(text) +
               QStringLiteral("\n\n");
}

void databaseSection(QString &out, const Document &document)
{
    const QString fileName = document.database.path.section(QRegularExpression(QStringLiteral("[/\\\\]")), -1);
    out += QStringLiteral("# Structure of ") + markdownName(fileName) + QStringLiteral("\n\n");
    out += QStringLiteral("- Database: ") + markdownName(document.database.path) + QLatin1Char('\n');
    out += QStringLiteral("- Format: ") + markdownName(document.database.format) + QLatin1Char('\n');
    out +=
        QStringLiteral("- Encrypted or password-protected: ") + yesNo(document.database.encrypted) + QLatin1Char('\n');
    out += QStringLiteral("- Written by: ") + markdownName(generatorName()) + QStringLiteral("\n\n");
    for (const QString &text : document.notes)
        note(out, text);
}

void contentsSection(QString &out, const Context &context)
{
    out += QStringLiteral("## Contents\n\n");
    out += QStringLiteral("- [Tables](#tables)\n");
    for (qsizetype i = 0; i < context.document.tables.size(); ++i)
        out += QStringLiteral("  - [") + markdownName(context.document.tables[i].name) + QStringLiteral("](#") +
               context.anchors[i] + QStringLiteral(")\n");
    out +=
        QStringLiteral("- [Relationships](#relationships)\n- [Queries](#queries)\n- [Linked tables](#linked-tables)\n"
                       "- [Application](#application)\n");
    if (context.document.migration)
        out += QStringLiteral("- [Migration notes](#migration-notes)\n");
    out += QStringLiteral("- [Diagram](#diagram)\n\n");
}

// The table's settings beyond its fields, in the order Access stores them.
void tableProperties(QString &out, const Table &table)
{
    if (table.validationText)
        out += QStringLiteral("Validation text: ") + markdownText(*table.validationText) + QStringLiteral("\n\n");
    if (table.validationRule)
        out += QStringLiteral("Validation rule: ") + markdownText(*table.validationRule) + QStringLiteral("\n\n");
}

// The type with the size Access shows beside it, once: "Short Text (50)". A multi-valued field's
// size is its values' column's, which the file does not give here.
QString typeText(const Field &field)
{
    return sizeText(field).isEmpty() || field.multiValued ? typeDescription(field) : typeWithSize(field);
}

// What a table's fields are looked up in to say which are keys, found once per table.
struct TableKeys
{
    QSet<QString> primary;
    // Whether any of the table's fields can point at another table.
    bool references = false;
};

// "Primary key" and "Foreign key to <table>", as they apply.
template <class Out>
void appendKeyText(Out &out, const Context &context, const Table &table, const Field &field, const TableKeys &keys)
{
    const bool primary = !keys.primary.isEmpty() && keys.primary.contains(nameKey(field.name));
    if (primary)
        out += u"Primary key"_sv;
    if (!keys.references)
        return;
    if (const Relationship *r = context.relationships.foreignKeyOf(table.name, field.name)) {
        if (primary)
            out += u"<br>"_sv;
        out += u"Foreign key to "_sv;
        out += tableLink(context, r->primaryTable);
    }
}

// Access's field properties, one a line of the cell; a calculated field's expression first.
template <class Out> void appendProperties(Out &out, const Table &table, const Field &field)
{
    bool first = true;
    const auto add = [&](const QString &label, const QString &text) {
        if (!first)
            out += u"<br>"_sv;
        first = false;
        out += label;
        out += u": "_sv;
        appendMarkdown(out, text, LineBreaks::Break);
    };
    if (field.expression)
        add(QStringLiteral("Expression"), *field.expression);
    Facts facts;
    fieldFacts(table, field, facts);
    for (const Fact &fact : facts)
        add(fact.label, fact.text);
}

QSet<QString> primaryKeySet(const Table &table)
{
    QSet<QString> keys;
    for (const QString &name : primaryKeyFields(table))
        keys.insert(nameKey(name));
    return keys;
}

void fieldsTable(QString &out, const Context &context, const Table &table)
{
    const TableKeys keys{primaryKeySet(table), !context.relationships.references(table.name).isEmpty()};
    out += QStringLiteral("| Field | Key | Type | Description | Properties |\n|---|---|---|---|---|\n");
    {
        // The biggest part of a big database's page: written straight into it, with room for a
        // usual field's row made ahead.
        Appender grid(out, 120 * table.fields.size());
        for (const Field &field : table.fields) {
            grid += u"| "_sv;
            appendMarkdown(grid, field.name, LineBreaks::Show);
            grid += u" | "_sv;
            appendKeyText(grid, context, table, field, keys);
            grid += u" | "_sv;
            appendMarkdown(grid, typeText(field), LineBreaks::Show);
            grid += u" | "_sv;
            if (field.description)
                appendMarkdown(grid, *field.description, LineBreaks::Break);
            grid += u" | "_sv;
            appendProperties(grid, table, field);
            grid += u" |\n"_sv;
        }
    }
    out += QLatin1Char('\n');
    for (const Field &field : table.fields)
        noteOf(out, field.name, field.note);
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
            fields << markdownName(field.name) + (field.descending ? QStringLiteral(" (descending)") : QString());
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n")
                   .arg(markdownName(index.name), fields.join(QStringLiteral(", ")), flag(index.primary),
                        flag(index.unique), flag(index.ignoreNulls), flag(index.required), flag(index.foreignKey));
    }
    out += QLatin1Char('\n');
    for (const Index &index : table.indexes)
        noteOf(out, index.name, index.note);
}

// The table's relationships, each as "foreign fields → primary fields": the ones through which it
// points at other tables, or the ones through which others point at it.
void relationshipList(QString &out, const Context &context, const QList<const Relationship *> &relationships,
                      bool references)
{
    if (relationships.isEmpty())
        return;
    out += references ? QStringLiteral("References:\n\n") : QStringLiteral("Referenced by:\n\n");
    for (const Relationship *r : relationships) {
        out += QStringLiteral("- ");
        if (references)
            out += fieldList(r->foreignFields) + QStringLiteral(" → ") + tableLink(context, r->primaryTable) +
                   QStringLiteral(" (") + fieldList(r->primaryFields) + QLatin1Char(')');
        else
            out += tableLink(context, r->foreignTable) + QStringLiteral(" (") + fieldList(r->foreignFields) +
                   QStringLiteral(") → ") + fieldList(r->primaryFields);
        out += QStringLiteral(", relationship ") + markdownName(r->name) + QLatin1Char('\n');
    }
    out += QLatin1Char('\n');
}

void tableSection(QString &out, const Context &context, qsizetype index)
{
    const Table &table = context.document.tables[index];
    out += QStringLiteral("<a id=\"%1\"></a>\n\n### ").arg(context.anchors[index]) + markdownName(table.name) +
           QStringLiteral("\n\n");
    if (table.description)
        out += markdownText(*table.description) + QStringLiteral("\n\n");
    out += QStringLiteral("Records: ") +
           (table.records ? QString::number(*table.records) : QStringLiteral("not counted")) + QStringLiteral("\n\n");
    note(out, table.note);
    tableProperties(out, table);
    // An empty table of fields would say the table has none; the note above says why they are unknown.
    if (table.definitionRead) {
        fieldsTable(out, context, table);
        indexesTable(out, table);
    } else {
        out += QStringLiteral("Fields and indexes: not read\n\n");
    }
    relationshipList(out, context, context.relationships.references(table.name), true);
    relationshipList(out, context, context.relationships.referencedBy(table.name), false);
    // Data macros: per event, Access's XML.
    for (const auto &[event, xml] : table.dataMacros) {
        out += QStringLiteral("Data macro ") + markdownName(event) + QStringLiteral(":\n\n");
        appendMarkdownFence(out, xml, u"xml"_sv);
        out += QLatin1Char('\n');
    }
}

void tablesSection(TextSink &sink, const Context &context)
{
    QString &out = sink.text();
    out += QStringLiteral("## Tables\n\n");
    if (context.document.tables.isEmpty())
        out += QStringLiteral("No user tables.\n\n");
    for (qsizetype i = 0; i < context.document.tables.size(); ++i) {
        tableSection(out, context, i);
        sink.flush();
    }
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
                   .arg(markdownName(r.name), markdownName(r.primaryTable), fieldList(r.primaryFields),
                        markdownName(r.foreignTable), fieldList(r.foreignFields), flag(r.enforced),
                        flag(r.cascadeUpdates), flag(r.cascadeDeletes), flag(r.cascadeNull)) +
               flag(r.oneToOne) + QStringLiteral(" | ") + joinName(r.join) + QStringLiteral(" |\n");
    }
    out += QLatin1Char('\n');
    for (const Relationship &r : relationships)
        noteOf(out, r.name, r.note);
}

void queriesSection(QString &out, const QList<Query> &queries)
{
    out += QStringLiteral("## Queries\n\n");
    if (queries.isEmpty())
        out += QStringLiteral("None.\n\n");
    for (const Query &query : queries) {
        out += QStringLiteral("### ") + markdownName(query.name) + QStringLiteral("\n\n");
        out += QStringLiteral("Type: ") + markdownName(query.type) + QStringLiteral("\n\n");
        note(out, query.note);
        appendMarkdownFence(out, query.sql, u"sql"_sv);
        out += QLatin1Char('\n');
    }
}

QString dateCell(const std::optional<QString> &date)
{
    return date ? markdownText(QString(*date).replace(QLatin1Char('T'), QLatin1Char(' ')), LineBreaks::Show)
                : QString();
}

void formsTable(QString &out, const QString &title, const QList<FormOrReport> &items)
{
    out += QStringLiteral("### ") + title + QStringLiteral("\n\n");
    if (items.isEmpty()) {
        out += QStringLiteral("None.\n\n");
        return;
    }
    out += QStringLiteral("| Name | Created | Updated | Module |\n|---|---|---|---|\n");
    for (const FormOrReport &item : items)
        out += QStringLiteral("| %1 | %2 | %3 | %4 |\n")
                   .arg(markdownName(item.name), dateCell(item.created), dateCell(item.updated),
                        item.module ? markdownName(*item.module) : QString());
    out += QLatin1Char('\n');
}

// The application: the project and its references, forms, reports, macros, and every module with
// its code in a fenced block.
void applicationSection(TextSink &sink, const Application &application)
{
    QString &out = sink.text();
    out += QStringLiteral("## Application\n\n");
    if (const auto &project = application.project) {
        out += QStringLiteral("VBA project: ") + markdownName(project->name) +
               (project->compiledOnly ? QStringLiteral(" (compiled only: no source)") : QString()) +
               QStringLiteral(", code page %1\n\n").arg(project->codePage);
        for (const Reference &reference : project->references)
            out +=
                QStringLiteral("- ") + markdownName(reference.name) +
                (reference.description.isEmpty() ? QString()
                                                 : QStringLiteral(": ") + markdownText(reference.description)) +
                (reference.path ? QStringLiteral(" (") + markdownText(*reference.path) + QLatin1Char(')') : QString()) +
                QLatin1Char('\n');
        if (!project->references.isEmpty())
            out += QLatin1Char('\n');
    } else {
        out += QStringLiteral("No VBA project.\n\n");
    }
    formsTable(out, QStringLiteral("Forms"), application.forms);
    formsTable(out, QStringLiteral("Reports"), application.reports);
    out += QStringLiteral("### Macros\n\n");
    if (application.macros.isEmpty())
        out += QStringLiteral("None.\n\n");
    else
        out += QStringLiteral("| Macro | Created | Updated |\n|---|---|---|\n");
    for (const Macro &macro : application.macros)
        out += QStringLiteral("| %1 | %2 | %3 |\n")
                   .arg(markdownName(macro.name), dateCell(macro.created), dateCell(macro.updated));
    if (!application.macros.isEmpty())
        out += QLatin1Char('\n');
    for (const Macro &macro : application.macros)
        noteOf(out, macro.name, macro.note);
    out += QStringLiteral("### Modules\n\n");
    if (application.modules.isEmpty())
        out += QStringLiteral("None.\n\n");
    else
        out += QStringLiteral("| Module | Kind | Created | Updated | Lines |\n|---|---|---|---|---|\n");
    for (const Module &module : application.modules)
        // In one pass: a name holding "%5" stays as it is.
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n")
                   .arg(markdownName(module.name), module.kind, dateCell(module.created), dateCell(module.updated),
                        QString::number(module.lines()));
    if (!application.modules.isEmpty())
        out += QLatin1Char('\n');
    for (const Module &module : application.modules) {
        out += QStringLiteral("#### ") + markdownName(module.name) + QStringLiteral("\n\n");
        noteOf(out, module.name, module.note);
        if (module.source) {
            appendMarkdownFence(out, *module.source, u"vb"_sv);
            out += QLatin1Char('\n');
        }
        sink.flush();
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
                   .arg(markdownName(link.name), markdownName(link.target), markdownName(link.source));
    }
    out += QLatin1Char('\n');
    for (const LinkedTable &link : links)
        noteOf(out, link.name, link.note);
}

// What the migration DDL does not carry over exactly, for the server it was worked out for.
void migrationSection(QString &out, const Migration &migration)
{
    out += QStringLiteral("## Migration notes\n\n");
    out += QStringLiteral("What the DDL for ") + markdownText(migrationServer(migration.dialect)) +
           QStringLiteral(" (`--format sql`) does not carry over exactly, to check by hand.\n\n");
    if (migration.notes.isEmpty()) {
        out += QStringLiteral("None: everything is carried over.\n\n");
        return;
    }
    out += QStringLiteral("| What | Where | Why |\n|---|---|---|\n");
    for (const MigrationNote &note : migration.notes)
        out += QStringLiteral("| %1 | %2 | %3 |\n")
                   .arg(markdownText(note.what), markdownName(note.where), markdownText(note.why));
    out += QLatin1Char('\n');
}

// Mermaid reads a quoted text up to the next quote and takes "#name;" for an entity: quotes and
// the characters it treats as markup become its own entity codes (":" too, since Mermaid rewrites
// a line with "style", ":" and "#" before it reads it), and control characters are shown as
// escapes (a line break too: a diagram's line is one statement).
QString mermaidText(const QString &text)
{
    QString out;
    for (const QChar c : printable(text, Escape::ControlsButLineFeeds)) {
        switch (c.unicode()) {
        case u'"':
            out += QStringLiteral("#quot;");
            break;
        case u'#':
        case u'$':
        case u'%':
        case u'&':
        case u'*':
        case u'_':
        case u'`':
        case u'\\':
        case u'~':
        case u':':
            out += QStringLiteral("#%1;").arg(int(c.unicode()));
            break;
        case u'<':
            out += QStringLiteral("#lt;");
            break;
        case u'>':
            out += QStringLiteral("#gt;");
            break;
        case u'\n':
            out += QStringLiteral("#92;n");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A word Mermaid takes as an attribute's type or name: ASCII letters, digits, "_" and "-",
// starting with a letter and not with a key's word (PK, FK, UK), which its lexer would take first.
QString mermaidWord(const QString &text, const QString &fallback)
{
    QString word;
    for (const QChar c : text) {
        const bool kept = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-');
        if (kept)
            word += c;
        else if (!word.endsWith(QLatin1Char('_')))
            word += QLatin1Char('_');
    }
    while (word.endsWith(QLatin1Char('_')))
        word.chop(1);
    while (word.startsWith(QLatin1Char('_')))
        word.remove(0, 1);
    static const QRegularExpression badStart(QStringLiteral("^([^A-Za-z]|PK|FK|UK|$)"));
    if (badStart.match(word).hasMatch())
        word.prepend(fallback + QLatin1Char('_'));
    return word;
}

// The type of a key field in the diagram: a number's size ("Long_Integer"), Access's type
// otherwise, with the size of text ("Short_Text_50").
QString mermaidType(const Field &field)
{
    if (field.accessType == u"Number"_sv && field.fieldSize)
        return mermaidWord(*field.fieldSize, QStringLiteral("type"));
    const QString size = field.multiValued ? QString() : sizeText(field);
    const QString type = field.accessType.isEmpty() ? field.type : field.accessType;
    return mermaidWord(size.isEmpty() ? type : type + QLatin1Char(' ') + size, QStringLiteral("type"));
}

// A drawn table: its alias, and its primary and foreign key fields with their types; a field's
// real name is the attribute's comment when the diagram's word for it is not the name itself.
void mermaidEntity(QString &out, const Context &context, const Table &table, const QString &id)
{
    const QString label = mermaidText(table.name);
    out += QStringLiteral("    ") + id;
    if (!label.trimmed().isEmpty())
        out += QStringLiteral("[\"") + label + QStringLiteral("\"]");
    const QSet<QString> primary = primaryKeySet(table);
    QString attributes;
    for (const Field &field : table.fields) {
        const bool pk = primary.contains(nameKey(field.name));
        const bool fk = context.relationships.foreignKeyOf(table.name, field.name) != nullptr;
        if (!pk && !fk)
            continue;
        const QString name = mermaidWord(field.name, QStringLiteral("field"));
        attributes += QStringLiteral("        ") + mermaidType(field) + QLatin1Char(' ') + name + QLatin1Char(' ') +
                      (pk && fk ? QStringLiteral("PK, FK")
                       : pk     ? QStringLiteral("PK")
                                : QStringLiteral("FK"));
        if (name != field.name)
            attributes += QStringLiteral(" \"") + mermaidText(field.name) + QLatin1Char('"');
        attributes += QLatin1Char('\n');
    }
    if (!attributes.isEmpty())
        out += QStringLiteral(" {\n") + attributes + QStringLiteral("    }");
    out += QLatin1Char('\n');
}

void diagramSection(QString &out, const Context &context)
{
    const Document &document = context.document;
    out += QStringLiteral("## Diagram\n\n");
    const DiagramScope scope = diagramScope(document);
    // A big database's diagram draws only its related tables, and says how many it leaves out.
    const qsizetype leftOut = document.tables.size() - scope.tables.size();
    if (scope.onlyRelated && scope.tables.isEmpty()) {
        out += QStringLiteral("None of the %1 tables takes part in a relationship: there is nothing to draw.\n")
                   .arg(document.tables.size());
        return;
    }
    if (scope.onlyRelated) {
        out += QStringLiteral("The diagram shows the %1 tables that take part in relationships; the %2 without "
                              "relationships are left out.\n\n")
                   .arg(scope.tables.size())
                   .arg(leftOut);
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
        mermaidEntity(out, context, document.tables[index], id);
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

namespace {

void writeDocument(TextSink &sink, const Document &document)
{
    const Context context(document);
    QString &out = sink.text();
    databaseSection(out, document);
    contentsSection(out, context);
    sink.flush();
    tablesSection(sink, context);
    relationshipsSection(out, document.relationships);
    sink.flush();
    queriesSection(out, document.queries);
    sink.flush();
    linkedTablesSection(out, document.linkedTables);
    sink.flush();
    applicationSection(sink, document.application);
    if (document.migration)
        migrationSection(out, *document.migration);
    diagramSection(out, context);
}

} // namespace

QString toMarkdown(const Document &document)
{
    qsizetype fields = 0;
    for (const Table &table : document.tables)
        fields += table.fields.size();
    TextSink sink(nullptr, 4096 + 120 * fields);
    writeDocument(sink, document);
    return sink.take();
}

bool writeMarkdown(const Document &document, QIODevice &device)
{
    TextSink sink(&device, 0);
    writeDocument(sink, document);
    return sink.finish();
}

} // namespace Structure
