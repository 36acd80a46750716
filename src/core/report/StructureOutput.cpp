#include "core/report/StructureOutput.h"

#include "core/PathUtilities.h"
#include "core/report/ReportFile.h"
#include "core/report/SaveFile.h"
#include "core/report/StructureReport.h"
#include "core/structure/Diff.h"
#include "core/structure/Html.h"
#include "core/structure/JsonWriter.h"
#include "core/structure/Markdown.h"
#include "core/structure/Printable.h"
#include "core/structure/SourceFolder.h"
#include "core/structure/Sql.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <filesystem>
#include <string_view>
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
        } else if (name == QStringLiteral("source")) {
            format = Format::Source;
        } else if (name == QStringLiteral("sql")) {
            format = Format::Sql;
        } else {
            problem = QStringLiteral("unknown format '%1' (use text, json, markdown, html, source or sql)")
                          .arg(part.trimmed());
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

QString formatName(Format format)
{
    switch (format) {
    case Format::Text:
        return QStringLiteral("text");
    case Format::Json:
        return QStringLiteral("json");
    case Format::Markdown:
        return QStringLiteral("markdown");
    case Format::Html:
        return QStringLiteral("html");
    case Format::Source:
        return QStringLiteral("source");
    case Format::Sql:
        return QStringLiteral("sql");
    }
    return QString();
}

QString fileName(Format format, const QString &folder, const QString &databasePath)
{
    QString name = StructureReport::ReportFileName(folder, databasePath);
    if (format == Format::Source)
        return name.chopped(int(std::string_view("Structure.txt").size())) + QStringLiteral("Source");
    const QString extension = format == Format::Json       ? QStringLiteral("json")
                              : format == Format::Markdown ? QStringLiteral("md")
                              : format == Format::Html     ? QStringLiteral("html")
                              : format == Format::Sql      ? QStringLiteral("sql")
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
    case Format::Sql: {
        // For the server the notes were worked out for, which every document names.
        const auto dialect =
            document.migration ? Structure::sqlDialect(document.migration->dialect) : Structure::SqlDialect::PostgreSql;
        return Structure::writeSql(document, dialect.value_or(Structure::SqlDialect::PostgreSql), file);
    }
    case Format::Text:
    case Format::Source:
        break;
    }
    return false;
}

namespace fs = std::filesystem;

// A folder of the source, made when it is missing. Anything else that holds its name, a link
// above all, is refused: the files would go wherever it points.
std::optional<QString> ensureFolder(const QString &path)
{
    std::error_code error;
    const fs::path system = SaveFile::systemPath(path);
    const fs::file_status status = fs::symlink_status(system, error);
    if (status.type() == fs::file_type::directory)
        return std::nullopt;
    if (status.type() != fs::file_type::not_found)
        return QStringLiteral("'%1' is not a folder of its own (a link, a file or something else holds the name); "
                              "nothing was written there.")
            .arg(QDir::toNativeSeparators(path));
    if (!fs::create_directory(system, error))
        return QStringLiteral("'%1' could not be made: %2.")
            .arg(QDir::toNativeSeparators(path), QString::fromStdString(error.message()));
    return std::nullopt;
}

std::optional<QString> saveBytes(const QString &path, const QByteArray &bytes)
{
    SaveFile file(path);
    if (file.open() && file.write(bytes) == bytes.size() && file.commit())
        return std::nullopt;
    if (!file.refusal().isEmpty())
        return ReportFile::notReplacedText(path, file.refusal());
    return QStringLiteral("'%1' could not be written: %2.").arg(QDir::toNativeSeparators(path), file.errorString());
}

// The files an earlier export listed in its index.json that this one does not write: removed, so
// that the folder is the application as it is now. Only plain files in the folders the source
// uses are taken away, and nothing a name leads outside.
void removeStaleFiles(const QString &folder, const QList<Structure::SourceFile> &files)
{
    QFile index(QDir(folder).filePath(QStringLiteral("index.json")));
    std::error_code error;
    if (fs::symlink_status(SaveFile::systemPath(index.fileName()), error).type() != fs::file_type::regular ||
        !index.open(QIODevice::ReadOnly))
        return;
    QSet<QString> current;
    for (const Structure::SourceFile &file : files)
        current.insert(file.path);
    static const QStringList folders{QStringLiteral("modules"), QStringLiteral("forms"), QStringLiteral("reports"),
                                     QStringLiteral("macros"), QStringLiteral("queries")};
    const QJsonArray listed =
        QJsonDocument::fromJson(index.readAll()).object().value(QStringLiteral("files")).toArray();
    for (const QJsonValue &entry : listed) {
        const QString path = entry.toObject().value(QStringLiteral("file")).toString();
        const QStringList parts = path.split(QLatin1Char('/'));
        if (current.contains(path) || parts.size() != 2 || !folders.contains(parts[0]) ||
            Structure::safeFileName(parts[1]) != parts[1])
            continue;
        const fs::path stale = SaveFile::systemPath(QDir(folder).filePath(path));
        if (fs::symlink_status(stale, error).type() == fs::file_type::regular &&
            fs::symlink_status(stale.parent_path(), error).type() == fs::file_type::directory)
            fs::remove(stale, error);
    }
}

std::optional<QString> writeSource(const Structure::Document &document, const QString &folder)
{
    if (const auto problem = ensureFolder(folder))
        return problem;
    const QList<Structure::SourceFile> files = Structure::sourceFiles(document);
    for (const Structure::SourceFile &file : files) {
        const QString path = QDir(folder).filePath(file.path);
        if (const auto problem = ensureFolder(QFileInfo(path).path()))
            return problem;
        if (const auto problem = saveBytes(path, file.content))
            return problem;
    }
    removeStaleFiles(folder, files);
    return saveBytes(QDir(folder).filePath(QStringLiteral("index.json")), Structure::sourceIndex(document, files));
}

} // namespace

bool writeTo(const Structure::Document &document, Format format, QIODevice &device)
{
    return writeDocument(device, document, format);
}

std::optional<QString> write(const Structure::Document &document, Format format, const QString &path)
{
    if (format == Format::Text)
        return QStringLiteral("the text report is written by the report writer");
    if (format == Format::Source)
        return writeSource(document, path);
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
