#pragma once

#include "core/structure/Diff.h"
#include "core/structure/Structure.h"

#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The exporter's structure documents beside (or instead of) the report: which formats were asked
// for, and the files they go to.
namespace StructureOutput {

enum class Format {
    Text,
    Json,
    Markdown,
    Html,
    // The application's code as a folder of files, for version control.
    Source,
    // Migration DDL for the server the document's migration notes were worked out for.
    Sql,
};

// "text", "json", "markdown" (or "md"), "html", "source", "sql", separated by commas, each at most
// once.
// Nothing, with the reason in problem, for anything else.
std::optional<QList<Format>> parseFormats(const QString &value, QString &problem);

// The format's name as parseFormats takes it ("markdown", not "md").
QString formatName(Format format);

// "<folder>/<database name>_Structure.<json|md|html|sql>" (the report's own name for text), and the
// folder "<folder>/<database name>_Source" for the source.
QString fileName(Format format, const QString &folder, const QString &databasePath);

// Writes the document in one format, in pieces as it is made, replacing an earlier file of that
// name only when the new one is complete. Nothing on success; otherwise what went wrong, naming the
// file.
std::optional<QString> write(const Structure::Document &document, Format format, const QString &path);

// Writes the document in one format (not the source folder) to a device that is already open,
// standard output for one; false when it could not all be written.
bool writeTo(const Structure::Document &document, Format format, QIODevice &device);

// Writes the document in each format to its file name in the folder, all formats side by side (the
// document is only read; each writer holds a piece of its document at a time). What went wrong, per
// format that failed, in the formats' order.
QStringList writeAll(const Structure::Document &document, const QList<Format> &formats, const QString &folder,
                     const QString &databasePath);

// One line per note of the document, naming what could not be read and where: a table whose
// records were not counted or whose definition was not read, a field, index, relationship, query,
// linked table, or the database itself. Empty when everything was read whole. Each line is one
// line, printed as it is: names and notes in their Structure::printable form.
QStringList unreadParts(const Structure::Document &document);

// The diff of two schemas in "text", "markdown" or "json"; nothing for another format.
std::optional<QByteArray> diffOutput(const Structure::Document &before, const Structure::Document &after,
                                     const QString &format, const Structure::DiffOptions &options, bool &different);

} // namespace StructureOutput
