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
    // For a changed item, one "what: before -> after" per difference.
    QStringList details;

    bool operator==(const Change &) const = default;
};

// What changed from `before` to `after`: tables, fields and their types, sizes, properties and
// descriptions, indexes, relationships, queries and linked tables added, removed or changed. Names
// are compared as Access compares them, without regard to case. Record counts and the database's
// path are data, not schema, and are not compared.
QList<Change> diff(const Document &before, const Document &after);

// The differences as lines of text ("+ table Orders", "- field Customers.Fax",
// "~ field Customers.Name: size: 40 -> 80"), as a Markdown table, or as JSON.
QString diffText(const QList<Change> &changes);
QString diffMarkdown(const QList<Change> &changes);
QByteArray diffJson(const QList<Change> &changes);

} // namespace Structure
