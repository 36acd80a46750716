#include "core/estate/IndexBuilder.h"

#include "core/estate/IndexPage.h"
#include "core/report/SaveFile.h"
#include "core/structure/JsonWriter.h"
#include "core/structure/Structure.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>

#include <algorithm>
#include <thread>
#include <vector>

namespace Estate {

namespace {

const QString kJsonEnd = QStringLiteral("_Structure.json");

qint64 number(const QJsonValue &value)
{
    return value.isDouble() ? value.toInteger() : 0;
}

qint64 count(const QJsonValue &value)
{
    return value.isArray() ? value.toArray().size() : 0;
}

// The database's file name as its document writes it, on any system's separators.
QString fileNameOf(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

// What could not be read, as the document's notes say it, one line each.
QStringList unreadOf(const QJsonObject &document)
{
    QStringList lines;
    const auto add = [&](const QString &where, const QJsonValue &note) {
        if (note.isString() && !note.toString().isEmpty())
            lines << (where.isEmpty() ? note.toString() : where + QStringLiteral(": ") + note.toString());
    };
    for (const QJsonValue &value : document.value(QStringLiteral("tables")).toArray()) {
        const QJsonObject table = value.toObject();
        const QString name = table.value(QStringLiteral("name")).toString();
        add(QStringLiteral("Table ") + name, table.value(QStringLiteral("note")));
        for (const QJsonValue &field : table.value(QStringLiteral("fields")).toArray())
            add(QStringLiteral("Field %1.%2").arg(name, field.toObject().value(QStringLiteral("name")).toString()),
                field.toObject().value(QStringLiteral("note")));
        for (const QJsonValue &index : table.value(QStringLiteral("indexes")).toArray())
            add(QStringLiteral("Index %1.%2").arg(name, index.toObject().value(QStringLiteral("name")).toString()),
                index.toObject().value(QStringLiteral("note")));
    }
    const auto each = [&](const QJsonValue &list, const QString &what) {
        for (const QJsonValue &value : list.toArray())
            add(what + value.toObject().value(QStringLiteral("name")).toString(),
                value.toObject().value(QStringLiteral("note")));
    };
    each(document.value(QStringLiteral("relationships")), QStringLiteral("Relationship "));
    each(document.value(QStringLiteral("queries")), QStringLiteral("Query "));
    each(document.value(QStringLiteral("linkedTables")), QStringLiteral("Linked table "));
    const QJsonObject application = document.value(QStringLiteral("application")).toObject();
    each(application.value(QStringLiteral("macros")), QStringLiteral("Macro "));
    each(application.value(QStringLiteral("modules")), QStringLiteral("Module "));
    for (const QJsonValue &note : document.value(QStringLiteral("notes")).toArray())
        add(QString(), note);
    return lines;
}

// Whether a linked table's source is a file rather than a connection to a server.
bool isFileSource(const QString &source)
{
    return !source.isEmpty() && !source.contains(QLatin1Char(';')) && !source.contains(QLatin1Char('=')) &&
           !source.startsWith(QStringLiteral("ODBC"), Qt::CaseInsensitive);
}

QStringList components(const QString &path)
{
    QString normal = path;
    normal.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return normal.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// The database of the tree a link's target names: the one its path leads to from the linking
// database's folder, or else the only one whose trailing folders and name are the target's (a
// Windows path names the shared drive's folders, not this tree's).
std::optional<QString> resolve(const QString &from, const QString &target, const QHash<QString, QString> &byKey,
                               const QList<QStringList> &paths)
{
    const QStringList wanted = components(target);
    if (wanted.isEmpty())
        return std::nullopt;
    const bool absolute = target.startsWith(QLatin1Char('/')) || target.startsWith(QLatin1Char('\\')) ||
                          (target.size() > 1 && target[1] == QLatin1Char(':'));
    if (!absolute) {
        const QString folder =
            from.contains(QLatin1Char('/')) ? from.left(from.lastIndexOf(QLatin1Char('/')) + 1) : QString();
        const QString joined = QDir::cleanPath(folder + wanted.join(QLatin1Char('/')));
        if (const auto found = byKey.constFind(joined.toCaseFolded()); found != byKey.cend())
            return *found;
    }
    QList<int> candidates;
    for (int i = 0; i < paths.size(); ++i)
        candidates << i;
    for (qsizetype depth = 1; depth <= wanted.size() && candidates.size() > 1 - (depth == 1); ++depth) {
        QList<int> still;
        for (const int i : std::as_const(candidates)) {
            const QStringList &path = paths[i];
            if (path.size() >= depth &&
                path[path.size() - depth].compare(wanted[wanted.size() - depth], Qt::CaseInsensitive) == 0)
                still << i;
        }
        if (still.size() == 1)
            return paths[still.constFirst()].join(QLatin1Char('/'));
        if (still.isEmpty())
            break;
        candidates = still;
    }
    return std::nullopt;
}

QList<Link> linksOf(const QList<DatabaseEntry> &databases)
{
    QHash<QString, QString> byKey;
    QList<QStringList> paths;
    for (const DatabaseEntry &entry : databases) {
        byKey.insert(entry.path.toCaseFolded(), entry.path);
        paths << entry.path.split(QLatin1Char('/'));
    }
    QList<Link> links;
    for (const DatabaseEntry &entry : databases) {
        QMap<QString, QStringList> byTarget;
        QStringList order;
        for (const LinkedTableEntry &table : entry.linkedTables) {
            if (!isFileSource(table.source))
                continue;
            if (!byTarget.contains(table.source))
                order << table.source;
            byTarget[table.source] << table.name;
        }
        std::sort(order.begin(), order.end());
        for (const QString &target : order)
            links.append({entry.path, resolve(entry.path, target, byKey, paths), target, byTarget.value(target)});
    }
    return links;
}

Summary summaryOf(const QList<DatabaseEntry> &databases)
{
    Summary summary;
    QMap<QString, qint64> byFormat;
    QMap<QString, qint64> byError;
    QHash<QString, QStringList> byDesign;
    Totals &totals = summary.totals;
    for (const DatabaseEntry &entry : databases) {
        ++summary.databases;
        totals.size += std::max<qint64>(0, entry.size);
        if (entry.error) {
            ++summary.errors;
            ++byError[errorKindName(entry.error->kind)];
            continue;
        }
        ++summary.documented;
        ++byFormat[entry.format];
        totals.tables += entry.tables;
        totals.records += std::max<qint64>(0, entry.records);
        totals.queries += entry.queries;
        totals.relationships += entry.relationships;
        totals.linkedTables += entry.linkedTables.size();
        totals.forms += entry.forms;
        totals.reports += entry.reports;
        totals.macros += entry.macros;
        totals.modules += entry.modules;
        totals.codeLines += entry.codeLines;
        if (!entry.schemaHash.isEmpty())
            byDesign[entry.schemaHash] << entry.path;
    }
    for (auto it = byFormat.cbegin(); it != byFormat.cend(); ++it)
        summary.byFormat.append({it.key(), it.value()});
    for (auto it = byError.cbegin(); it != byError.cend(); ++it)
        summary.byError.append({it.key(), it.value()});
    for (auto it = byDesign.cbegin(); it != byDesign.cend(); ++it) {
        if (it.value().size() > 1)
            summary.identicalDesigns.append({it.key(), it.value()});
    }
    std::sort(summary.identicalDesigns.begin(), summary.identicalDesigns.end(),
              [](const DesignGroup &a, const DesignGroup &b) {
                  return a.paths.size() != b.paths.size() ? a.paths.size() > b.paths.size()
                                                          : a.paths.constFirst() < b.paths.constFirst();
              });
    return summary;
}

// The folder searched, as the documents name it: each names its database's path, which ends
// with the relative path. The one most of them agree on.
QString rootOf(const QList<QPair<QString, QString>> &written)
{
    QHash<QString, int> votes;
    for (const auto &[path, relative] : written) {
        QString normal = path;
        normal.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (normal.endsWith(QLatin1Char('/') + relative))
            ++votes[path.left(path.size() - relative.size() - 1)];
    }
    QString best;
    int most = 0;
    for (auto it = votes.cbegin(); it != votes.cend(); ++it) {
        if (it.value() > most || (it.value() == most && it.key() < best)) {
            best = it.key();
            most = it.value();
        }
    }
    return best;
}

// One JSON object, its members in the order they are added, each after the separator.
class Object
{
public:
    Object(const char *open, const char *separator) : m_separator(separator) { m_bytes += open; }

    Object &raw(const char *name, const QByteArray &json)
    {
        if (!m_empty)
            m_bytes += m_separator;
        m_empty = false;
        m_bytes += '"';
        m_bytes += name;
        m_bytes += "\": ";
        m_bytes += json;
        return *this;
    }
    Object &text(const char *name, const QString &value) { return raw(name, Structure::jsonString(value)); }
    // Null for nothing.
    Object &number(const char *name, std::optional<qint64> value)
    {
        return raw(name, value ? QByteArray::number(*value) : QByteArrayLiteral("null"));
    }
    QByteArray close(const char *end) { return m_bytes + end; }

private:
    QByteArray m_bytes;
    const char *m_separator;
    bool m_empty = true;
};

QByteArray texts(const QStringList &values)
{
    QByteArray bytes = "[";
    for (qsizetype i = 0; i < values.size(); ++i)
        bytes += (i ? ", " : "") + Structure::jsonString(values[i]);
    return bytes + ']';
}

// Items a line each at the indent, the closing bracket two spaces back.
QByteArray lines(const QList<QByteArray> &items, const QByteArray &indent)
{
    if (items.isEmpty())
        return "[]";
    QByteArray bytes = "[";
    for (const QByteArray &item : items)
        bytes += (bytes.size() > 1 ? ",\n" : "\n") + indent + item;
    return bytes + '\n' + indent.chopped(2) + ']';
}

QByteArray entryJson(const DatabaseEntry &entry)
{
    // A database that could not be read has none of the figures of one that was.
    const auto figure = [&](qint64 value) {
        return entry.error || value < 0 ? std::nullopt : std::optional<qint64>(value);
    };
    QList<QByteArray> linked;
    for (const LinkedTableEntry &table : entry.linkedTables)
        linked << Object("{", ", ")
                      .text("name", table.name)
                      .text("target", table.target)
                      .text("source", table.source)
                      .close("}");
    const QByteArray optionalText = "null";
    Object object("{", ", ");
    object.text("path", entry.path)
        .number("size", entry.size < 0 ? std::nullopt : std::optional<qint64>(entry.size))
        .raw("modified", entry.modified.isEmpty() ? optionalText : Structure::jsonString(entry.modified))
        .raw("format", entry.error || entry.format.isEmpty() ? optionalText : Structure::jsonString(entry.format))
        .raw("encrypted", entry.error       ? "null"
                          : entry.encrypted ? "true"
                                            : "false")
        .number("tables", figure(entry.tables))
        .number("records", figure(entry.records))
        .number("queries", figure(entry.queries))
        .number("relationships", figure(entry.relationships))
        .raw("linkedTables", '[' + linked.join(", ") + ']')
        .number("forms", figure(entry.forms))
        .number("reports", figure(entry.reports))
        .number("macros", figure(entry.macros))
        .number("modules", figure(entry.modules))
        .number("codeLines", figure(entry.codeLines))
        .raw("schemaHash", entry.schemaHash.isEmpty() ? optionalText : Structure::jsonString(entry.schemaHash))
        .raw("unread", texts(entry.unread))
        .raw("documents", texts(entry.documents));
    object.raw("error", entry.error ? Object("{", ", ")
                                          .text("kind", errorKindName(entry.error->kind))
                                          .text("message", entry.error->message)
                                          .close("}")
                                    : optionalText);
    return object.close("}");
}

QByteArray countsJson(const QList<QPair<QString, qint64>> &counts)
{
    QByteArray bytes = "{";
    for (qsizetype i = 0; i < counts.size(); ++i)
        bytes += (i ? ", " : "") + Structure::jsonString(counts[i].first) + ": " + QByteArray::number(counts[i].second);
    return bytes + '}';
}

QByteArray summaryJson(const Summary &summary)
{
    const Totals &t = summary.totals;
    QList<QByteArray> groups;
    for (const DesignGroup &group : summary.identicalDesigns)
        groups << Object("{", ", ").text("schemaHash", group.schemaHash).raw("paths", texts(group.paths)).close("}");
    return Object("{\n    ", ",\n    ")
        .number("databases", summary.databases)
        .number("documented", summary.documented)
        .number("errors", summary.errors)
        .raw("byFormat", countsJson(summary.byFormat))
        .raw("byError", countsJson(summary.byError))
        .raw("totals", countsJson({{QStringLiteral("size"), t.size},
                                   {QStringLiteral("tables"), t.tables},
                                   {QStringLiteral("records"), t.records},
                                   {QStringLiteral("queries"), t.queries},
                                   {QStringLiteral("relationships"), t.relationships},
                                   {QStringLiteral("linkedTables"), t.linkedTables},
                                   {QStringLiteral("forms"), t.forms},
                                   {QStringLiteral("reports"), t.reports},
                                   {QStringLiteral("macros"), t.macros},
                                   {QStringLiteral("modules"), t.modules},
                                   {QStringLiteral("codeLines"), t.codeLines}}))
        .raw("identicalDesigns", lines(groups, "      "))
        .close("\n  }");
}

} // namespace

DatabaseEntry entryFromDocument(const QJsonObject &document, const QString &relative, const QStringList &documents)
{
    DatabaseEntry entry;
    entry.path = relative;
    entry.documents = documents;
    const QJsonObject database = document.value(QStringLiteral("database")).toObject();
    const QJsonObject file = database.value(QStringLiteral("file")).toObject();
    entry.size = file.value(QStringLiteral("size")).isDouble() ? file.value(QStringLiteral("size")).toInteger() : -1;
    entry.modified = file.value(QStringLiteral("modified")).toString();
    if (document.value(QStringLiteral("error")).isObject()) {
        const QJsonObject error = document.value(QStringLiteral("error")).toObject();
        entry.error = DatabaseError{
            errorKindFromName(error.value(QStringLiteral("kind")).toString()).value_or(ErrorKind::Damaged),
            error.value(QStringLiteral("message")).toString()};
        return entry;
    }
    if (!document.value(QStringLiteral("tables")).isArray() || !database.value(QStringLiteral("format")).isString()) {
        entry.error = DatabaseError{ErrorKind::Damaged, QStringLiteral("Its JSON document could not be read.")};
        return entry;
    }
    entry.format = database.value(QStringLiteral("format")).toString();
    entry.encrypted = database.value(QStringLiteral("encrypted")).toBool();
    const QJsonArray tables = document.value(QStringLiteral("tables")).toArray();
    entry.tables = tables.size();
    // A table whose records could not be counted leaves the database's count unknown, not short.
    for (const QJsonValue &table : tables) {
        const QJsonValue records = table.toObject().value(QStringLiteral("records"));
        if (!records.isDouble()) {
            entry.records = -1;
            break;
        }
        entry.records += records.toInteger();
    }
    entry.queries = count(document.value(QStringLiteral("queries")));
    entry.relationships = count(document.value(QStringLiteral("relationships")));
    for (const QJsonValue &value : document.value(QStringLiteral("linkedTables")).toArray()) {
        const QJsonObject table = value.toObject();
        entry.linkedTables.append({table.value(QStringLiteral("name")).toString(),
                                   table.value(QStringLiteral("target")).toString(),
                                   table.value(QStringLiteral("source")).toString()});
    }
    const QJsonObject application = document.value(QStringLiteral("application")).toObject();
    entry.forms = count(application.value(QStringLiteral("forms")));
    entry.reports = count(application.value(QStringLiteral("reports")));
    entry.macros = count(application.value(QStringLiteral("macros")));
    const QJsonArray modules = application.value(QStringLiteral("modules")).toArray();
    entry.modules = modules.size();
    for (const QJsonValue &module : modules)
        entry.codeLines += number(module.toObject().value(QStringLiteral("lines")));
    entry.schemaHash = database.value(QStringLiteral("schemaHash")).toString();
    entry.unread = unreadOf(document);
    return entry;
}

QStringList documentsBeside(const QString &jsonPath, const QString &outputFolder)
{
    const QString stem = jsonPath.chopped(kJsonEnd.size());
    const QDir out(outputFolder);
    QStringList documents{out.relativeFilePath(jsonPath)};
    for (const QString &end :
         {QStringLiteral("_Structure.txt"), QStringLiteral("_Structure.md"), QStringLiteral("_Structure.html"),
          QStringLiteral("_Structure.sql"), QStringLiteral("_Source")}) {
        if (QFileInfo::exists(stem + end))
            documents << out.relativeFilePath(stem + end);
    }
    return documents;
}

QList<DocumentFile> findDocuments(const QString &outputFolder)
{
    QList<DocumentFile> found;
    QDirIterator files(outputFolder, {QStringLiteral("*") + kJsonEnd}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        found.append({files.next(), QString()});
    std::sort(found.begin(), found.end(),
              [](const DocumentFile &a, const DocumentFile &b) { return a.jsonPath < b.jsonPath; });
    return found;
}

namespace {

// One document read: its entry, and the database's path as it names it. Nothing for a JSON file
// found in the folder that is not this program's document of a database.
struct Read
{
    DatabaseEntry entry;
    QString namedPath;
};

std::optional<Read> readDocument(const DocumentFile &document, const QString &outputFolder)
{
    const QDir out(outputFolder);
    QFile file(document.jsonPath);
    QJsonObject object;
    if (file.open(QIODevice::ReadOnly))
        object = QJsonDocument::fromJson(file.readAll()).object();
    const QString generator = object.value(QStringLiteral("generator")).toString();
    const QString path = object.value(QStringLiteral("database")).toObject().value(QStringLiteral("path")).toString();
    QString relative = document.relative;
    if (relative.isEmpty()) {
        // Found in the folder: only this program's documents count (a source folder's own
        // index.json is not one), under their folder and the database's file name.
        if (!generator.startsWith(QStringLiteral("Strudex ")) || path.isEmpty())
            return std::nullopt;
        const QString folder = out.relativeFilePath(QFileInfo(document.jsonPath).path());
        relative = folder == QStringLiteral(".") ? fileNameOf(path) : folder + QLatin1Char('/') + fileNameOf(path);
    }
    Read read;
    if (object.isEmpty()) {
        read.entry.path = relative;
        read.entry.size = -1;
        read.entry.error = DatabaseError{ErrorKind::Damaged, QStringLiteral("Its JSON document could not be read.")};
    } else {
        read.entry = entryFromDocument(object, relative, documentsBeside(document.jsonPath, outputFolder));
        read.namedPath = path;
    }
    // Of a database that could not be read there is only the document that says why.
    if (read.entry.error)
        read.entry.documents = QStringList{out.relativeFilePath(document.jsonPath)};
    return read;
}

} // namespace

Index buildIndex(const QList<DocumentFile> &documents, const QString &outputFolder, const QString &root)
{
    Index index;
    index.generator = Structure::generatorName();
    // Thousands of documents are read side by side, a share to each core.
    std::vector<std::optional<Read>> reads(std::size_t(documents.size()));
    const qsizetype threads =
        std::clamp<qsizetype>(qsizetype(std::thread::hardware_concurrency()), 1, documents.size() / 64 + 1);
    std::vector<std::thread> others;
    const auto share = [&](qsizetype from) {
        for (qsizetype i = from; i < documents.size(); i += threads)
            reads[std::size_t(i)] = readDocument(documents[i], outputFolder);
    };
    for (qsizetype t = 1; t < threads; ++t)
        others.emplace_back(share, t);
    share(0);
    for (std::thread &other : others)
        other.join();
    QList<QPair<QString, QString>> written;
    for (std::optional<Read> &read : reads) {
        if (!read)
            continue;
        if (!read->namedPath.isEmpty())
            written.append({read->namedPath, read->entry.path});
        index.databases.append(std::move(read->entry));
    }
    std::sort(index.databases.begin(), index.databases.end(),
              [](const DatabaseEntry &a, const DatabaseEntry &b) { return a.path < b.path; });
    index.root = root.isEmpty() ? rootOf(written) : root;
    index.links = linksOf(index.databases);
    index.summary = summaryOf(index.databases);
    return index;
}

QByteArray indexJson(const Index &index)
{
    QList<QByteArray> databases;
    for (const DatabaseEntry &entry : index.databases)
        databases << entryJson(entry);
    QList<QByteArray> links;
    for (const Link &link : index.links)
        links << Object("{", ", ")
                     .text("from", link.from)
                     .raw("to", link.to ? Structure::jsonString(*link.to) : QByteArrayLiteral("null"))
                     .text("target", link.target)
                     .raw("tables", texts(link.tables))
                     .close("}");
    return Object("{\n  ", ",\n  ")
        .text("generator", index.generator)
        .text("root", index.root)
        .raw("databases", lines(databases, "    "))
        .raw("links", lines(links, "    "))
        .raw("summary", summaryJson(index.summary))
        .close("\n}\n");
}

QStringList writeIndex(const Index &index, const QString &outputFolder)
{
    QStringList problems;
    const auto save = [&](const QString &name, const QByteArray &bytes) {
        const QString path = QDir(outputFolder).filePath(name);
        SaveFile file(path);
        if (!(file.open() && file.write(bytes) == bytes.size() && file.commit()))
            problems << QStringLiteral("'%1' could not be written: %2.")
                            .arg(QDir::toNativeSeparators(path),
                                 file.refusal().isEmpty() ? file.errorString() : file.refusal());
    };
    save(QStringLiteral("index.json"), indexJson(index));
    QByteArray page;
    QBuffer buffer(&page);
    buffer.open(QIODevice::WriteOnly);
    if (writeIndexPage(index, buffer))
        save(QStringLiteral("index.html"), page);
    else
        problems << QStringLiteral("The index page could not be made.");
    return problems;
}

} // namespace Estate
