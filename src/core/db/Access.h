#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

class Dialogs;

namespace Ado {
class Connection;
}

// Database work: the connection text, the list of user tables and the field metadata.
namespace Access {

// What one connection is opened with. The desktop program reads them from its selection
// window's two boxes at the moment it connects, so those boxes stay their one copy; the
// command-line exporter takes its arguments.
struct ConnectionParameters
{
    QString path;
    QString password;
};

// The engine's connection text for the database: the ACE provider when the path's last five
// characters are "accdb" in any case, Jet otherwise.
QString BuildConnectionString(const ConnectionParameters &database);
QString ConnectionStringFor(const QString &path, const QString &password);

// What NonSystemTables does with a catalogue that could be read only in part: report it, and
// still list the tables that could be read; or only list them, when the caller only wants to know
// whether the database can be read and the list that follows says the rest.
enum class PartialCatalogue { Report, ListOnly };

// The names of the database's user tables, in the engine's order; nothing when no file of that
// name exists (without a message) or when the database cannot be read (after one report). Each
// call opens and closes its own connection.
std::optional<QStringList> NonSystemTables(Dialogs &dialogs, const ConnectionParameters &database,
                                           PartialCatalogue partial = PartialCatalogue::Report);

// The report's name for an engine type code; the code in decimal when it has none.
QString GetFieldTypeName(qint32 code);

// The field's description from the catalogue bound to the connection; empty after a failure,
// which is reported, and null when the column has no description.
QVariant GetFieldDesc_ADO(Dialogs &dialogs, const QString &tableName, const QString &fieldName,
                          Ado::Connection &connection);

} // namespace Access
