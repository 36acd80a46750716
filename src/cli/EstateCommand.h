#pragma once

#include "core/report/StructureOutput.h"
#include "core/structure/Sql.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// strudex-export --recursive and --index-only: the command line's side of documenting a tree, its
// progress on the terminal and its messages.
namespace EstateCommand {

struct Request
{
    QString root;
    QString output;
    QList<StructureOutput::Format> formats;
    std::optional<Structure::SqlDialect> dialect;
    int jobs = 1;
    bool force = false;
    // By path as found (relative to the root, or as written in the password file); the one for
    // every database under the empty key.
    QHash<QString, QString> passwords;
};

// Passwords from a file of "path<TAB>password" lines, or of one line that is the password of
// every database. Paths are relative to the root searched (or absolute). Nothing, with the reason
// in problem, when the file cannot be read.
std::optional<QHash<QString, QString>> readPasswords(const QString &path, QString &problem);

// Documents the tree and writes the index. 0 when every database was documented whole, 1 when any
// gave an error or could not be read whole (the index is written all the same).
int run(const Request &request);

// Rebuilds index.json and index.html from the JSON documents below the folder; the same exit
// status as run.
int indexOnly(const QString &output);

// The hidden worker mode the pool runs: jobs on standard input, outcomes on standard output.
int serve();

} // namespace EstateCommand
