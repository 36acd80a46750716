#pragma once

#include <QString>

class Dialogs;
class QTreeWidget;

namespace Access {

// Fills the export window's table list with the database's user tables, every row ticked and the
// first one selected, replacing what the list held. When the database cannot be listed the list
// keeps its rows. The password is not needed here: the connection is built from the parameters
// of the moment.
void AddTablesToAccessListbox(Dialogs &dialogs, QTreeWidget &listView, const QString &path, const QString &password);

} // namespace Access
