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

// Every Access file below the root, ordered by relative path. Symbolic links are followed only
// where they lead to a place inside the root, and a folder reached twice is searched once, so that
// a link cannot take the search outside the tree or round in a circle. Folders that cannot be read
// are named in problems and passed over.
QList<FoundFile> findDatabases(const QString &root, QStringList &problems);

} // namespace Estate
