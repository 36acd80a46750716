// Many databases through one fork server: each must read exactly as through a worker of its own,
// one server must serve them all, and a child that dies or hangs must cost its own file only,
// described as a worker of its own would be.

#include "core/Failure.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/WorkerProcess.h"
#include "support/EngineFixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <signal.h>

using TestSupport::failureOf;
using TestSupport::testDatabase;

namespace {

std::unique_ptr<Ado::Connection> open(const QString &database)
{
    auto connection = Ado::CreateConnection();
    connection->Open(Access::ConnectionStringFor(database, QString()));
    return connection;
}

// Every user table with its fields, record count and description, one line each.
QStringList summary(Ado::Connection &connection)
{
    QStringList lines;
    for (const Ado::TableRow &row : connection.tables()) {
        if (row.type != QStringLiteral("TABLE"))
            continue;
        auto rs = Ado::CreateRecordset();
        rs->Open(QStringLiteral("select * from [%1]").arg(row.name), connection);
        QString line = row.name + QStringLiteral(" (%1 rows):").arg(rs->RecordCount());
        for (int i = 0; i < rs->FieldCount(); ++i)
            line +=
                QStringLiteral(" %1 %2 %3").arg(rs->Field(i).Name).arg(rs->Field(i).Type).arg(rs->Field(i).DefinedSize);
        line += QStringLiteral(" | ") + connection.tableDescription(row.name).toString();
        lines << line;
    }
    return lines;
}

// The processes whose parent is pid, from /proc.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 candidate = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(proc.filePath(entry + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest[1].toLongLong() == pid)
            children << candidate;
    }
    return children;
}

// Whether the process is gone or a zombie: it does nothing any more.
bool ended(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

const QStringList kDatabases{QStringLiteral("sample.mdb"), QStringLiteral("types.mdb"),
                             QStringLiteral("structure.accdb")};

} // namespace

class ForkServerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        TestSupport::useBuiltEngine();
        Ado::WorkerSettings::setNoProgressTimeoutMs(30000);
        Ado::WorkerSettings::setForkPerDatabase(true);
    }

    void cleanup()
    {
        Ado::Connection::releaseKept();
        Ado::Worker::releaseParked();
        Ado::WorkerSettings::setForkPerDatabase(false);
    }

    void databasesInSequenceShareOneServer()
    {
        // What a worker of its own reads of each database.
        Ado::WorkerSettings::setForkPerDatabase(false);
        QList<QStringList> alone;
        for (const QString &name : kDatabases) {
            auto connection = open(testDatabase(name));
            alone << summary(*connection);
            QVERIFY2(!alone.last().isEmpty(), qPrintable(name));
        }
        Ado::Connection::releaseKept();

        Ado::WorkerSettings::setForkPerDatabase(true);
        Ado::WorkerTraffic::reset();
        qint64 server = 0;
        for (qsizetype i = 0; i < kDatabases.size(); ++i) {
            auto connection = open(testDatabase(kDatabases[i]));
            if (i == 0)
                server = connection->worker().processId();
            QVERIFY(server > 0);
            QCOMPARE(connection->worker().processId(), server);
            QCOMPARE(summary(*connection), alone[i]);
        }
        QCOMPARE(Ado::WorkerTraffic::enginesStarted(), 1);
        QCOMPARE(Ado::WorkerTraffic::databasesOpened(), 3);
    }

    void childThatDiesOrHangsCostsOnlyItsFile_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("expected");
        QTest::newRow("crash") << int(SIGKILL)
                               << QStringLiteral("The database engine stopped unexpectedly while reading '%1' (it "
                                                 "crashed). The file may be damaged.");
        QTest::newRow("hang") << int(SIGSTOP)
                              << QStringLiteral("The database engine made no progress for 0.5 seconds while reading "
                                                "'%1' and was stopped. The file may be damaged.");
    }

    void childThatDiesOrHangsCostsOnlyItsFile()
    {
#ifndef Q_OS_LINUX
        QSKIP("The child of the fork server is found through /proc.");
#else
        QFETCH(int, signal);
        QFETCH(QString, expected);
        Ado::WorkerSettings::setNoProgressTimeoutMs(500);
        Ado::WorkerTraffic::reset();
        const QString first = testDatabase(QStringLiteral("sample.mdb"));
        auto connection = open(first);
        const qint64 server = connection->worker().processId();
        // The server forks the next child only once this one has ended: it has one.
        const QList<qint64> children = childrenOf(server);
        QCOMPARE(children.size(), 1);
        QCOMPARE(::kill(pid_t(children[0]), signal), 0);
        const Failure failure = failureOf([&] { connection->tables(); });
        QCOMPARE(failure.description(), expected.arg(first));
        QCOMPARE(connection->State(), Ado::adStateClosed);
        // Its server took a stopped child with it.
        QTRY_VERIFY(ended(children[0]));
        connection->Close();

        auto next = open(testDatabase(QStringLiteral("types.mdb")));
        QVERIFY(next->worker().processId() != server);
        QVERIFY(next->tables().size() > 0);
        QVERIFY(!summary(*next).isEmpty());
        QCOMPARE(Ado::WorkerTraffic::enginesStarted(), 2);
#endif
    }
};

QTEST_GUILESS_MAIN(ForkServerTest)
#include "tst_fork_server.moc"
