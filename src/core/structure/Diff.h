#pragma once

#include "core/structure/Structure.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Structure {

// One difference between two schemas.
struct Change
{
    enum class Kind {
        Added,
        Removed,
        Changed,
    };
    Kind kind = Kind::Changed;
    // "database", "table", "field", "index", "relationship", "query" or "linked table".
    QString item;
    // The item's name; a field or index is named "<table>.<name>", a relationship by its tables and
    // fields.
    QString name;
    // For a changed item, one "what: before -> after" per difference, the names and values as they
    // are (the JSON rendering escapes them itself).
    QStringList details;
    // The same details as the text and Markdown renderings print them: every name and value in its
    // printable() form, and quotes and backslashes inside a quoted value escaped, so that no value
    // can end its quotes or its line. Empty for a change made by hand: its details are then escaped
    // whole.
    QStringList printedDetails;

    bool operator==(const Change &) const = default;
};

// How printable() treats the text it is given.
enum class Escape {
    // Every control character, a backslash as \\: a name printed on its own, unambiguous.
    Controls,
    // The same, and a double quote as \": a value printed between quotes.
    ControlsAndQuotes,
    // Every control character but the line feeds, which are the message's own line breaks; a
    // backslash is left as it is, since messages name Windows paths.
    ControlsButLineFeeds,
};

// Text from a database in the one form the terminal is given it in: control characters (C0, DEL
// and C1), the line and paragraph separators U+2028 and U+2029, the bidirectional overrides and
// isolates (U+202A..U+202E, U+2066..U+2069) and halves of surrogate pairs that have no other half
// become C-style escapes (\n, \r, \t, \x1b, \u202e), so that no name can clear,
// retitle or reorder the terminal, or begin a line of its own. Every other character is kept.
QString printable(const QString &text, Escape escape = Escape::Controls);

// What changed from `before` to `after`: tables, fields and their types, sizes, properties and
// descriptions, indexes, relationships, queries and linked tables added, removed or changed. Names
// are compared as Access compares them, without regard to case. Record counts and the database's
// path are data, not schema, and are not compared.
QList<Change> diff(const Document &before, const Document &after);

// The differences as lines of text ("+ table Orders", "- field Customers.Fax",
// "~ field Customers.Name: size: 40 -> 80"), as a Markdown table, or as JSON. The text and Markdown
// renderings print every name and value in its printable() form: one change is one line, one row.
QString diffText(const QList<Change> &changes);
QString diffMarkdown(const QList<Change> &changes);
QByteArray diffJson(const QList<Change> &changes);

} // namespace Structure
