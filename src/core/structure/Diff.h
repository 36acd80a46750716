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
