#pragma once

#include "core/structure/Structure.h"

#include <QIODevice>
#include <QString>

namespace Structure {

// The document as GitHub-flavoured Markdown: who wrote it, contents, per table its fields (with
// their keys and Access's field properties), its keys and indexes and the tables it references and
// is referenced by, the relationships, the queries with their SQL in fenced blocks, the linked
// tables and a Mermaid entity-relationship diagram with each table's key fields. Every name and
// text is escaped, so a name with "|", backticks, HTML, a URL or control characters shows as it is.
QString toMarkdown(const Document &document);
// The same text written to the device as UTF-8, in pieces of a few hundred KB as it is made, so
// the whole page is never held. False when a piece could not be written (the device says why).
bool writeMarkdown(const Document &document, QIODevice &device);

// How a text's line breaks are written: as the document's own line breaks (<br>), for
// descriptions, rules and values typed over several lines; or shown as "\n" like every other
// control character, for names, which are one line.
enum class LineBreaks {
    Break,
    Show,
};

// Text for a Markdown table cell, a heading or a line of prose that renders as the text itself:
// Markdown's own characters are escaped, HTML and entities are shown as typed, nothing becomes a
// link (an e-mail address becomes a code span: GitHub's autolinking finds one even through
// backslash escapes), control characters are shown as C-style escapes ("\x1b") and line breaks
// as the caller asks.
QString markdownText(const QString &text, LineBreaks breaks = LineBreaks::Break);
void appendMarkdownText(QString &out, const QString &text, LineBreaks breaks = LineBreaks::Break);

// A fenced block that no backtick run of the text can close; control characters other than tabs
// and line breaks are shown as C-style escapes.
QString markdownFence(const QString &text, const QString &language);
void appendMarkdownFence(QString &out, const QString &text, QStringView language);

} // namespace Structure
