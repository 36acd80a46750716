#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Real database servers for the SQL export's tests, each a throw-away one in a temporary folder of
// its own: reached only through a Unix socket in that folder (no TCP port, no system database),
// killed by the kernel should the test program die, and gone with its folder when its Server is.
namespace TestServers {

enum class Kind { PostgreSql, Sqlite, MariaDb };
// "PostgreSQL", "SQLite", "MariaDB": for test rows and messages.
QString kindName(Kind kind);

// A column as the server's catalogue has it.
struct Column
{
    QString name;
    // As the server names it: format_type in PostgreSQL, COLUMN_TYPE in MariaDB, the declared type
    // in SQLite.
    QString type;
    bool notNull = false;
    // PostgreSQL: an identity or serial column; MariaDB: AUTO_INCREMENT; SQLite: declared
    // AUTOINCREMENT (a bare INTEGER PRIMARY KEY, which reuses the highest number once deleted, is not).
    bool autoIncrement = false;
    // The default's expression as the server prints it ('text'::character varying, 'text', 0); none
    // for a default of NULL, which is what having none means, and none for the auto-increment's own.
    std::optional<QString> defaultValue;
    // Empty comments read as none.
    std::optional<QString> comment;
};

struct Index
{
    QString name; // empty for SQLite's primary key of an INTEGER PRIMARY KEY, which is no index
    QStringList columns;
    QList<bool> descending; // one for each column
    bool unique = false;
    bool primary = false;
};

struct ForeignKey
{
    QString name; // empty in SQLite, which keeps no name in its catalogue
    QStringList columns;
    QString referencedTable;
    QStringList referencedColumns;
    // "CASCADE", "SET NULL", "SET DEFAULT", "NO ACTION" or "RESTRICT".
    QString onUpdate;
    QString onDelete;
};

struct Table
{
    QString name;
    QList<Column> columns;
    QList<Index> indexes;
    QList<ForeignKey> foreignKeys;
    std::optional<QString> comment;

    const Column *column(const QString &name) const;
    const Index *index(const QString &name) const;
    const Index *primaryKey() const;
};

struct Catalogue
{
    // In the database's default schema, by name.
    QList<Table> tables;
    // Why the catalogue could not be read; empty when it was.
    QString error;

    const Table *table(const QString &name) const;
};

struct Load
{
    int failed = 0;     // statements that failed (and a client that ended abnormally)
    QStringList errors; // what the server or its client said about each
};

class Server
{
public:
    // A server of that kind, ready for connections; nullptr with the reason in why when it cannot
    // start (its package is missing, say). Starting PostgreSQL or MariaDB takes seconds: start each
    // once per test program.
    static std::unique_ptr<Server> start(Kind kind, QString *why);
    // Stops the server and removes its folder.
    virtual ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    Kind kind() const { return m_kind; }
    // The server's own version text, as "15.18 (Debian 15.18-0+deb12u1)", "10.11.19-MariaDB-0+deb12u1"
    // or "3.40.1".
    QString version() const { return m_version; }

    // Loads the script into a new empty database, the way its command-line client would run a file:
    // statement after statement, going on after one fails.
    virtual Load load(const QString &sql) = 0;
    // The catalogue of the database the last load made.
    virtual Catalogue catalogue() = 0;

protected:
    explicit Server(Kind kind) : m_kind(kind) {}
    QString m_version;

private:
    Kind m_kind;
};

} // namespace TestServers
