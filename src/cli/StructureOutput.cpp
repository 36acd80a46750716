#include "cli/StructureOutput.h"

#include "core/PathUtilities.h"
#include "core/report/StructureReport.h"
#include "core/structure/Diff.h"
#include "core/structure/Html.h"
#include "core/structure/JsonWriter.h"
#include "core/structure/Markdown.h"

#include <QDir>
#include <QSaveFile>

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

std::optional<QString> write(const Structure::Document &document, Format format, const QString &path)
{
    QByteArray bytes;
    switch (format) {
    case Format::Json:
        bytes = Structure::toJson(document);
        break;
    case Format::Markdown:
        bytes = Structure::toMarkdown(document).toUtf8();
        break;
    case Format::Html:
        bytes = Structure::toHtml(document).toUtf8();
        break;
    case Format::Text:
        return QStringLiteral("the text report is written by the report writer");
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("'%1' could not be written: %2. An earlier file of that name is left as it was.")
            .arg(QDir::toNativeSeparators(path), file.errorString());
    return std::nullopt;
}

QStringList writeAll(const Structure::Document &document, const QList<Format> &formats, const QString &folder,
                     const QString &databasePath)
{
    std::vector<std::optional<QString>> problems(std::size_t(formats.size()));
    std::vector<std::thread> writers;
    for (qsizetype i = 0; i < formats.size(); ++i) {
        const QString path = fileName(formats[i], folder, databasePath);
        const Format format = formats[i];
        auto &problem = problems[std::size_t(i)];
        writers.emplace_back([&document, format, path, &problem] { problem = write(document, format, path); });
    }
    for (std::thread &writer : writers)
        writer.join();
    QStringList out;
    for (const auto &problem : problems) {
        if (problem)
            out << *problem;
    }
    return out;
}

QStringList unreadTables(const Structure::Document &document)
{
    QStringList out;
    for (const Structure::Table &table : document.tables) {
        if (table.records && table.definitionRead)
            continue;
        const QString what = !table.records && !table.definitionRead ? QStringLiteral("could not be read")
                                                                     : QStringLiteral("could not be read whole");
        out << (table.note.isEmpty() ? QStringLiteral("The table '%1' %2.").arg(table.name, what)
                                     : QStringLiteral("The table '%1' %2: %3.").arg(table.name, what, table.note));
    }
    return out;
}

std::optional<QByteArray> diffOutput(const Structure::Document &before, const Structure::Document &after,
                                     const QString &format, bool &different)
{
    const QList<Structure::Change> changes = Structure::diff(before, after);
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
