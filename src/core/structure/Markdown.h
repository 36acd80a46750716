#pragma once

#include "core/structure/Structure.h"

#include <QString>

namespace Structure {

// The document as GitHub-flavoured Markdown: contents, per table its fields and its keys and
// indexes, the relationships, the queries with their SQL in fenced blocks, the linked tables and a
// Mermaid entity-relationship diagram. Every name and text is escaped, so a name with "|",
// backticks or HTML shows as it is.
QString toMarkdown(const Document &document);

// Text for a Markdown table cell or a line of prose: Markdown's own characters are escaped, HTML
// is shown as text and a line break becomes <br>.
QString markdownText(const QString &text);
void appendMarkdownText(QString &out, const QString &text);

// A fenced block that no backtick run of the text can close.
QString markdownFence(const QString &text, const QString &language);

} // namespace Structure
