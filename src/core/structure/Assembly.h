#pragma once

#include "core/structure/Structure.h"
#include "protocol/StructureProtocol.h"

#include <QStringList>

#include <vector>

namespace Structure {

// The document from the worker's structure records. Tables come in the order of `tableOrder` (the
// table list: by name, without regard to case); any the list does not name follow in the order
// they came. Field and table properties are also read into their own places (description,
// required, default value, lookup, ...). Passwords in ODBC connection texts are masked.
Document assemble(const QString &databasePath, const std::vector<EngineProtocol::StructureRecord> &records,
                  const QStringList &tableOrder);

// "Access 97", "Access 2000", "Access 2002-2003", "Access 2007", "Access 2010", "Access 2013",
// "Access 2016/2019", from the header's version byte and the AccessVersion property.
QString formatName(int version, const QString &accessVersion);

} // namespace Structure
