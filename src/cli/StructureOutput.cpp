#include "cli/StructureOutput.h"

#include "core/PathUtilities.h"
#include "core/report/ReportFile.h"
#include "core/report/SaveFile.h"
#include "core/report/StructureReport.h"
#include "core/structure/Diff.h"
#include "core/structure/Html.h"
#include "core/structure/JsonWriter.h"
#include "core/structure/Markdown.h"
#include "core/structure/Printable.h"

#include <QDir>

#include <algorithm>
#include <thread>
#include <vector>

namespace StructureOutput {

std::optional<QList<Format>> parseFormats(const QString &value, QString &problem)
{
    QList<Format> formats;
    for (const QString &part : value.split(QLatin1Char(','))) {
        const QString name = part.trimmed().toLower();
        Format format;
        if (name == QStringLiteral("text") || name == QStringLiteral("txt")) {
            format = Format::Text;
        } else if (name == QStringLiteral("json")) {
            format = Format::Json;
        } else if (name == QStringLiteral("markdown") || name == QStringLiteral("md")) {
            format = Format::Markdown;
        } else if (name == QStringLiteral("html")) {
            format = Format::Html;
        } else {
            problem = QStringLiteral("unknown format '%1' (use text, json, markdown or html)").arg(part.trimmed());
            return std::nullopt;
        }
        if (formats.contains(format)) {
            problem = QStringLiteral("the format '%1' is named twice").arg(part.trimmed());
            return std::nullopt;
        }
        formats << format;
    }
    return formats;
}

QString fileName(Format format, const QString &folder, const QString &databasePath)
{
    QString name = StructureReport::ReportFileName(folder, databasePath);
    const QString extension = format == Format::Json       ? QStringLiteral("json")
                              : format == Format::Markdown ? QStringLiteral("md")
                              : format == Format::Html     ? QStringLiteral("html")
                                                           : QStringLiteral("txt");
    name.chop(3);
    return name + extension;
}

namespace {

// Each writer sends its document to the file in pieces as it makes it: a big database's documents
// are never held whole. False when a piece could not be written.
bool writeDocument(QIODevice &file, const Structure::Document &document, Format format)
{
    switch (format) {
    case Format::Json:
        return Structure::writeJson(document, file);
    case Format::Markdown:
        return Structure::writeMarkdown(document, file);
    case Format::Html:
        return Structure::writeHtml(document, file);
    case Format::Text:
        break;
    }
    return false;
}

} // namespace

std::optional<QString> write(const Structure::Document &document, Format format, const QString &path)
{
    if (format == Format::Text)
        return QStringLiteral("the text report is written by the report writer");
    // Never through a link: the save would replace the file it points to.
    SaveFile file(path);
    const bool saved = file.open() && writeDocument(file.device(), document, format) && file.commit();
    if (!saved && !file.refusal().isEmpty())
        return ReportFile::notReplacedText(path, file.refusal());
    if (!saved)
        return QStringLiteral("'%1' could not be written: %2. An earlier file of that name is left as it was.")
            .arg(QDir::toNativeSeparators(path), file.errorString());
    return std::nullopt;
}

QStringList writeAll(const Structure::Document &document, const QList<Format> &formats, const QString &folder,
                     const QString &databasePath)
{
    // Side by side: each writer holds only a piece of its document at a time, and on two cores
    // three writers finish together sooner than any fixed pairing of them.
    QStringList paths;
    for (const Format format : formats)
        paths << fileName(format, folder, databasePath);
    std::vector<std::optional<QString>> problems(std::size_t(formats.size()));
    std::vector<std::thread> others;
    for (qsizetype i = 1; i < formats.size(); ++i)
        others.emplace_back([&, i] { problems[std::size_t(i)] = write(document, formats[i], paths[i]); });
    if (!formats.isEmpty())
        problems[0] = write(document, formats[0], paths[0]);
    for (std::thread &other : others)
        other.join();
    QStringList out;
    for (const auto &problem : problems) {
        if (problem)
            out << *problem;
    }
    return out;
}

namespace {

// What could not be read of a table as a whole, or an empty text when it was read whole.
QString unreadTable(const Structure::Table &table)
{
    if (table.records && table.definitionRead)
        return table.note.isEmpty() ? QString() : QStringLiteral("Table %1: %2").arg(table.name, table.note);
    const QString what = !table.records && !table.definitionRead ? QStringLiteral("could not be read")
                                                                 : QStringLiteral("could not be read whole");
    return table.note.isEmpty() ? QStringLiteral("The table '%1' %2.").arg(table.name, what)
                                : QStringLiteral("The table '%1' %2: %3.").arg(table.name, what, table.note);
}

} // namespace

QStringList unreadParts(const Structure::Document &document)
{
    QStringList lines;
    const auto add = [&](const QString &where, const QString &note) {
        if (note.isEmpty())
            return;
        lines << Structure::printable(where.isEmpty() ? note : where + QStringLiteral(": ") + note);
    };
    for (const Structure::Table &table : document.tables) {
        add(QString(), unreadTable(table));
        // Nearly every field and index was read whole: their names are only put together for a note.
        for (const Structure::Field &field : table.fields) {
            if (!field.note.isEmpty())
                add(QStringLiteral("Field %1.%2").arg(table.name, field.name), field.note);
        }
        for (const Structure::Index &index : table.indexes) {
            if (!index.note.isEmpty())
                add(QStringLiteral("Index %1.%2").arg(table.name, index.name), index.note);
        }
    }
    for (const Structure::Relationship &relationship : document.relationships)
        add(QStringLiteral("Relationship ") + relationship.name, relationship.note);
    for (const Structure::Query &query : document.queries)
        add(QStringLiteral("Query ") + query.name, query.note);
    for (const Structure::LinkedTable &link : document.linkedTables)
        add(QStringLiteral("Linked table ") + link.name, link.note);
    for (const QString &note : document.notes)
        add(QString(), note);
    return lines;
}

std::optional<QByteArray> diffOutput(const Structure::Document &before, const Structure::Document &after,
                                     const QString &format, const Structure::DiffOptions &options, bool &different)
{
    const QList<Structure::Change> changes = Structure::diff(before, after, options);
    different = !changes.isEmpty();
    const QString name = format.toLower();
    if (name == QStringLiteral("text"))
        return Structure::diffText(changes).toUtf8();
    if (name == QStringLiteral("markdown") || name == QStringLiteral("md"))
        return Structure::diffMarkdown(changes).toUtf8();
    if (name == QStringLiteral("json"))
        return Structure::diffJson(changes);
    return std::nullopt;
}

} // namespace StructureOutput
