#pragma once

#include "protocol/EngineProtocol.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <string_view>
#include <vector>

// The database engine as the rest of the program sees it: a connection, a recordset and a
// catalogue, shaped after ADO and ADOX, answered by the strudex-engine worker. Every operation may
// fail with a Failure carrying the engine's number and description.
namespace Ado {

class Worker;

// A text the worker sent (UTF-8) as the program's: ASCII, the usual case, is widened, not decoded.
QString fromUtf8(std::string_view text);

inline constexpr int adStateClosed = 0;
inline constexpr int adStateOpen = 1;
inline constexpr int adSchemaTables = 20;
inline constexpr int adOpenStatic = 3;
inline constexpr int adLockOptimistic = 3;
// The failure of moving past the last row of a tables rowset whose catalogue could not be read to
// its end (Jet's number for a database file it finds damaged).
inline constexpr long adErrCatalogueIncomplete = 3049;

struct FieldInfo
{
    QString Name;
    qint32 Type = 0;
    qint64 DefinedSize = 0;
    // ADO's field attributes: adFldLong, adFldFixed, adFldUpdatable, adFldIsNullable, ...
    qint32 Attributes = 0;
};

struct ColumnTexts;

struct TableRow
{
    QString name;
    QString type;
};

class Connection
{
public:
    Connection();
    ~Connection();

    // Opens the database that the connection text names; the text is read by its known keys.
    // The database of the last connection closed is taken over instead of being opened again
    // when it is the same file with the same password, and the file has not changed since.
    void Open(const QString &connectionText);
    // The tables schema rowset: one row per table, ordered by name without regard to case. Of a
    // catalogue that could not be read to its end it holds the tables that could be read, and
    // moving past the last of them fails with adErrCatalogueIncomplete, saying why; when it holds
    // none, opening it fails so.
    std::unique_ptr<class Recordset> OpenSchema(int schema);
    int State() const;
    void Close();

    // The database file of the open connection.
    const QString &dataSource() const;
    // The worker of the open connection; fails when the connection is closed.
    Worker &worker();
    // Every table the catalogue knows, in the schema rowset's order; read once per connection.
    const std::vector<TableRow> &tables();
    // Why the catalogue could not be read to its end, and how many tables could be; empty when it
    // was read whole. Known once tables() has answered.
    const QString &catalogueGap() const;
    // Whether the catalogue knows a table of exactly that name.
    bool hasTable(const QString &name);
    // The "Description" of a column (null when it has none); nothing when the table has no column
    // of that name. A table's descriptions are read in one go when the first is wanted.
    std::optional<QVariant> columnDescription(const QString &table, const QString &column);
    // The table's own "Description" (null when it has none), read with its columns'.
    QVariant tableDescription(const QString &table);
    // The fields and the record count of a table, as "select * from [table]" gives them; valid
    // until the next question.
    const EngineProtocol::FieldsResult &fields(const QString &table);

    // The SHA-256 of the database file as it lies on disk (32 bytes), read by the engine: the same
    // bytes give the same digest, whatever the password and whatever the file is called.
    QByteArray fileDigest();

    // Tells the connection which tables are about to be read, in order: the worker describes
    // them all in one streamed answer, and fields() and columnDescription() are answered from
    // it as it arrives. Never fails: whatever goes wrong shows when a table is read.
    void readAhead(const QStringList &tables) noexcept;

    // Ends the worker kept from the last connection closed, if any.
    static void releaseKept() noexcept;

    // The open database and what was learnt of it; kept beyond the connection (see Open).
    struct Session;

private:
    // The descriptions of a table: from the answer read ahead, or asked for.
    ColumnTexts &descriptionsOf(const QString &table);

    std::unique_ptr<Session> m_session;
};

class Recordset
{
public:
    Recordset();
    ~Recordset();

    // Opens "select * from [table]" on the connection. Any other query text is refused.
    void Open(const QString &source, Connection &connection, int cursorType = adOpenStatic,
              int lockType = adLockOptimistic);
    int State() const;
    void Close();

    // Rows (the schema rowset).
    bool Eof() const;
    void MoveNext();
    // Value of a column of the current row ("TABLE_NAME", "TABLE_TYPE").
    QString Value(const QString &column) const;

    // Fields and rows (a table).
    int FieldCount() const;
    // Valid while the recordset stays open on this table.
    const FieldInfo &Field(int index) const;
    qint64 RecordCount() const;

    // The table name inside "select * from [...]"; nothing for any other text.
    static std::optional<QString> tableOfQuery(const QString &source);

private:
    friend class Connection;
    void openRows(std::vector<TableRow> rows, const QString &gap);

    bool m_open = false;
    bool m_isSchema = false;
    std::vector<TableRow> m_rows;
    std::size_t m_row = 0;
    // Why the rows end before the catalogue does; said once, by the move past the last row.
    QString m_gap;
    std::vector<FieldInfo> m_fields;
    qint64 m_recordCount = 0;
};

// The catalogue bound to an open connection: Tables(name).Columns(field).Properties(name).
class Catalog
{
public:
    class Table
    {
    public:
        // The value of a column's property ("Description"); a null value when the column has
        // none. An unknown column or property fails with 3265.
        QVariant ColumnProperty(const QString &column, const QString &property) const;
        // The value of the table's own property ("Description"), likewise.
        QVariant Property(const QString &property) const;

    private:
        friend class Catalog;
        Table(Connection &connection, QString name) : m_connection(&connection), m_name(std::move(name)) {}
        Connection *m_connection;
        QString m_name;
    };

    void setActiveConnection(Connection &connection);
    // A table of the catalogue; an unknown name fails with 3265.
    Table Tables(const QString &name) const;

private:
    Connection *m_connection = nullptr;
};

// The engine's object factory. Making a connection fails with 3706 when the engine (the worker
// program) is not installed.
std::unique_ptr<Connection> CreateConnection();
std::unique_ptr<Recordset> CreateRecordset();
std::unique_ptr<Catalog> CreateCatalog();

} // namespace Ado
