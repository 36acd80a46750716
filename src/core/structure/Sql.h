#pragma once

#include "core/structure/Structure.h"

#include <QIODevice>
#include <QList>
#include <QString>

#include <optional>

namespace Structure {

// The servers the migration DDL is written for. MySql serves MariaDB as well: the DDL keeps to what
// both accept (MySQL 8.0.16 and MariaDB 10.8 or later).
enum class SqlDialect {
    PostgreSql,
    Sqlite,
    MySql,
};

// The dialect of its name: "postgresql", "sqlite" or "mysql", exactly these; nothing for any other.
std::optional<SqlDialect> sqlDialect(const QString &name);
// The name sqlDialect() takes.
QString sqlDialectName(SqlDialect dialect);

// Everything the DDL for this dialect does not carry over exactly, one note each, in the
// document's order; empty when all of it is. The notes come from the same decisions as the DDL, so they never
// disagree with it.
QList<MigrationNote> migrationNotes(const Document &document, SqlDialect dialect);

// The database's tables as DDL that loads into an empty database of the dialect: a header of
// comments (who wrote it, the source, the migration notes, the names that had to be shortened),
// the tables with their columns, keys, defaults, checks and descriptions, then the indexes, then
// the foreign keys (SQLite's are inside its tables). Every name and text from the database is
// quoted, escaped or kept to a comment line, so none can end a statement or open a comment.
QString toSql(const Document &document, SqlDialect dialect);
// The same text written to the device as UTF-8. False when the device failed (it says why).
bool writeSql(const Document &document, SqlDialect dialect, QIODevice &device);

} // namespace Structure
