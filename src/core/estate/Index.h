#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// The index of an estate: every Access file found below a folder, what each holds, which files
// link to which, and the designs that are the same. Built from the per-database JSON documents
// alone, so that documents made anywhere (one machine, a batch system) give the same index.
namespace Estate {

// Why a database could not be documented.
enum class ErrorKind {
    // An Access file whose pages cannot be read (truncated, overwritten, a worker that crashed).
    Damaged,
    // Not an Access database at all (another kind of file with an Access name).
    NotAccess,
    // A password is needed and none (or a wrong one) was given.
    Password,
    // An Access file this program cannot read (an encryption it does not know, say).
    Unsupported,
    // The file could not be opened or read (permissions, a file that went away).
    Unreadable,
};

// "damaged", "notAccess", "password", "unsupported", "unreadable".
QString errorKindName(ErrorKind kind);
std::optional<ErrorKind> errorKindFromName(const QString &name);

struct DatabaseError
{
    ErrorKind kind = ErrorKind::Damaged;
    // The reader's own words, as one line.
    QString message;
};

struct LinkedTableEntry
{
    QString name;
    // The table's name in the database it points to.
    QString target;
    // The linked file as the database holds it, or the connection text with any password masked.
    QString source;
};

struct DatabaseEntry
{
    // Relative to the root, '/' between folders.
    QString path;
    // Below zero when unknown (a document that does not say).
    qint64 size = 0;
    // ISO 8601, UTC ("2026-12-08T10:52:00Z").
    QString modified;
    // The documents' fields are only meaningful without an error; with one, they are zero/empty.
    QString format; // "Access 2000" and the like; empty when unknown
    bool encrypted = false;
    qint64 tables = 0;
    // Below zero when a table's records could not be counted.
    qint64 records = 0;
    qint64 queries = 0;
    qint64 relationships = 0;
    QList<LinkedTableEntry> linkedTables;
    qint64 forms = 0;
    qint64 reports = 0;
    qint64 macros = 0;
    qint64 modules = 0;
    qint64 codeLines = 0;
    // Same design, same hash, whatever the data; empty with an error.
    QString schemaHash;
    // What could not be read of a database that was documented all the same (one line each).
    QStringList unread;
    // The documents written for it, relative to the output folder, '/' between folders.
    QStringList documents;
    std::optional<DatabaseError> error;
};

// A linked table whose target is another file: resolved against the tree where it can be.
struct Link
{
    // Relative path of the database that holds the linked tables.
    QString from;
    // Relative path of the file it points to, when that file is in the tree; nothing otherwise.
    std::optional<QString> to;
    // The target as the linking database writes it.
    QString target;
    // The linked tables' names, in the linking database's order.
    QStringList tables;
};

struct DesignGroup
{
    QString schemaHash;
    // Relative paths, two or more, in path order.
    QStringList paths;
};

struct Totals
{
    qint64 size = 0;
    qint64 tables = 0;
    // Below zero when a table's records could not be counted.
    qint64 records = 0;
    qint64 queries = 0;
    qint64 relationships = 0;
    qint64 linkedTables = 0;
    qint64 forms = 0;
    qint64 reports = 0;
    qint64 macros = 0;
    qint64 modules = 0;
    qint64 codeLines = 0;
};

struct Summary
{
    qint64 databases = 0;
    qint64 documented = 0;
    qint64 errors = 0;
    // (format name, count), by name; databases with an error are not counted here.
    QList<QPair<QString, qint64>> byFormat;
    // (error kind name, count), by name.
    QList<QPair<QString, qint64>> byError;
    Totals totals;
    // Designs shared by two or more databases, largest group first, then by first path.
    QList<DesignGroup> identicalDesigns;
};

struct Index
{
    // "Strudex 1.0.0".
    QString generator;
    // The folder that was searched, as it was given.
    QString root;
    // By path.
    QList<DatabaseEntry> databases;
    // By from, then target.
    QList<Link> links;
    Summary summary;
};

} // namespace Estate
