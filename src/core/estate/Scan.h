#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Finding the Access files of a folder tree.
namespace Estate {

struct FoundFile
{
    // The file as it can be opened.
    QString path;
    // Relative to the root, '/' between folders.
    QString relative;
};

// Whether a file name is an Access database's: .mdb, .accdb, .accda, .mda, .mde, .accde, in any
// letter case.
bool isAccessFileName(const QString &name);

// Every Access file below the root (which may itself be a link), ordered by relative path. Links
// below it are not followed: none can take the search outside the tree or round in a circle, and
// each file inside is found once, by its own path. Folders that cannot be read are named in
// problems and passed over.
QList<FoundFile> findDatabases(const QString &root, QStringList &problems);

} // namespace Estate
