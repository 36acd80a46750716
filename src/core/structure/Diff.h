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
        // The same item under another name: `name` is the old name, `newName` the new one.
        Renamed,
    };
    Kind kind = Kind::Changed;
    // "database", "table", "field", "index", "relationship", "query", "linked table", "project",
    // "form", "report", "macro" or "module".
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
    // A renamed item's new name, named as `name` is; empty for every other change.
    QString newName;
    // A changed module's code as a unified diff: "@@ -3,7 +3,8 @@" and its lines, each " ", "-"
    // or "+" and the code line as it is.
    QStringList lines;

    bool operator==(const Change &) const = default;
};

// A unified diff of two texts' lines, with three lines of context around each change: the hunks'
// "@@ -a,b +c,d @@" lines and their lines. Empty when the lines are the same.
QStringList unifiedDiff(const QStringList &before, const QStringList &after);

// What a diff leaves out.
struct DiffOptions
{
    // Compare the properties that only record how Access shows a table's datasheet (column widths
    // and order, fonts, colours, the sort and filter last used, the subdatasheet) and the object's
    // identity and replication marks, which Access rewrites without any change of design.
    bool layoutProperties = false;
};

// Whether a stored property is one of those, by its name (without regard to case): every name
// starting with "Datasheet", and NameMap, GUID, ColumnWidth, ColumnOrder, ColumnHidden, OrderBy,
// Filter, Subdatasheet..., LinkChildFields, TotalsRow, Orientation and the like.
bool isLayoutProperty(const QString &name);

// What changed from `before` to `after`: tables, fields and their types, sizes, properties and
// descriptions, indexes, relationships, queries and linked tables added, removed or changed. Names
// are compared as Access compares them, without regard to case. Record counts and the database's
// path are data, not schema, and are not compared; neither are layout properties unless asked for.
// A table, or a field of a table, that is gone while exactly one new one is the same in every other
// respect (and it is the only one gone that matches the new one) was renamed: one change, not a
// removal and an addition. The names that follow from a rename (a renamed field in an index, a
// renamed table or field in a relationship) do not count as changes.
QList<Change> diff(const Document &before, const Document &after, const DiffOptions &options = {});

// The differences as lines of text ("+ table Orders", "- field Customers.Fax",
// "~ field Customers.Name: size: 40 -> 80", "> renamed field Customers.Fax to Customers.Phone"), as
// a Markdown table, or as JSON (with the generator's name). The text and Markdown renderings print
// every name and value in its printable() form: one change is one line, one row.
QString diffText(const QList<Change> &changes);
QString diffMarkdown(const QList<Change> &changes);
QByteArray diffJson(const QList<Change> &changes);

} // namespace Structure
