#pragma once

#include <QString>

namespace Ado {

struct ConnectionTarget
{
    QString provider;
    QString dataSource;
    QString password;
};

// Reads a connection text of the form
//   Provider=<provider>;Data Source=<path>;JET OLEDB:Database Password=<password>
// by its known keys, so that a path or a password holding ";" or "=" comes through whole: the
// path runs up to the password clause, the password to the end of the text. Keys are matched
// without regard to case. An unknown provider fails with 3706, any other shape with 3001.
ConnectionTarget ParseConnectionText(const QString &text);

} // namespace Ado
