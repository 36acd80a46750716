#include "support/DatabaseServers.h"

#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVersionNumber>

#include <sqlite3.h>

#include <algorithm>

#include <csignal>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace TestServers {

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::PostgreSql:
        return QStringLiteral("PostgreSQL");
    case Kind::Sqlite:
        return QStringLiteral("SQLite");
    case Kind::MariaDb:
        return QStringLiteral("MariaDB");
    }
    return QString();
}

const Column *Table::column(const QString &name) const
{
    for (const Column &c : columns)
        if (c.name == name)
            return &c;
    return nullptr;
}

const Index *Table::index(const QString &name) const
{
    for (const Index &i : indexes)
        if (i.name == name)
            return &i;
    return nullptr;
}

const Index *Table::primaryKey() const
{
    for (const Index &i : indexes)
        if (i.primary)
            return &i;
    return nullptr;
}

const Table *Catalogue::table(const QString &name) const
{
    for (const Table &t : tables)
        if (t.name == name)
            return &t;
    return nullptr;
}

Server::~Server() = default;

namespace {

using TestSupport::ProgramRun;
using TestSupport::runProgram;

// A Unix socket's path has room for 107 bytes.
constexpr qsizetype SocketPathLimit = 107;

QString currentUser()
{
    const passwd *pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

QString findProgram(const QStringList &names)
{
    // Servers live in sbin, which a normal user's PATH may leave out.
    const QStringList dirs{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/sbin"),
                           QStringLiteral("/usr/local/bin")};
    for (const QString &name : names) {
        QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            path = QStandardPaths::findExecutable(name, dirs);
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

// A client's environment: none of the user's settings for that kind (a PGHOST, a MYSQL_PWD) may
// lead it elsewhere, and the messages it counts stay untranslated.
QProcessEnvironment clientEnvironment(const QStringList &prefixes)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys())
        for (const QString &prefix : prefixes)
            if (name.startsWith(prefix))
                environment.remove(name);
    environment.remove(QStringLiteral("LANGUAGE"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return environment;
}

QString lastLines(const QByteArray &text, int count = 15)
{
    QStringList lines = QString::fromLocal8Bit(text).trimmed().split(QLatin1Char('\n'));
    if (lines.size() > count)
        lines = lines.mid(lines.size() - count);
    return lines.join(QLatin1Char('\n'));
}

QString said(const QString &what, const ProgramRun &run)
{
    const QString ending = run.exitCode < 0 ? QStringLiteral("crashed or timed out")
                                            : QStringLiteral("ended with exit code %1").arg(run.exitCode);
    return QStringLiteral("%1 %2:\n%3").arg(what, ending, lastLines(run.err + run.out));
}

// The command run as user (empty: as this process), with the kernel killing it should this process
// die first when orphanKill is set. setpriv changes the user and execs, so the server is this
// process's own child and its parent-death signal outlives the change of user.
QStringList commandAs(const QString &user, bool orphanKill, const QStringList &command)
{
    if (user.isEmpty() && !orphanKill)
        return command;
    QStringList wrapped{QStringLiteral("setpriv")};
    if (orphanKill)
        wrapped << QStringLiteral("--pdeathsig") << QStringLiteral("KILL");
    if (!user.isEmpty())
        wrapped << QStringLiteral("--reuid=") + user << QStringLiteral("--regid=") + user
                << QStringLiteral("--init-groups");
    return wrapped + command;
}

ProgramRun run(const QStringList &command, const QString &folder, const QByteArray &input,
               const QProcessEnvironment &environment)
{
    return runProgram(command.first(), command.mid(1), folder, input, environment);
}

// A server runs in the background with its output in log, until stopServer.
std::unique_ptr<QProcess> startServer(const QStringList &command, const QString &folder, const QString &log,
                                      const QProcessEnvironment &environment, QString *why)
{
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(folder);
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(log, QIODevice::Append);
    process->setStandardErrorFile(log, QIODevice::Append);
    process->start(command.first(), command.mid(1));
    if (!process->waitForStarted(10000)) {
        *why = QStringLiteral("%1 did not start: %2").arg(command.first(), process->errorString());
        return nullptr;
    }
    return process;
}

// Waits until ready() says so; false with the server's last words in why when it ends first or
// takes longer than a server should.
template <class Ready> bool waitUntilReady(QProcess &server, const QString &log, Ready ready, QString *why)
{
    constexpr int TimeoutMs = 30000;
    const QDeadlineTimer deadline(TimeoutMs);
    while (!deadline.hasExpired()) {
        if (server.state() == QProcess::NotRunning) {
            *why = QStringLiteral("the server ended while starting:\n") + lastLines(TestSupport::readFile(log));
            return false;
        }
        if (ready())
            return true;
        server.waitForFinished(50);
    }
    *why = QStringLiteral("the server did not accept connections within %1 s:\n%2")
               .arg(TimeoutMs / 1000)
               .arg(lastLines(TestSupport::readFile(log)));
    return false;
}

void stopServer(QProcess *server, int signal)
{
    if (!server || server->state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(server->processId()), signal);
    if (!server->waitForFinished(15000)) {
        server->kill();
        server->waitForFinished(5000);
    }
}

// The errors on a client's standard error. A line that starts no message goes on the error before
// it; the statement that the MariaDB client prints between two rulers before an error goes after it.
Load clientErrors(const QByteArray &err, const QRegularExpression &error, const QRegularExpression &otherMessage)
{
    const QString ruler = QStringLiteral("--------------");
    Load load;
    QList<QStringList> statements;
    QStringList statement;
    bool inStatement = false;
    bool inError = false;
    for (const QString &line : QString::fromUtf8(err).split(QLatin1Char('\n'))) {
        if (line == ruler) {
            if (!inStatement)
                statement.clear();
            inStatement = !inStatement;
            inError = false;
        } else if (inStatement) {
            statement << line;
        } else if (error.match(line).hasMatch()) {
            ++load.failed;
            load.errors << line;
            statements << statement;
            statement.clear();
            inError = true;
        } else if (otherMessage.match(line).hasMatch()) {
            inError = false;
        } else if (inError && !line.isEmpty()) {
            load.errors.last() += QLatin1Char('\n') + line;
        }
    }
    for (qsizetype i = 0; i < load.errors.size(); ++i)
        if (!statements[i].isEmpty())
            load.errors[i] += QStringLiteral("\nin: ") + statements[i].join(QLatin1Char('\n'));
    return load;
}

bool flag(const QJsonValue &value)
{
    return value.isBool() ? value.toBool() : value.toInt() != 0;
}

std::optional<QString> comment(const QJsonValue &value)
{
    if (value.isNull() || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

std::optional<QString> defaultValue(const std::optional<QString> &expression)
{
    if (!expression || expression->isEmpty() || expression->compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0)
        return std::nullopt;
    return expression;
}

// The catalogue from a query's rows, one JSON object each: the tables first, then their columns,
// indexes and foreign keys, each index's and key's columns in order.
Catalogue catalogueFromRows(const QByteArray &out)
{
    Catalogue catalogue;
    QHash<QString, qsizetype> tableAt;
    for (const QByteArray &line : out.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonObject row = QJsonDocument::fromJson(line, &parseError).object();
        if (parseError.error != QJsonParseError::NoError) {
            catalogue.error = QStringLiteral("unreadable catalogue row: ") + QString::fromUtf8(line);
            return catalogue;
        }
        const QString what = row.value(QLatin1String("what")).toString();
        if (what == QLatin1String("table")) {
            Table table;
            table.name = row.value(QLatin1String("name")).toString();
            table.comment = comment(row.value(QLatin1String("comment")));
            tableAt.insert(table.name, catalogue.tables.size());
            catalogue.tables << table;
            continue;
        }
        const auto at = tableAt.constFind(row.value(QLatin1String("table")).toString());
        if (at == tableAt.constEnd())
            continue; // a view's column
        Table &table = catalogue.tables[*at];
        const QString name = row.value(QLatin1String("name")).toString();
        if (what == QLatin1String("column")) {
            Column column;
            column.name = name;
            column.type = row.value(QLatin1String("type")).toString();
            column.notNull = flag(row.value(QLatin1String("notNull")));
            column.autoIncrement = flag(row.value(QLatin1String("autoIncrement")));
            const QJsonValue expression = row.value(QLatin1String("default"));
            column.defaultValue =
                defaultValue(expression.isNull() ? std::nullopt : std::optional<QString>(expression.toString()));
            column.comment = comment(row.value(QLatin1String("comment")));
            table.columns << column;
        } else if (what == QLatin1String("index")) {
            auto index = std::find_if(table.indexes.begin(), table.indexes.end(),
                                      [&](const Index &i) { return i.name == name; });
            if (index == table.indexes.end()) {
                Index added;
                added.name = name;
                added.unique = flag(row.value(QLatin1String("unique")));
                added.primary = flag(row.value(QLatin1String("primary")));
                table.indexes << added;
                index = table.indexes.end() - 1;
            }
            index->columns << row.value(QLatin1String("column")).toString();
            index->descending << flag(row.value(QLatin1String("descending")));
        } else if (what == QLatin1String("foreignKey")) {
            auto key = std::find_if(table.foreignKeys.begin(), table.foreignKeys.end(),
                                    [&](const ForeignKey &k) { return k.name == name; });
            if (key == table.foreignKeys.end()) {
                ForeignKey added;
                added.name = name;
                added.referencedTable = row.value(QLatin1String("referencedTable")).toString();
                added.onUpdate = row.value(QLatin1String("onUpdate")).toString();
                added.onDelete = row.value(QLatin1String("onDelete")).toString();
                table.foreignKeys << added;
                key = table.foreignKeys.end() - 1;
            }
            key->columns << row.value(QLatin1String("column")).toString();
            key->referencedColumns << row.value(QLatin1String("referencedColumn")).toString();
        }
    }
    return catalogue;
}

// PostgreSQL ------------------------------------------------------------------------------------

// The tables of the default schema ("public") with their columns, indexes and foreign keys. A
// serial's default is the nextval of its own sequence, which says no more than autoIncrement.
const char PostgreSqlCatalogue[] = R"sql(
\set ON_ERROR_STOP 1
CREATE VIEW pg_temp.own AS
  SELECT c.oid, c.relname FROM pg_class c
  WHERE c.relkind IN ('r', 'p') AND c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema());
SELECT json_build_object('what', 'table', 'name', relname, 'comment', obj_description(oid, 'pg_class'))
FROM pg_temp.own ORDER BY relname;
SELECT json_build_object('what', 'column', 'table', t.relname, 'name', a.attname,
         'type', format_type(a.atttypid, a.atttypmod), 'notNull', a.attnotnull,
         'autoIncrement', s.sequence IS NOT NULL,
         'default', CASE WHEN s.sequence IS NULL THEN pg_get_expr(d.adbin, d.adrelid) END,
         'comment', col_description(t.oid, a.attnum))
FROM pg_temp.own t JOIN pg_attribute a ON a.attrelid = t.oid
LEFT JOIN pg_attrdef d ON d.adrelid = t.oid AND d.adnum = a.attnum
CROSS JOIN LATERAL (SELECT pg_get_serial_sequence(t.oid::regclass::text, a.attname) AS sequence) s
WHERE a.attnum > 0 AND NOT a.attisdropped
ORDER BY t.relname, a.attnum;
SELECT json_build_object('what', 'index', 'table', t.relname, 'name', ic.relname,
         'unique', i.indisunique, 'primary', i.indisprimary,
         'column', CASE WHEN i.indkey[k - 1] = 0 THEN pg_get_indexdef(i.indexrelid, k, true) ELSE
                     (SELECT attname FROM pg_attribute WHERE attrelid = i.indrelid AND attnum = i.indkey[k - 1]) END,
         'descending', (i.indoption[k - 1] & 1) = 1)
FROM pg_temp.own t JOIN pg_index i ON i.indrelid = t.oid JOIN pg_class ic ON ic.oid = i.indexrelid
CROSS JOIN LATERAL generate_series(1, i.indnkeyatts) k
ORDER BY t.relname, ic.relname, k;
SELECT json_build_object('what', 'foreignKey', 'table', t.relname, 'name', con.conname,
         'referencedTable', rt.relname, 'column', a.attname, 'referencedColumn', ra.attname,
         'onUpdate', CASE con.confupdtype WHEN 'a' THEN 'NO ACTION' WHEN 'r' THEN 'RESTRICT' WHEN 'c' THEN 'CASCADE'
                       WHEN 'n' THEN 'SET NULL' WHEN 'd' THEN 'SET DEFAULT' END,
         'onDelete', CASE con.confdeltype WHEN 'a' THEN 'NO ACTION' WHEN 'r' THEN 'RESTRICT' WHEN 'c' THEN 'CASCADE'
                       WHEN 'n' THEN 'SET NULL' WHEN 'd' THEN 'SET DEFAULT' END)
FROM pg_temp.own t JOIN pg_constraint con ON con.conrelid = t.oid AND con.contype = 'f'
JOIN pg_class rt ON rt.oid = con.confrelid
CROSS JOIN LATERAL unnest(con.conkey, con.confkey) WITH ORDINALITY AS k(col, refcol, n)
JOIN pg_attribute a ON a.attrelid = con.conrelid AND a.attnum = k.col
JOIN pg_attribute ra ON ra.attrelid = con.confrelid AND ra.attnum = k.refcol
ORDER BY t.relname, con.conname, k.n;
)sql";

QString postgreSqlBinDir()
{
    // Debian keeps each major version's programs apart; the newest one installed serves.
    const QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QVersionNumber newest;
    QString found;
    for (const QString &version : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString bin = lib.filePath(version + QStringLiteral("/bin"));
        const QVersionNumber number = QVersionNumber::fromString(version);
        if (QFileInfo::exists(bin + QStringLiteral("/postgres")) && (found.isEmpty() || number > newest)) {
            newest = number;
            found = bin;
        }
    }
    if (found.isEmpty()) {
        const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
        if (!initdb.isEmpty())
            found = QFileInfo(initdb).absolutePath();
    }
    for (const char *program : {"initdb", "postgres", "psql", "pg_isready"})
        if (!found.isEmpty() && !QFileInfo(found + QLatin1Char('/') + QLatin1String(program)).isExecutable())
            return QString();
    return found;
}

class PostgreSqlServer final : public Server
{
public:
    PostgreSqlServer() : Server(Kind::PostgreSql) {}
    ~PostgreSqlServer() override { stopServer(m_server.get(), SIGINT); } // a fast shutdown

    bool begin(QString *why)
    {
        m_bin = postgreSqlBinDir();
        if (m_bin.isEmpty()) {
            *why = QStringLiteral("not installed: no /usr/lib/postgresql/<version>/bin with initdb, postgres, psql "
                                  "and pg_isready (scripts/install-deps installs them)");
            return false;
        }
        if (!m_folder.isValid()) {
            *why = QStringLiteral("no temporary folder: ") + m_folder.errorString();
            return false;
        }
        if (m_folder.path().size() + qsizetype(sizeof("/.s.PGSQL.5432")) > SocketPathLimit) {
            *why = QStringLiteral("the temporary folder's path is too long for a socket: ") + m_folder.path();
            return false;
        }
        // PostgreSQL refuses to run as root: there it runs as the user the package made, in a
        // folder of that user's.
        QString user;
        if (::geteuid() == 0) {
            user = QStringLiteral("postgres");
            const passwd *pw = ::getpwnam("postgres");
            if (!pw) {
                *why = QStringLiteral("it refuses to run as root, and there is no postgres user to run it as");
                return false;
            }
            if (::chown(QFile::encodeName(m_folder.path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                *why = QStringLiteral("cannot hand the temporary folder to the postgres user");
                return false;
            }
        }
        const QString data = m_folder.filePath(QStringLiteral("data"));
        const ProgramRun initdb = run(commandAs(user, true,
                                                {m_bin + QStringLiteral("/initdb"), QStringLiteral("--pgdata=") + data,
                                                 QStringLiteral("--username=postgres"), QStringLiteral("--auth=trust"),
                                                 QStringLiteral("--encoding=UTF8"), QStringLiteral("--no-locale"),
                                                 QStringLiteral("--no-sync"), QStringLiteral("--no-instructions")}),
                                      m_folder.path(), QByteArray(), m_environment);
        if (initdb.exitCode != 0) {
            *why = said(QStringLiteral("initdb"), initdb);
            return false;
        }
        // Only the socket in the folder, no TCP; nothing of this cluster needs to survive a crash.
        const QString log = m_folder.filePath(QStringLiteral("server.log"));
        m_server = startServer(
            commandAs(user, true,
                      {m_bin + QStringLiteral("/postgres"), QStringLiteral("-D"), data, QStringLiteral("-k"),
                       m_folder.path(), QStringLiteral("-p"), QStringLiteral("5432"), QStringLiteral("-c"),
                       QStringLiteral("listen_addresses="), QStringLiteral("-c"), QStringLiteral("fsync=off"),
                       QStringLiteral("-c"), QStringLiteral("full_page_writes=off"), QStringLiteral("-c"),
                       QStringLiteral("synchronous_commit=off")}),
            m_folder.path(), log, m_environment, why);
        if (!m_server)
            return false;
        const QStringList isReady{QStringLiteral("-q"),       QStringLiteral("-h"),   m_folder.path(),
                                  QStringLiteral("-p"),       QStringLiteral("5432"), QStringLiteral("-U"),
                                  QStringLiteral("postgres"), QStringLiteral("-d"),   QStringLiteral("postgres")};
        if (!waitUntilReady(
                *m_server, log,
                [&] {
                    return runProgram(m_bin + QStringLiteral("/pg_isready"), isReady, m_folder.path(), QByteArray(),
                                      m_environment, 5000)
                               .exitCode == 0;
                },
                why))
            return false;
        const ProgramRun version =
            psql(QStringLiteral("postgres"), {QStringLiteral("-A"), QStringLiteral("-t")}, "SHOW server_version;");
        m_version = QString::fromUtf8(version.out).trimmed();
        return true;
    }

    Load load(const QString &sql) override
    {
        m_database = QStringLiteral("load%1").arg(++m_loads);
        const ProgramRun create =
            psql(QStringLiteral("postgres"), {QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1")},
                 "CREATE DATABASE " + m_database.toUtf8() + ';');
        if (create.exitCode != 0)
            return {1, {said(QStringLiteral("CREATE DATABASE"), create)}};
        // Terse messages keep each error on its one line, which psql starts with where it was.
        const ProgramRun loaded =
            psql(m_database, {QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=0")}, sql.toUtf8());
        static const QRegularExpression error(QStringLiteral("^psql:<stdin>:\\d+: (ERROR|FATAL|PANIC|error):"));
        static const QRegularExpression other(QStringLiteral("^psql:"));
        Load load = clientErrors(loaded.err, error, other);
        if (loaded.exitCode != 0) {
            ++load.failed;
            load.errors << said(QStringLiteral("psql"), loaded);
        }
        return load;
    }

    Catalogue catalogue() override
    {
        Catalogue catalogue;
        if (m_database.isEmpty()) {
            catalogue.error = QStringLiteral("nothing was loaded");
            return catalogue;
        }
        const ProgramRun read = psql(m_database, {QStringLiteral("-A"), QStringLiteral("-t")}, PostgreSqlCatalogue);
        if (read.exitCode != 0) {
            catalogue.error = said(QStringLiteral("psql"), read);
            return catalogue;
        }
        return catalogueFromRows(read.out);
    }

private:
    ProgramRun psql(const QString &database, const QStringList &options, const QByteArray &input)
    {
        QStringList arguments{QStringLiteral("-X"), QStringLiteral("-q"),
                              QStringLiteral("-h"), m_folder.path(),
                              QStringLiteral("-p"), QStringLiteral("5432"),
                              QStringLiteral("-U"), QStringLiteral("postgres"),
                              QStringLiteral("-d"), database,
                              QStringLiteral("-v"), QStringLiteral("VERBOSITY=terse"),
                              QStringLiteral("-f"), QStringLiteral("-")};
        return runProgram(m_bin + QStringLiteral("/psql"), arguments + options, m_folder.path(), input, m_environment);
    }

    QTemporaryDir m_folder{QDir::tempPath() + QStringLiteral("/strudex-postgresql-XXXXXX")};
    QProcessEnvironment m_environment = clientEnvironment({QStringLiteral("PG")});
    QString m_bin;
    std::unique_ptr<QProcess> m_server;
    int m_loads = 0;
    QString m_database;
};

// MariaDB ---------------------------------------------------------------------------------------

// A descending index part has the collation 'D' (MariaDB 10.8 and later).
const char MariaDbCatalogue[] = R"sql(
SELECT JSON_OBJECT('what', 'table', 'name', TABLE_NAME, 'comment', TABLE_COMMENT)
FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND TABLE_TYPE = 'BASE TABLE' ORDER BY TABLE_NAME;
SELECT JSON_OBJECT('what', 'column', 'table', TABLE_NAME, 'name', COLUMN_NAME, 'type', COLUMN_TYPE,
         'notNull', IS_NULLABLE = 'NO', 'autoIncrement', EXTRA LIKE '%auto_increment%',
         'default', COLUMN_DEFAULT, 'comment', COLUMN_COMMENT)
FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() ORDER BY TABLE_NAME, ORDINAL_POSITION;
SELECT JSON_OBJECT('what', 'index', 'table', TABLE_NAME, 'name', INDEX_NAME, 'unique', NON_UNIQUE = 0,
         'primary', INDEX_NAME = 'PRIMARY', 'column', COLUMN_NAME, 'descending', COLLATION <=> 'D')
FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = DATABASE() ORDER BY TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX;
SELECT JSON_OBJECT('what', 'foreignKey', 'table', k.TABLE_NAME, 'name', k.CONSTRAINT_NAME,
         'referencedTable', k.REFERENCED_TABLE_NAME, 'column', k.COLUMN_NAME,
         'referencedColumn', k.REFERENCED_COLUMN_NAME, 'onUpdate', r.UPDATE_RULE, 'onDelete', r.DELETE_RULE)
FROM information_schema.KEY_COLUMN_USAGE k
JOIN information_schema.REFERENTIAL_CONSTRAINTS r
  ON r.CONSTRAINT_SCHEMA = k.CONSTRAINT_SCHEMA AND r.TABLE_NAME = k.TABLE_NAME AND r.CONSTRAINT_NAME = k.CONSTRAINT_NAME
WHERE k.TABLE_SCHEMA = DATABASE() AND k.REFERENCED_TABLE_NAME IS NOT NULL
ORDER BY k.TABLE_NAME, k.CONSTRAINT_NAME, k.ORDINAL_POSITION;
)sql";

class MariaDbServer final : public Server
{
public:
    MariaDbServer() : Server(Kind::MariaDb) {}
    ~MariaDbServer() override { stopServer(m_server.get(), SIGTERM); }

    bool begin(QString *why)
    {
        const QString server = findProgram({QStringLiteral("mariadbd"), QStringLiteral("mysqld")});
        const QString installDb =
            findProgram({QStringLiteral("mariadb-install-db"), QStringLiteral("mysql_install_db")});
        const QString admin = findProgram({QStringLiteral("mariadb-admin"), QStringLiteral("mysqladmin")});
        m_client = findProgram({QStringLiteral("mariadb"), QStringLiteral("mysql")});
        if (server.isEmpty() || installDb.isEmpty() || admin.isEmpty() || m_client.isEmpty()) {
            *why = QStringLiteral("not installed: mariadbd, mariadb-install-db, mariadb-admin and mariadb are needed "
                                  "(scripts/install-deps installs them)");
            return false;
        }
        if (!m_folder.isValid()) {
            *why = QStringLiteral("no temporary folder: ") + m_folder.errorString();
            return false;
        }
        m_socket = m_folder.filePath(QStringLiteral("mariadb.sock"));
        if (m_socket.size() > SocketPathLimit) {
            *why = QStringLiteral("the temporary folder's path is too long for a socket: ") + m_folder.path();
            return false;
        }
        // No option file of the system's or the user's; small InnoDB files, and no waiting for the
        // disk, since nothing here outlives the test.
        const QStringList innoDb{
            QStringLiteral("--innodb-log-file-size=4M"), QStringLiteral("--innodb-buffer-pool-size=32M"),
            QStringLiteral("--innodb-doublewrite=0"), QStringLiteral("--innodb-flush-log-at-trx-commit=0")};
        const QString data = m_folder.filePath(QStringLiteral("data"));
        const QString user = currentUser();
        // root@localhost without a password: the client connects as root whoever runs the tests.
        const QStringList install{installDb,
                                  QStringLiteral("--no-defaults"),
                                  QStringLiteral("--datadir=") + data,
                                  QStringLiteral("--auth-root-authentication-method=normal"),
                                  QStringLiteral("--skip-test-db"),
                                  QStringLiteral("--skip-name-resolve"),
                                  QStringLiteral("--user=") + user};
        const ProgramRun installed =
            run(commandAs(QString(), true, install + innoDb), m_folder.path(), QByteArray(), m_environment);
        if (installed.exitCode != 0) {
            *why = said(QStringLiteral("mariadb-install-db"), installed);
            return false;
        }
        QStringList command{server,
                            QStringLiteral("--no-defaults"),
                            QStringLiteral("--datadir=") + data,
                            QStringLiteral("--socket=") + m_socket,
                            QStringLiteral("--skip-networking"),
                            QStringLiteral("--pid-file=") + m_folder.filePath(QStringLiteral("mariadbd.pid")),
                            QStringLiteral("--log-error=") + m_folder.filePath(QStringLiteral("server.log")),
                            QStringLiteral("--character-set-server=utf8mb4"),
                            QStringLiteral("--collation-server=utf8mb4_general_ci")};
        command << innoDb;
        if (::geteuid() == 0)
            command << QStringLiteral("--user=root"); // mariadbd runs as root only when told so
        const QString log = m_folder.filePath(QStringLiteral("server.log"));
        m_server = startServer(commandAs(QString(), true, command), m_folder.path(),
                               m_folder.filePath(QStringLiteral("console.log")), m_environment, why);
        if (!m_server)
            return false;
        const QStringList ping{QStringLiteral("--no-defaults"), QStringLiteral("--socket=") + m_socket,
                               QStringLiteral("--user=root"), QStringLiteral("ping")};
        if (!waitUntilReady(
                *m_server, log,
                [&] {
                    return runProgram(admin, ping, m_folder.path(), QByteArray(), m_environment, 5000).exitCode == 0;
                },
                why))
            return false;
        const ProgramRun version = client(QString(), {QStringLiteral("--skip-column-names")}, "SELECT VERSION();");
        m_version = QString::fromUtf8(version.out).trimmed();
        return true;
    }

    Load load(const QString &sql) override
    {
        m_database = QStringLiteral("load%1").arg(++m_loads);
        const ProgramRun create =
            client(QString(), {}, "CREATE DATABASE " + m_database.toUtf8() + " CHARACTER SET utf8mb4;");
        if (create.exitCode != 0)
            return {1, {said(QStringLiteral("CREATE DATABASE"), create)}};
        const ProgramRun loaded = client(m_database, {QStringLiteral("--force")}, sql.toUtf8());
        static const QRegularExpression error(QStringLiteral("^ERROR( \\d+ \\(\\w+\\))? at line \\d+"));
        static const QRegularExpression other(QStringLiteral("^(Warning|Note) "));
        Load load = clientErrors(loaded.err, error, other);
        // Under --force the client's exit code tells nothing of the statements: only one that ends
        // without an error counted, or crashes, failed on its own.
        if (loaded.exitCode < 0 || (loaded.exitCode != 0 && load.failed == 0)) {
            ++load.failed;
            load.errors << said(QStringLiteral("mariadb"), loaded);
        }
        return load;
    }

    Catalogue catalogue() override
    {
        Catalogue catalogue;
        if (m_database.isEmpty()) {
            catalogue.error = QStringLiteral("nothing was loaded");
            return catalogue;
        }
        const ProgramRun read =
            client(m_database, {QStringLiteral("--skip-column-names"), QStringLiteral("--raw")}, MariaDbCatalogue);
        if (read.exitCode != 0) {
            catalogue.error = said(QStringLiteral("mariadb"), read);
            return catalogue;
        }
        return catalogueFromRows(read.out);
    }

private:
    ProgramRun client(const QString &database, const QStringList &options, const QByteArray &input)
    {
        QStringList arguments{QStringLiteral("--no-defaults"), QStringLiteral("--socket=") + m_socket,
                              QStringLiteral("--user=root"), QStringLiteral("--default-character-set=utf8mb4"),
                              QStringLiteral("--batch")};
        arguments << options;
        if (!database.isEmpty())
            arguments << QStringLiteral("--database=") + database;
        return runProgram(m_client, arguments, m_folder.path(), input, m_environment);
    }

    QTemporaryDir m_folder{QDir::tempPath() + QStringLiteral("/strudex-mariadb-XXXXXX")};
    QProcessEnvironment m_environment = clientEnvironment({QStringLiteral("MYSQL"), QStringLiteral("MARIADB")});
    QString m_client;
    QString m_socket;
    std::unique_ptr<QProcess> m_server;
    int m_loads = 0;
    QString m_database;
};

// SQLite ----------------------------------------------------------------------------------------

using Connection = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;
using Row = QList<std::optional<QString>>;

Connection open(const QString &file, int flags, QString *error)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &db, flags, nullptr);
    Connection connection(db, &sqlite3_close);
    if (rc != SQLITE_OK) {
        *error = QStringLiteral("cannot open %1: %2").arg(file, QString::fromUtf8(sqlite3_errmsg(db)));
        connection.reset();
    }
    return connection;
}

// The rows of a query with at most one text parameter; a NULL stays none.
QList<Row> rows(sqlite3 *db, const char *sql, const QString &parameter, QString *error)
{
    QList<Row> result;
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &prepared, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return result;
    }
    const Statement statement(prepared, &sqlite3_finalize);
    const QByteArray bound = parameter.toUtf8();
    if (sqlite3_bind_parameter_count(prepared) > 0)
        sqlite3_bind_text(prepared, 1, bound.constData(), int(bound.size()), SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(prepared)) == SQLITE_ROW) {
        Row row;
        for (int i = 0; i < sqlite3_column_count(prepared); ++i) {
            if (sqlite3_column_type(prepared, i) == SQLITE_NULL)
                row << std::nullopt;
            else
                row << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(prepared, i)),
                                         sqlite3_column_bytes(prepared, i));
        }
        result << row;
    }
    if (rc != SQLITE_DONE)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    return result;
}

class SqliteServer final : public Server
{
public:
    SqliteServer() : Server(Kind::Sqlite) {}

    bool begin(QString *why)
    {
        if (!m_folder.isValid()) {
            *why = QStringLiteral("no temporary folder: ") + m_folder.errorString();
            return false;
        }
        m_version = QString::fromUtf8(sqlite3_libversion());
        return true;
    }

    // As the sqlite3 shell runs a file: a statement ends at the semicolon that completes it
    // (sqlite3_complete, which knows quotes, comments and a trigger's body), and one that fails
    // leaves the next to run.
    Load load(const QString &sql) override
    {
        m_file = m_folder.filePath(QStringLiteral("load%1.sqlite").arg(++m_loads));
        QString error;
        const Connection db = open(m_file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &error);
        if (!db)
            return {1, {error}};
        // SQLite enforces foreign keys only on a connection that asks: a script's rows must meet
        // them here as on the other servers.
        sqlite3_exec(db.get(), "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
        Load load;
        const QByteArray script = sql.toUtf8();
        qsizetype start = 0;
        int line = 1;
        qsizetype counted = 0;
        const auto execute = [&](qsizetype end) {
            // The statement's line is that of its first word, after any comments before it.
            qsizetype first = start;
            for (;;) {
                while (first < end && QChar::isSpace(uchar(script[first])))
                    ++first;
                const QByteArrayView rest(script.constData() + first, end - first);
                qsizetype after = -1;
                if (rest.startsWith("--")) {
                    after = rest.indexOf('\n');
                } else if (rest.startsWith("/*")) {
                    after = rest.indexOf("*/");
                    if (after >= 0)
                        after += 2;
                } else {
                    break;
                }
                first = after < 0 ? end : first + after;
            }
            if (first == end)
                return;
            line += int(QByteArrayView(script.constData() + counted, first - counted).count('\n'));
            counted = first;
            const QByteArray text = script.mid(start, end - start);
            sqlite3_stmt *prepared = nullptr;
            int rc = sqlite3_prepare_v2(db.get(), text.constData(), int(text.size()), &prepared, nullptr);
            const Statement statement(prepared, &sqlite3_finalize);
            if (rc == SQLITE_OK && prepared) {
                while ((rc = sqlite3_step(prepared)) == SQLITE_ROW) {
                }
                if (rc == SQLITE_DONE)
                    rc = SQLITE_OK;
            }
            if (rc != SQLITE_OK) {
                ++load.failed;
                load.errors
                    << QStringLiteral("near line %1: %2").arg(line).arg(QString::fromUtf8(sqlite3_errmsg(db.get())));
            }
        };
        for (qsizetype i = 0; i < script.size(); ++i) {
            if (script[i] != ';' || !sqlite3_complete(script.mid(start, i + 1 - start).constData()))
                continue;
            execute(i + 1);
            start = i + 1;
        }
        execute(script.size());
        return load;
    }

    Catalogue catalogue() override
    {
        Catalogue catalogue;
        if (m_file.isEmpty()) {
            catalogue.error = QStringLiteral("nothing was loaded");
            return catalogue;
        }
        const Connection db = open(m_file, SQLITE_OPEN_READONLY, &catalogue.error);
        if (!db)
            return catalogue;
        QString &error = catalogue.error;
        const QList<Row> tables =
            rows(db.get(),
                 "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                 "ORDER BY name",
                 QString(), &error);
        for (const Row &tableRow : tables) {
            Table table;
            table.name = *tableRow[0];
            const QByteArray tableName = table.name.toUtf8();
            QStringList primaryColumns;
            for (const Row &r :
                 // table_xinfo, for generated columns are columns too (hidden 2 and 3); 1 is a virtual
                 // table's own.
                 rows(db.get(),
                      "SELECT name, type, \"notnull\", dflt_value FROM pragma_table_xinfo(?1) WHERE hidden <> 1 "
                      "ORDER BY cid",
                      table.name, &error)) {
                Column column;
                column.name = *r[0];
                column.type = r[1].value_or(QString());
                column.notNull = r[2] == QStringLiteral("1");
                column.defaultValue = defaultValue(r[3]);
                int autoIncrement = 0;
                sqlite3_table_column_metadata(db.get(), "main", tableName.constData(), column.name.toUtf8().constData(),
                                              nullptr, nullptr, nullptr, nullptr, &autoIncrement);
                column.autoIncrement = autoIncrement != 0;
                table.columns << column;
            }
            for (const Row &r :
                 rows(db.get(), "SELECT name FROM pragma_table_info(?1) WHERE pk > 0 ORDER BY pk", table.name, &error))
                primaryColumns << *r[0];
            for (const Row &r :
                 rows(db.get(), "SELECT name, \"unique\", origin FROM pragma_index_list(?1) ORDER BY name", table.name,
                      &error)) {
                Index index;
                index.name = *r[0];
                index.unique = r[1] == QStringLiteral("1");
                index.primary = r[2] == QStringLiteral("pk");
                for (const Row &part :
                     rows(db.get(), "SELECT name, \"desc\" FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno",
                          index.name, &error)) {
                    index.columns << part[0].value_or(QStringLiteral("(expression)"));
                    index.descending << (part[1] == QStringLiteral("1"));
                }
                table.indexes << index;
            }
            // An INTEGER PRIMARY KEY is the rowid itself, not an index.
            if (!table.primaryKey() && !primaryColumns.isEmpty()) {
                Index key;
                key.columns = primaryColumns;
                key.descending = QList<bool>(primaryColumns.size(), false);
                key.unique = key.primary = true;
                table.indexes.prepend(key);
            }
            QHash<QString, qsizetype> keyAt;
            for (const Row &r : rows(db.get(),
                                     "SELECT id, \"table\", \"from\", \"to\", on_update, on_delete "
                                     "FROM pragma_foreign_key_list(?1) ORDER BY id, seq",
                                     table.name, &error)) {
                if (!keyAt.contains(*r[0])) {
                    keyAt.insert(*r[0], table.foreignKeys.size());
                    ForeignKey key;
                    key.referencedTable = *r[1];
                    key.onUpdate = *r[4];
                    key.onDelete = *r[5];
                    table.foreignKeys << key;
                }
                ForeignKey &key = table.foreignKeys[keyAt.value(*r[0])];
                key.columns << *r[2];
                key.referencedColumns << r[3].value_or(QString());
            }
            // A key that names no parent columns refers to the parent's primary key.
            for (ForeignKey &key : table.foreignKeys) {
                if (!key.referencedColumns.contains(QString()))
                    continue;
                key.referencedColumns.clear();
                for (const Row &r : rows(db.get(), "SELECT name FROM pragma_table_info(?1) WHERE pk > 0 ORDER BY pk",
                                         key.referencedTable, &error))
                    key.referencedColumns << *r[0];
            }
            catalogue.tables << table;
        }
        return catalogue;
    }

private:
    QTemporaryDir m_folder{QDir::tempPath() + QStringLiteral("/strudex-sqlite-XXXXXX")};
    int m_loads = 0;
    QString m_file;
};

template <class KindOfServer> std::unique_ptr<Server> started(QString *why)
{
    auto server = std::make_unique<KindOfServer>();
    if (!server->begin(why))
        return nullptr;
    return server;
}

} // namespace

std::unique_ptr<Server> Server::start(Kind kind, QString *why)
{
    QString reason;
    std::unique_ptr<Server> server;
    switch (kind) {
    case Kind::PostgreSql:
        server = started<PostgreSqlServer>(&reason);
        break;
    case Kind::Sqlite:
        server = started<SqliteServer>(&reason);
        break;
    case Kind::MariaDb:
        server = started<MariaDbServer>(&reason);
        break;
    }
    if (!server && why)
        *why = QStringLiteral("%1 cannot start: %2").arg(kindName(kind), reason);
    return server;
}

} // namespace TestServers
