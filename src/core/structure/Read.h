#pragma once

#include "core/structure/Structure.h"

#include <QStringList>

namespace Ado {
class Connection;
}

namespace Structure {

// The whole structure of the database open on the connection: the named tables (every local
// table when none is named), relationships, saved queries and linked tables, read by the engine in
// one streamed answer. Tables come in the order of the connection's table list. Fails like any
// engine operation (a Failure) when the database cannot be read at all; a part that cannot be
// read comes as a note.
Document read(Ado::Connection &connection, const QStringList &tables);

} // namespace Structure
