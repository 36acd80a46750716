#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>

class Dialogs;

namespace Ado {
class Connection;
}

// Database work: the connection text, the list of user tables and the field metadata.
namespace Access {

// Where the connection parameters come from at the moment a connection is built: the desktop
// program reads its database and password boxes, the command-line exporter its arguments.
void SetConnectionParameters(std::function<QString()> path, std::function<QString()> password);

// The database path of this moment (the path box, or the exporter's argument).
QString CurrentDatabasePath();

// The engine's connection text for the database path and password of this moment: the ACE
// provider when the path's last five characters are "accdb" in any case, Jet otherwise.
QString BuildConnectionString();
QString ConnectionStringFor(const QString &path, const QString &password);

// The names of the database's user tables, in the engine's order; nothing when no file of that
// name exists (without a message) or when the database cannot be read (after one report).
std::optional<QStringList> NonSystemTables(Dialogs &dialogs, const QString &path);

// The report's name for an engine type code; the code in decimal when it has none.
QString GetFieldTypeName(qint32 code);

// The field's description from the catalogue bound to the connection; empty after a failure,
// which is reported, and null when the column has no description.
QVariant GetFieldDesc_ADO(Dialogs &dialogs, const QString &tableName, const QString &fieldName,
                          Ado::Connection &connection);

} // namespace Access
