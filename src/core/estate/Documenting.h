#pragma once

#include "core/estate/Index.h"
#include "core/report/StructureOutput.h"
#include "core/structure/Sql.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

// Documenting one database of an estate, in a process of its own: the work each of the pool's
// workers does, file after file.
namespace Estate {

struct Job
{
    // The database as it can be opened.
    QString path;
    // Relative to the root searched, '/' between folders.
    QString relative;
    // Where its documents go (made when missing).
    QString folder;
    // The path the documents are named after: the database's own, or one that keeps the
    // extension when two databases of a folder share a name.
    QString namedAs;
    // Json always among them: the index is made from it.
    QList<StructureOutput::Format> formats;
    QString password;
    // Worked out only when asked for.
    std::optional<Structure::SqlDialect> dialect;
    // Document it even when its documents are up to date.
    bool force = false;

    QJsonObject toJson() const;
    static std::optional<Job> fromJson(const QJsonObject &object);
};

struct Outcome
{
    enum class Status { Documented, Unchanged, Failed };
    Status status = Status::Failed;
    std::optional<DatabaseError> error;
    // What could not be read of a database documented all the same, and documents that could not
    // be written.
    QStringList unread;

    QJsonObject toJson() const;
    static std::optional<Outcome> fromJson(const QJsonObject &object);
};

// Reads the database and writes its documents, or an error document that says why it could not
// be read. The JSON document carries the file's size, modification time and content hash, and
// the hash of the design. Unless forced, a database whose JSON document says it was made from the
// same file (size, time and content) and whose documents are all there is left as it is.
Outcome documentDatabase(const Job &job);

// The JSON document of a database that could not be read: the file, as far as it is known, and
// the error. Replaces an earlier document of that name only when written whole; what went wrong
// otherwise.
std::optional<QString> writeErrorDocument(const QString &jsonPath, const QString &databasePath,
                                          const DatabaseError &error);

// What kind of error a failure to open or read the file is.
ErrorKind classifyFailure(long number, const QString &description, const QString &databasePath);

// Reads jobs from the input, one JSON object per line, and answers each with its outcome on a
// line of its own, until the input ends. The loop an estate worker process runs: its documents
// are put in place whole, but whoever runs it waits for the disk (SaveFile::syncFileSystem).
int serveJobs(std::FILE *input, std::FILE *output);

} // namespace Estate
