#pragma once

#include "core/estate/Index.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The index of an estate, made from the databases' JSON documents alone.
namespace Estate {

// A database's JSON document in the output folder.
struct DocumentFile
{
    // The JSON document.
    QString jsonPath;
    // The database's path relative to the root searched, '/' between folders; empty to take it
    // from the document (its folder below the output folder and the database's file name), which
    // then must be this program's document of a database to count.
    QString relative;
};

// The entry of one database, from its JSON document (a structure document or an error document).
// documents: the documents written for it, relative to the output folder.
DatabaseEntry entryFromDocument(const QJsonObject &document, const QString &relative, const QStringList &documents);

// The documents written beside a database's JSON document (the JSON first, then the text report,
// Markdown, HTML, SQL and the source folder), relative to the output folder.
QStringList documentsBeside(const QString &jsonPath, const QString &outputFolder);

// The JSON documents below the output folder (the files named as they are), their databases'
// relative paths to be taken from them.
QList<DocumentFile> findDocuments(const QString &outputFolder);

// The index of the databases whose documents these are. A document that cannot be read becomes an
// entry with an error. root: the folder searched, as given; empty to take it from the documents.
Index buildIndex(const QList<DocumentFile> &documents, const QString &outputFolder, const QString &root);

// index.json: two-space indents, keys in a fixed order.
QByteArray indexJson(const Index &index);

// Writes index.json and index.html into the output folder, each replacing an earlier one only
// when whole. What could not be written, one line per file.
QStringList writeIndex(const Index &index, const QString &outputFolder);

} // namespace Estate
