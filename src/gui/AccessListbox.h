#pragma once

#include <QString>

class Dialogs;
class QTreeWidget;

namespace Access {

struct ConnectionParameters;

// Fills the export window's table list with the database's user tables, every row ticked and the
// first one selected, replacing what the list held. When the database cannot be listed the list
// keeps its rows. The catalogue is read over its own connection, opened with the parameters.
void AddTablesToAccessListbox(Dialogs &dialogs, QTreeWidget &listView, const ConnectionParameters &database);

} // namespace Access
