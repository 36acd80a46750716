#include "core/db/Ado.h"

#include "core/Failure.h"
#include "core/db/ConnectionText.h"
#include "core/db/WorkerProcess.h"

#include <QFileInfo>

#include <algorithm>

namespace Ado {

namespace {

namespace P = EngineProtocol;

Failure objectClosed()
{
    return Failure(3704, QStringLiteral("Operation is not allowed when the object is closed."));
}

Failure objectOpen()
{
    return Failure(3705, QStringLiteral("Operation is not allowed when the object is open."));
}

Failure itemNotFound()
{
    return Failure(3265, QStringLiteral("Item cannot be found in the collection corresponding to the requested name "
                                        "or ordinal."));
}

Failure notCapable()
{
    return Failure(3251, QStringLiteral("Object or provider is not capable of performing requested operation."));
}

Failure noCurrentRecord()
{
    return Failure(3021, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. Requested "
                                        "operation requires a current record."));
}

std::string utf8(const QString &text)
{
    return text.toStdString();
}

// Whether the text can travel to the worker: names and paths are sent as UTF-8, and lone
// surrogates have no UTF-8 form.
void checkSendable(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (QString::fromUtf8(bytes) != text || std::size_t(bytes.size()) > P::kMaxStringLength)
        throw Failure(3001, QStringLiteral("Arguments are of the wrong type, are out of acceptable range, or are in "
                                           "conflict with one another."));
}

} // namespace

// ---- Connection ---------------------------------------------------------------------------------

Connection::Connection() = default;

Connection::~Connection()
{
    Close();
}

void Connection::Open(const QString &connectionText)
{
    if (State() == adStateOpen)
        throw objectOpen();
    const ConnectionTarget target = ParseConnectionText(connectionText);
    checkSendable(target.dataSource);
    checkSendable(target.password);
    auto worker = std::make_unique<Worker>(target.dataSource);
    worker->start();
    worker->callExpectingNothing(P::encodeOpen(utf8(target.dataSource), utf8(target.password)));
    forget();
    m_worker = std::move(worker);
    m_dataSource = target.dataSource;
}

int Connection::State() const
{
    return m_worker && m_worker->running() ? adStateOpen : adStateClosed;
}

void Connection::Close()
{
    if (m_worker)
        m_worker->stop();
    m_worker.reset();
    forget();
}

void Connection::forget()
{
    m_tables.reset();
    m_tableNames.clear();
    m_describedTable = QString();
    m_descriptions.clear();
}

Worker &Connection::worker()
{
    if (State() != adStateOpen)
        throw objectClosed();
    return *m_worker;
}

const std::vector<TableRow> &Connection::tables()
{
    if (!m_tables) {
        const auto rows = worker().call<std::vector<P::TableRow>>(P::encodeTables(), P::decodeTablesResult);
        std::vector<TableRow> tables;
        tables.reserve(rows.size());
        for (const P::TableRow &row : rows)
            tables.push_back({QString::fromStdString(row.name), QString::fromStdString(row.type)});
        // The providers list tables by name, without regard to case; ties keep a fixed order.
        std::stable_sort(tables.begin(), tables.end(), [](const TableRow &a, const TableRow &b) {
            const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
            return folded != 0 ? folded < 0 : a.name < b.name;
        });
        m_tableNames.clear();
        for (const TableRow &row : tables)
            m_tableNames.insert(row.name);
        m_tables = std::move(tables);
    }
    return *m_tables;
}

bool Connection::hasTable(const QString &name)
{
    tables();
    return m_tableNames.contains(name);
}

const QHash<QString, QVariant> &Connection::columnDescriptions(const QString &table)
{
    if (m_describedTable.isNull() || m_describedTable != table) {
        checkSendable(table);
        const auto columns = worker().call<std::vector<P::ColumnDescription>>(P::encodeColumnDescriptions(utf8(table)),
                                                                              P::decodeColumnDescriptionsResult);
        QHash<QString, QVariant> descriptions;
        descriptions.reserve(qsizetype(columns.size()));
        for (const P::ColumnDescription &column : columns) {
            descriptions.insert(QString::fromStdString(column.column),
                                column.present ? QVariant(QString::fromStdString(column.value)) : QVariant());
        }
        m_descriptions = std::move(descriptions);
        m_describedTable = table;
    }
    return m_descriptions;
}

std::unique_ptr<Recordset> Connection::OpenSchema(int schema)
{
    if (schema != adSchemaTables)
        throw notCapable();
    auto rowset = std::make_unique<Recordset>();
    rowset->openRows(tables());
    return rowset;
}

// ---- Recordset ----------------------------------------------------------------------------------

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

std::optional<QString> Recordset::tableOfQuery(const QString &source)
{
    static const QString prefix = QStringLiteral("select * from [");
    if (!source.startsWith(prefix, Qt::CaseInsensitive) || !source.endsWith(QLatin1Char(']')) ||
        source.size() < prefix.size() + 1)
        return std::nullopt;
    return source.mid(prefix.size(), source.size() - prefix.size() - 1);
}

void Recordset::Open(const QString &source, Connection &connection, int cursorType, int lockType)
{
    Q_UNUSED(cursorType);
    Q_UNUSED(lockType);
    if (m_open)
        throw objectOpen();
    const std::optional<QString> table = tableOfQuery(source);
    if (!table)
        throw Failure(3131, QStringLiteral("Syntax error in FROM clause. Only \"select * from [table]\" can be "
                                           "answered, not: %1")
                                .arg(source));
    checkSendable(*table);
    const P::FieldsResult result =
        connection.worker().call<P::FieldsResult>(P::encodeFields(utf8(*table)), P::decodeFieldsResult);
    // A field count must fit the 16 bits that callers keep it in; record counts are never negative.
    if (result.fields.size() > 32767 || result.recordCount < 0)
        throw Failure(0, QStringLiteral("The database engine gave an impossible answer for table '%1'.").arg(*table));
    std::vector<FieldInfo> fields;
    fields.reserve(result.fields.size());
    for (const P::FieldInfo &field : result.fields) {
        if (field.definedSize < 0)
            throw Failure(0,
                          QStringLiteral("The database engine gave an impossible answer for table '%1'.").arg(*table));
        fields.push_back({QString::fromStdString(field.name), field.adoType, field.definedSize});
    }
    m_fields = std::move(fields);
    m_recordCount = result.recordCount;
    m_rows.clear();
    m_row = 0;
    m_isSchema = false;
    m_open = true;
}

void Recordset::openRows(std::vector<TableRow> rows)
{
    m_rows = std::move(rows);
    m_row = 0;
    m_fields = {{QStringLiteral("TABLE_NAME"), 202, 128}, {QStringLiteral("TABLE_TYPE"), 202, 128}};
    m_recordCount = qint64(m_rows.size());
    m_isSchema = true;
    m_open = true;
}

int Recordset::State() const
{
    return m_open ? adStateOpen : adStateClosed;
}

void Recordset::Close()
{
    if (!m_open)
        throw objectClosed();
    m_open = false;
    m_rows.clear();
    m_fields.clear();
    m_recordCount = 0;
}

bool Recordset::Eof() const
{
    if (!m_open)
        throw objectClosed();
    // Rows of a table are counted by the engine, never walked one by one.
    if (!m_isSchema)
        throw notCapable();
    return m_row >= m_rows.size();
}

void Recordset::MoveNext()
{
    if (Eof())
        throw noCurrentRecord();
    ++m_row;
}

QString Recordset::Value(const QString &column) const
{
    if (Eof())
        throw noCurrentRecord();
    if (column.compare(QStringLiteral("TABLE_NAME"), Qt::CaseInsensitive) == 0)
        return m_rows[m_row].name;
    if (column.compare(QStringLiteral("TABLE_TYPE"), Qt::CaseInsensitive) == 0)
        return m_rows[m_row].type;
    throw itemNotFound();
}

int Recordset::FieldCount() const
{
    // Like ADO, a closed recordset simply has no fields.
    return m_open ? int(m_fields.size()) : 0;
}

FieldInfo Recordset::Field(int index) const
{
    if (!m_open)
        throw objectClosed();
    if (index < 0 || std::size_t(index) >= m_fields.size())
        throw itemNotFound();
    return m_fields[std::size_t(index)];
}

qint64 Recordset::RecordCount() const
{
    if (!m_open)
        throw objectClosed();
    return m_recordCount;
}

// ---- Catalog ------------------------------------------------------------------------------------

void Catalog::setActiveConnection(Connection &connection)
{
    if (connection.State() != adStateOpen)
        throw objectClosed();
    m_connection = &connection;
}

Catalog::Table Catalog::Tables(const QString &name) const
{
    if (!m_connection)
        throw objectClosed();
    if (!m_connection->hasTable(name))
        throw itemNotFound();
    return Table(*m_connection, name);
}

QVariant Catalog::Table::ColumnProperty(const QString &column, const QString &property) const
{
    if (property.compare(QStringLiteral("Description"), Qt::CaseInsensitive) != 0)
        throw itemNotFound();
    const QHash<QString, QVariant> &descriptions = m_connection->columnDescriptions(m_name);
    const auto found = descriptions.constFind(column);
    if (found == descriptions.constEnd())
        throw itemNotFound();
    return *found;
}

// ---- Factory ------------------------------------------------------------------------------------

std::unique_ptr<Connection> CreateConnection()
{
    const QFileInfo program(WorkerSettings::program());
    if (!program.isFile() || !program.isExecutable())
        throw Failure(3706, QStringLiteral("Provider cannot be found. It may not be properly installed."));
    return std::make_unique<Connection>();
}

std::unique_ptr<Recordset> CreateRecordset()
{
    return std::make_unique<Recordset>();
}

std::unique_ptr<Catalog> CreateCatalog()
{
    return std::make_unique<Catalog>();
}

} // namespace Ado
