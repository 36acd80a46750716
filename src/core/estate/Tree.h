#pragma once

#include "core/estate/Documenting.h"
#include "core/estate/Pool.h"
#include "core/estate/Scan.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Documenting a whole tree: the files found, the jobs made of them, the pool that does them and the
// index made of what they wrote.
namespace Estate {

struct TreeRequest
{
    QString root;
    QString output;
    // Json among them.
    QList<StructureOutput::Format> formats;
    std::optional<Structure::SqlDialect> dialect;
    bool force = false;
    // By path relative to the root, or absolute; the one for every database under the empty key.
    QHash<QString, QString> passwords;
    // The worker processes.
    PoolSettings pool;
};

// Passwords from a file of "path<TAB>password" lines, or of one line that is the password of
// every database. Nothing, with the reason in problem, when the file cannot be read or has a line
// of neither kind.
std::optional<QHash<QString, QString>> readPasswords(const QString &path, QString &problem);

// A job per file. The documents are named after the database, or after its whole file name where
// another database of the same folder has the same name but for the extension (a.mdb beside
// a.accdb); no two jobs' documents have one name, in any letter case.
QList<Job> planJobs(const TreeRequest &request, const QList<FoundFile> &found);

struct TreeResult
{
    QList<Job> jobs;
    QList<Outcome> outcomes;
    Index index;
    // Folders that could not be searched, the index's files that could not be written.
    QStringList problems;
    // Every file documented whole, and the index written.
    bool whole = false;
};

// Searches the tree, documents every file and writes the index.
TreeResult documentTree(const TreeRequest &request, PoolProgress &progress);

// Writes the index of the documents below the output folder.
TreeResult indexDocuments(const QString &output);

} // namespace Estate
