#include "core/db/Ado.h"

#include "core/Failure.h"
#include "core/db/ConnectionText.h"
#include "core/db/WorkerProcess.h"

#include <QAnyStringView>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <time.h>
#endif

#include <algorithm>
#include <unordered_map>
#include <utility>

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

Failure catalogueIncomplete(const QString &why)
{
    return Failure(adErrCatalogueIncomplete, why);
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

namespace {

// What tells a file apart from its earlier self: which file it is, and when it last changed.
struct FileStamp
{
    bool known = false;
    // Whether a change after this look would show in the times: not when the file changed so
    // shortly before that a later change could fall within the same tick of the file system's
    // clock.
    bool settled = false;
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool sameFile(const FileStamp &other) const
    {
        return known && other.known && device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

FileStamp stampOf(const QString &path)
{
    FileStamp stamp;
#ifndef Q_OS_WIN
    struct stat info
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return stamp;
    stamp.known = true;
    stamp.device = qint64(info.st_dev);
    stamp.inode = qint64(info.st_ino);
    stamp.size = qint64(info.st_size);
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 nowNs = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    // File systems that keep whole seconds get a margin of two; the others tick every few
    // milliseconds at most.
    const bool wholeSeconds = info.st_mtim.tv_nsec == 0 && info.st_ctim.tv_nsec == 0;
    const qint64 margin = wholeSeconds ? 2000000000 : 100000000;
    stamp.settled = std::max(stamp.modifiedNs, stamp.changedNs) < nowNs - margin;
#else
    Q_UNUSED(path);
#endif
    return stamp;
}

} // namespace

namespace {

// Whether a name the program holds is the name the worker sent. Names are mostly ASCII, which is
// compared here character by character; anything else is compared as Unicode.
bool sameText(const QString &text, std::string_view utf8)
{
    if (std::size_t(text.size()) != utf8.size())
        return QAnyStringView::equal(text, QUtf8StringView(utf8.data(), qsizetype(utf8.size())));
    const QChar *chars = text.constData();
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x80)
            return QAnyStringView::equal(text, QUtf8StringView(utf8.data(), qsizetype(utf8.size())));
        if (chars[i].unicode() != byte)
            return false;
    }
    return true;
}

} // namespace

// Names and descriptions are mostly ASCII, which needs widening only, not decoding. Looked at whole
// first: a loop without an early way out is made into vector instructions.
QString fromUtf8(std::string_view text)
{
    unsigned char seen = 0;
    for (const char c : text)
        seen |= static_cast<unsigned char>(c);
    if (!text.empty() && seen < 0x80)
        return QString::fromLatin1(text.data(), qsizetype(text.size()));
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// One column's description: the column's name as the worker sent it (for finding it), and the
// description made into the program's text when it arrived.
struct ColumnText
{
    std::string column;
    bool present = false;
    QString value;
};

// The descriptions of a table's columns, in the order of its fields.
struct ColumnTexts
{
    std::vector<ColumnText> columns;
    // Where the next question is expected: the report asks field after field.
    std::size_t next = 0;
    // Two columns of one name (a damaged table): the last one counts, as in a lookup table.
    std::optional<bool> duplicates;
    // The table's own description.
    ColumnText table;

    // From the worker's answer, whether copied out of its frame or still in it.
    template <class Column, class Own> static ColumnTexts of(const std::vector<Column> &columns, const Own &own)
    {
        ColumnTexts texts;
        texts.columns.reserve(columns.size());
        for (const Column &c : columns)
            texts.columns.push_back({std::string(c.column), c.present, c.present ? fromUtf8(c.value) : QString()});
        texts.table = {std::string(), own.present, own.present ? fromUtf8(own.value) : QString()};
        return texts;
    }

    // Whether two columns share a name. Compared by a hash first: a table's names differ, as a rule,
    // and a big database has a hundred thousand of them.
    bool hasDuplicates() const
    {
        std::vector<std::pair<std::size_t, std::string_view>> names;
        names.reserve(columns.size());
        for (const ColumnText &c : columns)
            names.emplace_back(std::hash<std::string_view>()(c.column), c.column);
        std::sort(names.begin(), names.end());
        return std::adjacent_find(names.begin(), names.end()) != names.end();
    }

    // The description of the column of that name (null when it has none); nothing when the table
    // has no such column.
    std::optional<QVariant> find(const QString &column)
    {
        const auto matches = [&](std::size_t i) { return sameText(column, columns[i].column); };
        const auto found = [&](std::size_t i) {
            next = i + 1;
            const ColumnText &hit = columns[i];
            return hit.present ? QVariant(hit.value) : QVariant();
        };
        if (!duplicates)
            duplicates = hasDuplicates();
        if (!*duplicates && next < columns.size() && matches(next))
            return found(next);
        for (std::size_t i = columns.size(); i-- > 0;)
            if (matches(i))
                return found(i);
        return std::nullopt;
    }
};

// What the program knows of one open database: its worker, the file as it was when opened, and
// what was read of it so far.
struct Connection::Session
{
    // What one Describe record said about a table.
    struct Described
    {
        // Fields: whether the record has arrived, and what it said.
        bool fieldsArrived = false;
        P::FieldsResult fields;
        std::optional<Failure> fieldsFailure;
        // Descriptions: likewise.
        bool descriptionsArrived = false;
        ColumnTexts descriptions;
        std::optional<Failure> descriptionsFailure;
        // A failure that ended the whole answer is said once, like the answer it replaces; the
        // next question goes to the worker.
        bool fieldsOnce = false;
        bool descriptionsOnce = false;
    };

    std::unique_ptr<Worker> worker;
    QString program;
    int memoryLimitMb = 0;
    QString dataSource;
    QString password;
    FileStamp stamp;

    std::optional<std::vector<TableRow>> tables;
    QSet<QString> tableNames;
    // Why the catalogue could not be read to its end; empty when it was read whole.
    QString catalogueGap;
    // A Tables request sent ahead whose answer has not been read; a failure it brought.
    bool tablesPending = false;
    std::optional<Failure> tablesFailure;

    // The Describe answer in flight: the tables it covers in order, and the next record expected.
    bool streaming = false;
    std::vector<QString> streamOrder;
    std::size_t nextRecord = 0;
    std::unordered_map<QString, Described> described;

    // Descriptions asked for one table at a time (tables not read ahead): the last one.
    QString describedTable;
    ColumnTexts descriptions;
    // The answer of the last Fields request.
    P::FieldsResult lastFields;
    // The table looked up last, and the catalogue name found last: the report asks about the
    // same table field after field.
    QString lastTable;
    Described *lastDescribed = nullptr;
    QString lastKnownName;

    void readTablesAnswer();
    void pump();
    void finishStream();
    void take(const P::DescribeRecordView &record);
    Described *find(const QString &table);
};

namespace {

std::unique_ptr<Connection::Session> keptSession;
bool releaseRegistered = false;

bool sendable(const QString &text)
{
    try {
        checkSendable(text);
        return true;
    } catch (const Failure &) {
        return false;
    }
}

} // namespace

void Connection::Session::readTablesAnswer()
{
    tablesPending = false;
    try {
        std::string gap;
        const auto rows = worker->answer<std::vector<P::TableRow>>(
            worker->receive(), [&gap](P::Reader &body) { return P::decodeTablesResult(body, &gap); });
        std::vector<TableRow> rowsRead;
        rowsRead.reserve(rows.size());
        for (const P::TableRow &row : rows)
            rowsRead.push_back({QString::fromStdString(row.name), QString::fromStdString(row.type)});
        // The providers list tables by name, without regard to case; ties keep a fixed order.
        std::stable_sort(rowsRead.begin(), rowsRead.end(), [](const TableRow &a, const TableRow &b) {
            const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
            return folded != 0 ? folded < 0 : a.name < b.name;
        });
        tableNames.clear();
        for (const TableRow &row : rowsRead)
            tableNames.insert(row.name);
        tables = std::move(rowsRead);
        catalogueGap = QString::fromStdString(gap);
    } catch (const Failure &failure) {
        tablesFailure = failure;
        if (!worker->running())
            streaming = false;
    }
}

void Connection::Session::take(const P::DescribeRecordView &record)
{
    const std::size_t index = nextRecord / 2;
    const bool fieldsStage = nextRecord % 2 == 0;
    if (index >= streamOrder.size() || !sameText(streamOrder[index], record.table))
        throw worker->broken();
    Described &entry = described[streamOrder[index]];
    switch (record.kind) {
    case P::RecordKind::Fields:
    case P::RecordKind::FieldsFailed:
        if (!fieldsStage)
            throw worker->broken();
        if (record.kind == P::RecordKind::Fields) {
            entry.fields.recordCount = record.recordCount;
            entry.fields.fields.reserve(record.fields.size());
            for (const P::FieldView &field : record.fields)
                entry.fields.fields.push_back(
                    {std::string(field.name), field.adoType, field.definedSize, field.attributes});
        } else {
            entry.fieldsFailure = Failure(record.errorNumber, fromUtf8(record.errorDescription));
        }
        entry.fieldsArrived = true;
        break;
    case P::RecordKind::Descriptions:
    case P::RecordKind::DescriptionsFailed:
        if (fieldsStage)
            throw worker->broken();
        if (record.kind == P::RecordKind::Descriptions)
            entry.descriptions = ColumnTexts::of(record.columns, record.tableDescription);
        else
            entry.descriptionsFailure = Failure(record.errorNumber, fromUtf8(record.errorDescription));
        entry.descriptionsArrived = true;
        break;
    default:
        throw worker->broken();
    }
    ++nextRecord;
}

// Reads the next frame of the Describe answer in flight.
void Connection::Session::pump()
{
    if (tablesPending)
        readTablesAnswer();
    if (!streaming)
        return;
    try {
        const P::Bytes payload = worker->receive();
        auto response = P::decodeResponse(payload);
        if (!response)
            throw worker->broken();
        switch (response->status) {
        case P::Status::Part: {
            // Made into the program's texts straight from the frame: it is gone after this part.
            const auto records = P::decodePartViews(response->body);
            if (!records)
                throw worker->broken();
            for (const P::DescribeRecordView &record : *records)
                take(record);
            return;
        }
        case P::Status::Ok: {
            const auto count = P::decodeDescribeEnd(response->body);
            if (!count || *count != nextRecord || nextRecord != 2 * streamOrder.size())
                throw worker->broken();
            streaming = false;
            return;
        }
        case P::Status::Error: {
            // The work stopped at the first record not sent: that question gets the error.
            const std::size_t index = nextRecord / 2;
            if (index >= streamOrder.size())
                throw worker->broken();
            Described &entry = described[streamOrder[index]];
            const Failure failure(response->error.number, QString::fromUtf8(response->error.description));
            if (nextRecord % 2 == 0) {
                entry.fieldsFailure = failure;
                entry.fieldsArrived = entry.fieldsOnce = true;
            } else {
                entry.descriptionsFailure = failure;
                entry.descriptionsArrived = entry.descriptionsOnce = true;
            }
            streaming = false;
            return;
        }
        case P::Status::Progress:
            break;
        }
        throw worker->broken();
    } catch (...) {
        streaming = false;
        throw;
    }
}

Connection::Session::Described *Connection::Session::find(const QString &table)
{
    if (lastDescribed && table == lastTable)
        return lastDescribed;
    // The report is done with a table when it asks about the next one: what it was told goes, so
    // that a big database does not pile up in memory. Asked again, a table is asked of the worker.
    if (lastDescribed && lastDescribed->fieldsArrived && lastDescribed->descriptionsArrived &&
        !lastDescribed->fieldsOnce && !lastDescribed->descriptionsOnce)
        described.erase(lastTable);
    lastDescribed = nullptr;
    lastTable = QString();
    const auto found = described.find(table);
    if (found == described.end())
        return nullptr;
    lastTable = table;
    lastDescribed = &found->second;
    return lastDescribed;
}

void Connection::Session::finishStream()
{
    while (tablesPending || streaming)
        pump();
}

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

    // The database of the last connection, when nothing about the file has changed since.
    if (keptSession) {
        std::unique_ptr<Session> kept = std::move(keptSession);
        if (kept->worker && kept->worker->running() && kept->program == WorkerSettings::program() &&
            kept->memoryLimitMb == WorkerSettings::memoryLimitMb() && kept->dataSource == target.dataSource &&
            kept->password == target.password && kept->stamp.sameFile(stampOf(target.dataSource))) {
            m_session = std::move(kept);
            return;
        }
        kept->worker->stop();
    }

    auto session = std::make_unique<Session>();
    session->program = WorkerSettings::program();
    session->memoryLimitMb = WorkerSettings::memoryLimitMb();
    session->dataSource = target.dataSource;
    session->password = target.password;
    // Looked at before the worker reads it: a change after this look shows in a later one.
    session->stamp = stampOf(target.dataSource);
    session->worker = std::make_unique<Worker>(target.dataSource);
    session->worker->start();
    session->worker->callExpectingNothing(P::encodeOpen(utf8(target.dataSource), utf8(target.password)));
    WorkerTraffic::countOpen();
    m_session = std::move(session);
}

int Connection::State() const
{
    return m_session && m_session->worker && m_session->worker->running() ? adStateOpen : adStateClosed;
}

void Connection::Close()
{
    if (!m_session)
        return;
    std::unique_ptr<Session> session = std::move(m_session);
    // Kept for the next connection to the same file, unless anything about it is in doubt. The
    // kept worker ends with the program at the latest.
    const bool keep = session->worker && session->worker->running() && !session->streaming && !session->tablesPending &&
                      session->stamp.known && session->stamp.settled && QCoreApplication::instance();
    if (keep) {
        releaseKept();
        if (!releaseRegistered) {
            qAddPostRoutine([] { Connection::releaseKept(); });
            releaseRegistered = true;
        }
        keptSession = std::move(session);
        return;
    }
    if (session->worker)
        session->worker->stop();
}

void Connection::releaseKept() noexcept
{
    if (!keptSession)
        return;
    std::unique_ptr<Session> kept = std::move(keptSession);
    if (kept->worker)
        kept->worker->stop();
}

const QString &Connection::dataSource() const
{
    static const QString none;
    return m_session ? m_session->dataSource : none;
}

Worker &Connection::worker()
{
    if (State() != adStateOpen)
        throw objectClosed();
    return *m_session->worker;
}

const std::vector<TableRow> &Connection::tables()
{
    Worker &engine = worker();
    Session &session = *m_session;
    if (session.tablesPending)
        session.readTablesAnswer();
    if (session.tablesFailure) {
        const Failure failure = *session.tablesFailure;
        session.tablesFailure.reset();
        throw failure;
    }
    if (!session.tables) {
        session.finishStream();
        engine.send(P::encodeTables());
        session.tablesPending = true;
        session.readTablesAnswer();
        if (session.tablesFailure) {
            const Failure failure = *session.tablesFailure;
            session.tablesFailure.reset();
            throw failure;
        }
    }
    return *session.tables;
}

const QString &Connection::catalogueGap() const
{
    static const QString none;
    return m_session ? m_session->catalogueGap : none;
}

bool Connection::hasTable(const QString &name)
{
    tables();
    Session &session = *m_session;
    if (!session.lastKnownName.isNull() && name == session.lastKnownName)
        return true;
    if (!session.tableNames.contains(name))
        return false;
    session.lastKnownName = name;
    return true;
}

void Connection::readAhead(const QStringList &tables) noexcept
{
    try {
        if (State() != adStateOpen || m_session->streaming)
            return;
        Session &session = *m_session;
        std::vector<QString> order;
        std::vector<std::string> names;
        QSet<QString> seen;
        for (const QString &table : tables) {
            if (seen.contains(table) || session.described.count(table) || !sendable(table))
                continue;
            seen.insert(table);
            order.push_back(table);
            names.push_back(utf8(table));
        }
        if (order.empty())
            return;
        const P::Bytes request = P::encodeDescribe(names);
        if (request.empty())
            return;
        // The descriptions of the report look the table up in the catalogue first: its answer
        // comes before the stream.
        if (!session.tables && !session.tablesPending) {
            session.worker->send(P::encodeTables());
            session.tablesPending = true;
        }
        session.worker->send(request);
        for (const QString &table : order)
            session.described[table];
        session.streamOrder = std::move(order);
        session.nextRecord = 0;
        session.streaming = true;
    } catch (...) {
        // A worker that is gone says so at the next question.
    }
}

const P::FieldsResult &Connection::fields(const QString &table)
{
    Worker &engine = worker();
    Session &session = *m_session;
    if (Session::Described *entry = session.find(table)) {
        while (!entry->fieldsArrived && session.streaming)
            session.pump();
        if (entry->fieldsArrived) {
            if (entry->fieldsFailure) {
                const Failure failure = *entry->fieldsFailure;
                if (entry->fieldsOnce) {
                    entry->fieldsArrived = entry->fieldsOnce = false;
                    entry->fieldsFailure.reset();
                }
                throw failure;
            }
            return entry->fields;
        }
    }
    session.finishStream();
    session.lastFields = engine.call<P::FieldsResult>(P::encodeFields(utf8(table)), P::decodeFieldsResult);
    return session.lastFields;
}

QByteArray Connection::fileDigest()
{
    Worker &engine = worker();
    m_session->finishStream();
    const P::Sha256Digest digest = engine.call<P::Sha256Digest>(P::encodeFileDigest(), P::decodeFileDigestResult);
    return QByteArray(reinterpret_cast<const char *>(digest.data()), qsizetype(digest.size()));
}

ColumnTexts &Connection::descriptionsOf(const QString &table)
{
    if (State() != adStateOpen)
        checkSendable(table);
    Worker &engine = worker();
    Session &session = *m_session;
    if (Session::Described *entry = session.find(table)) {
        while (!entry->descriptionsArrived && session.streaming)
            session.pump();
        if (entry->descriptionsArrived) {
            if (entry->descriptionsFailure) {
                const Failure failure = *entry->descriptionsFailure;
                if (entry->descriptionsOnce) {
                    entry->descriptionsArrived = entry->descriptionsOnce = false;
                    entry->descriptionsFailure.reset();
                }
                throw failure;
            }
            return entry->descriptions;
        }
    }
    if (session.describedTable.isNull() || session.describedTable != table) {
        checkSendable(table);
        session.finishStream();
        P::DescriptionResult own;
        auto columns = engine.call<std::vector<P::ColumnDescription>>(
            P::encodeColumnDescriptions(utf8(table)),
            [&own](P::Reader &body) { return P::decodeColumnDescriptionsResult(body, &own); });
        session.descriptions = ColumnTexts::of(columns, own);
        session.describedTable = table;
    }
    return session.descriptions;
}

std::optional<QVariant> Connection::columnDescription(const QString &table, const QString &column)
{
    return descriptionsOf(table).find(column);
}

QVariant Connection::tableDescription(const QString &table)
{
    const ColumnText &own = descriptionsOf(table).table;
    return own.present ? QVariant(own.value) : QVariant();
}

std::unique_ptr<Recordset> Connection::OpenSchema(int schema)
{
    if (schema != adSchemaTables)
        throw notCapable();
    const std::vector<TableRow> &rows = tables();
    // Not one table to show before the end: the rowset cannot be opened.
    if (rows.empty() && !catalogueGap().isEmpty())
        throw catalogueIncomplete(catalogueGap());
    auto rowset = std::make_unique<Recordset>();
    rowset->openRows(rows, catalogueGap());
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
    const P::FieldsResult &result = connection.fields(*table);
    // A field count must fit the 16 bits that callers keep it in; record counts are never negative.
    if (result.fields.size() > 32767 || result.recordCount < 0)
        throw Failure(0, QStringLiteral("The database engine gave an impossible answer for table '%1'.").arg(*table));
    for (const P::FieldInfo &field : result.fields)
        if (field.definedSize < 0)
            throw Failure(0,
                          QStringLiteral("The database engine gave an impossible answer for table '%1'.").arg(*table));
    // Filled in place: the list of the table before keeps its memory for this one.
    m_fields.clear();
    m_fields.reserve(result.fields.size());
    for (const P::FieldInfo &field : result.fields)
        m_fields.push_back({fromUtf8(field.name), field.adoType, field.definedSize, field.attributes});
    m_recordCount = result.recordCount;
    m_rows.clear();
    m_row = 0;
    m_gap.clear();
    m_isSchema = false;
    m_open = true;
}

void Recordset::openRows(std::vector<TableRow> rows, const QString &gap)
{
    m_rows = std::move(rows);
    m_gap = gap;
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
    m_gap.clear();
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
    // Like a fetch that fails: the rowset stands at its end, and the failure says why.
    if (Eof() && !m_gap.isEmpty())
        throw catalogueIncomplete(std::exchange(m_gap, QString()));
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

const FieldInfo &Recordset::Field(int index) const
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
    static const QString descriptionName = QStringLiteral("Description");
    // The report always asks in this spelling; the comparison without regard to case is for others.
    if (property != descriptionName && property.compare(descriptionName, Qt::CaseInsensitive) != 0)
        throw itemNotFound();
    std::optional<QVariant> description = m_connection->columnDescription(m_name, column);
    if (!description)
        throw itemNotFound();
    return std::move(*description);
}

QVariant Catalog::Table::Property(const QString &property) const
{
    if (property.compare(QStringLiteral("Description"), Qt::CaseInsensitive) != 0)
        throw itemNotFound();
    return m_connection->tableDescription(m_name);
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
