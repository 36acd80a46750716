#include "core/Failure.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/ConnectionText.h"
#include "core/db/WorkerProcess.h"
#include "support/EngineFixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using TestSupport::failureOf;
using TestSupport::testDatabase;

namespace {

std::unique_ptr<Ado::Connection> open(const QString &database, const QString &password = QString())
{
    auto connection = Ado::CreateConnection();
    connection->Open(Access::ConnectionStringFor(database, password));
    return connection;
}

struct Expected
{
    QString name;
    int type;
    qint64 size;
};

void compareFields(const Ado::Recordset &rs, const QList<Expected> &expected)
{
    QCOMPARE(rs.FieldCount(), expected.size());
    for (int j = 0; j < rs.FieldCount(); ++j) {
        const Ado::FieldInfo field = rs.Field(j);
        QCOMPARE(field.Name, expected[j].name);
        QCOMPARE(field.Type, expected[j].type);
        if (expected[j].size >= 0)
            QCOMPARE(field.DefinedSize, expected[j].size);
    }
}

// A stand-in for strudex-engine written as a shell script: the only way to see how the program
// copes with a worker that lies, hangs or dies.
QString fakeWorker(QTemporaryDir &dir, const QByteArray &script)
{
    const QString path = dir.filePath(QStringLiteral("fake-engine"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n" + script + "\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace

class AdoTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        TestSupport::useBuiltEngine();
        Ado::WorkerSettings::setNoProgressTimeoutMs(30000);
    }

    void connectionTextIsReadByItsKeys()
    {
        const auto target = Ado::ParseConnectionText(QStringLiteral(
            "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/a;b=c/x.accdb;JET OLEDB:Database Password=Pa;ss=w0rd"));
        QCOMPARE(target.dataSource, QStringLiteral("/a;b=c/x.accdb"));
        QCOMPARE(target.password, QStringLiteral("Pa;ss=w0rd"));
        const auto jet = Ado::ParseConnectionText(
            QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source= x.mdb ;JET OLEDB:Database Password="));
        QCOMPARE(jet.dataSource, QStringLiteral(" x.mdb "));
        QCOMPARE(jet.password, QString());
        QCOMPARE(
            failureOf([] { Ado::ParseConnectionText(QStringLiteral("Provider=SQLOLEDB;Data Source=x")); }).number(),
            3706L);
        QCOMPARE(failureOf([] { Ado::ParseConnectionText(QStringLiteral("Data Source=x.mdb")); }).number(), 3001L);
        QCOMPARE(failureOf([] { Ado::ParseConnectionText(QString()); }).number(), 3001L);
    }

    void fieldsTypesSizesAndCounts()
    {
        auto connection = open(testDatabase(QStringLiteral("sample.mdb")));
        QCOMPARE(connection->State(), Ado::adStateOpen);
        auto rs = Ado::CreateRecordset();
        rs->Open(QStringLiteral("select * from [Customers]"), *connection, Ado::adOpenStatic, Ado::adLockOptimistic);
        compareFields(*rs, {{QStringLiteral("CustomerID"), 3, 4},
                            {QStringLiteral("CompanyName"), 202, 40},
                            {QStringLiteral("ContactName"), 202, 30},
                            {QStringLiteral("Country"), 202, 15},
                            {QStringLiteral("Phone"), 202, 24},
                            {QStringLiteral("CreditLimit"), 6, 8}});
        QCOMPARE(rs->RecordCount(), 91);
        QCOMPARE(rs->State(), Ado::adStateOpen);
        rs->Close();
        QCOMPARE(rs->State(), Ado::adStateClosed);

        rs->Open(QStringLiteral("select * from [Order Details]"), *connection);
        QCOMPARE(rs->RecordCount(), 2155);
        rs->Close();
        rs->Open(QStringLiteral("select * from [Shippers]"), *connection);
        compareFields(*rs, {{QStringLiteral("ShipperID"), 17, 1},
                            {QStringLiteral("CompanyName"), 202, 40},
                            {QStringLiteral("Website"), 203, 536870910}});
        rs->Close();
        rs->Open(QStringLiteral("select * from [Products]"), *connection);
        QCOMPARE(rs->Field(4).Type, 11);
        QCOMPARE(rs->Field(5).Type, 205);
        QCOMPARE(rs->Field(5).DefinedSize, 1073741823);
    }

    // What the design says of each field, as ADO's attributes, and the table's own description:
    // the same whether the tables are read ahead in one answer or asked for one by one.
    void fieldAttributesAndTableDescription_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<bool>("ahead");
        for (const char *name : {"structure.accdb", "structure.mdb"}) {
            QTest::addRow("%s, one by one", name) << QString::fromLatin1(name) << false;
            QTest::addRow("%s, read ahead", name) << QString::fromLatin1(name) << true;
        }
    }

    void fieldAttributesAndTableDescription()
    {
        QFETCH(QString, database);
        QFETCH(bool, ahead);
        constexpr int mayDefer = 0x2, updatable = 0x4, fixed = 0x10, nullable = 0x20 | 0x40, isLong = 0x80;
        Ado::Connection::releaseKept();
        auto connection = open(testDatabase(database));
        if (ahead)
            connection->readAhead({QStringLiteral("Customers"), QStringLiteral("Customer Profile"),
                                   QStringLiteral("Orders"), QStringLiteral("Branches")});
        Ado::Catalog catalog;
        catalog.setActiveConnection(*connection);
        const auto attributesOf = [&](const QString &table) {
            auto rs = Ado::CreateRecordset();
            rs->Open(QStringLiteral("select * from [%1]").arg(table), *connection);
            QList<int> attributes;
            for (int i = 0; i < rs->FieldCount(); ++i)
                attributes << rs->Field(i).Attributes;
            return attributes;
        };
        // CustomerID is an AutoNumber; Name is Required; Since is a date.
        QCOMPARE(attributesOf(QStringLiteral("Customers")),
                 (QList<int>{fixed | nullable, updatable, updatable | nullable, updatable | nullable,
                             updatable | fixed | nullable}));
        QCOMPARE(catalog.Tables(QStringLiteral("Customers")).Property(QStringLiteral("Description")),
                 QVariant(QStringLiteral("Who buys from us")));
        // A memo is a long value, fetched apart from its row.
        QCOMPARE(attributesOf(QStringLiteral("Customer Profile")),
                 (QList<int>{updatable | fixed | nullable, isLong | mayDefer | updatable | nullable}));
        // Orders.CustomerID is Required.
        QCOMPARE(attributesOf(QStringLiteral("Orders")).mid(0, 2), (QList<int>{fixed | nullable, updatable | fixed}));
        QVERIFY(catalog.Tables(QStringLiteral("Branches")).Property(QStringLiteral("Description")).isNull());
        QCOMPARE(failureOf([&] {
                     catalog.Tables(QStringLiteral("Customers")).Property(QStringLiteral("Caption"));
                 }).number(),
                 3265L);
    }

    void everyTypeOfAnAccess2019Database()
    {
        auto connection = open(testDatabase(QStringLiteral("types2019.accdb")));
        auto rs = Ado::CreateRecordset();
        rs->Open(QStringLiteral("SELECT * FROM [AllTypes]"), *connection);
        compareFields(*rs, {{QStringLiteral("Flag"), 11, -1},          {QStringLiteral("Tiny"), 17, 1},
                            {QStringLiteral("Small"), 2, 2},           {QStringLiteral("Whole"), 3, 4},
                            {QStringLiteral("Counter"), 3, 4},         {QStringLiteral("Price"), 6, 8},
                            {QStringLiteral("Ratio"), 4, 4},           {QStringLiteral("Measure"), 5, 8},
                            {QStringLiteral("Stamp"), 7, 8},           {QStringLiteral("Raw"), 204, 16},
                            {QStringLiteral("Letter"), 202, 1},        {QStringLiteral("Name"), 202, 50},
                            {QStringLiteral("LongText"), 202, 255},    {QStringLiteral("Picture"), 205, 1073741823},
                            {QStringLiteral("Notes"), 203, 536870910}, {QStringLiteral("Link"), 203, 536870910},
                            {QStringLiteral("Ident"), 72, 16},         {QStringLiteral("Amount"), 131, -1},
                            {QStringLiteral("Huge"), 20, 8},           {QStringLiteral("Precise"), 135, -1},
                            {QStringLiteral("Doubled"), 5, -1},        {QStringLiteral("Label"), 202, -1}});
        QCOMPARE(rs->RecordCount(), 25);
    }

    void onlySelectStarQueriesAreAnswered()
    {
        auto connection = open(testDatabase(QStringLiteral("sample.mdb")));
        auto rs = Ado::CreateRecordset();
        QCOMPARE(
            failureOf([&] { rs->Open(QStringLiteral("select CustomerID from [Customers]"), *connection); }).number(),
            3131L);
        QCOMPARE(failureOf([&] { rs->Open(QStringLiteral("select * from Customers"), *connection); }).number(), 3131L);
        const Failure missing = failureOf([&] { rs->Open(QStringLiteral("select * from [Nope]"), *connection); });
        QCOMPARE(missing.number(), 3078L);
        QCOMPARE(
            missing.description(),
            QStringLiteral("The Microsoft Jet database engine cannot find the input table or query 'Nope'.  Make sure "
                           "it exists and that its name is spelled correctly."));
        QCOMPARE(rs->State(), Ado::adStateClosed);
        QCOMPARE(failureOf([&] { rs->RecordCount(); }).number(), 3704L);
        // The connection survives refused queries.
        rs->Open(QStringLiteral("select * from [Orders]"), *connection);
        QCOMPARE(rs->RecordCount(), 830);
    }

    void schemaRowsetListsEveryKindOfTableByName()
    {
        auto connection = open(testDatabase(QStringLiteral("linked.mdb")));
        auto rows = connection->OpenSchema(Ado::adSchemaTables);
        QStringList links;
        QString previous;
        while (!rows->Eof()) {
            const QString name = rows->Value(QStringLiteral("TABLE_NAME"));
            QVERIFY(previous.compare(name, Qt::CaseInsensitive) <= 0);
            previous = name;
            if (rows->Value(QStringLiteral("TABLE_TYPE")) == QStringLiteral("LINK"))
                links << name;
            QVERIFY(rows->Value(QStringLiteral("TABLE_TYPE")) != QStringLiteral("TABLE"));
            rows->MoveNext();
        }
        QCOMPARE(links, (QStringList{QStringLiteral("Linked Customers"), QStringLiteral("Linked Orders")}));
        QCOMPARE(failureOf([&] { rows->MoveNext(); }).number(), 3021L);
        QCOMPARE(failureOf([&] { connection->OpenSchema(4); }).number(), 3251L);
    }

    void connectionStates()
    {
        auto connection = Ado::CreateConnection();
        QCOMPARE(connection->State(), Ado::adStateClosed);
        const Failure missing =
            failureOf([&] { connection->Open(Access::ConnectionStringFor(QStringLiteral("/nonexistent/x.mdb"), {})); });
        QCOMPARE(missing.number(), 3024L);
        QCOMPARE(missing.description(), QStringLiteral("Could not find file '/nonexistent/x.mdb'."));
        QCOMPARE(connection->State(), Ado::adStateClosed);
        connection->Open(Access::ConnectionStringFor(testDatabase(QStringLiteral("empty.mdb")), {}));
        QCOMPARE(failureOf([&] {
                     connection->Open(Access::ConnectionStringFor(testDatabase(QStringLiteral("empty.mdb")), {}));
                 }).number(),
                 3705L);
        connection->Close();
        QCOMPARE(connection->State(), Ado::adStateClosed);
        auto rs = Ado::CreateRecordset();
        QCOMPARE(failureOf([&] { rs->Open(QStringLiteral("select * from [x]"), *connection); }).number(), 3704L);
    }

    void damagedCopiesNeverTakeTheProgramDown()
    {
        // Damage the catalogue and table pages of a good database in many ways; every open and read
        // must end in an answer or a Failure, never a crash or a wait without end.
        Ado::WorkerSettings::setNoProgressTimeoutMs(5000);
        QFile good(testDatabase(QStringLiteral("sample.mdb")));
        QVERIFY(good.open(QIODevice::ReadOnly));
        const QByteArray original = good.readAll();
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("damaged.mdb"));
        quint32 seed = 12345;
        auto next = [&] {
            seed = seed * 1103515245u + 12345u;
            return seed >> 8;
        };
        int failures = 0;
        for (int round = 0; round < 24; ++round) {
            QByteArray bytes = original;
            if (round % 6 == 5) {
                bytes.truncate(4096 * (1 + int(next() % 8)));
            } else {
                const int flips = 1 + int(next() % 40);
                for (int i = 0; i < flips; ++i) {
                    // Pages 1 to 12 hold the catalogue and the first table definitions.
                    const int at = 4096 + int(next() % (12 * 4096));
                    bytes[at] = char(next());
                }
            }
            QFile out(copy);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(bytes);
            out.close();
            try {
                auto connection = open(copy);
                for (const auto &row : connection->tables()) {
                    if (row.type != QStringLiteral("TABLE"))
                        continue;
                    auto rs = Ado::CreateRecordset();
                    rs->Open(QStringLiteral("select * from [") + row.name + QLatin1Char(']'), *connection);
                    QVERIFY(rs->RecordCount() >= 0);
                }
            } catch (const Failure &failure) {
                ++failures;
                QVERIFY(!failure.description().isEmpty());
            }
        }
        qInfo("%d of 24 damaged copies were refused", failures);
    }

    void fileDigestIsTheSha256OfTheFileOnDisk_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << QStringLiteral("sample.mdb") << QString();
        QTest::newRow("password") << QStringLiteral("password.mdb") << QStringLiteral("Pa;ss=w0rd");
    }

    void fileDigestIsTheSha256OfTheFileOnDisk()
    {
        QFETCH(QString, name);
        QFETCH(QString, password);
        auto connection = open(testDatabase(name), password);
        QFile file(testDatabase(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray expected = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
        QCOMPARE(connection->fileDigest(), expected);
    }

    void fileDigestOfAFileGoneSinceOpeningFails()
    {
        const QString copy = TestSupport::copyOfTestDatabase(QStringLiteral("types.mdb"));
        auto connection = open(copy);
        QVERIFY(QFile::remove(copy));
        const Failure failure = failureOf([&] { connection->fileDigest(); });
        QCOMPARE(failure.number(), 3024L);
        QCOMPARE(failure.description(), QStringLiteral("Could not find file '%1'.").arg(copy));
        // An answer like any other: the connection goes on.
        QVERIFY(!connection->tables().empty());
        connection->Close();
        QCOMPARE(failureOf([&] { connection->fileDigest(); }).number(), 3704L);
    }

    void memoryLimitThatTripsIsNamed()
    {
#ifdef STRUDEX_SANITIZED
        QSKIP("Sanitizer builds give the worker no memory limit.");
#else
        Ado::WorkerSettings::setMemoryLimitMb(5);
        const Failure failure = failureOf([&] { open(testDatabase(QStringLiteral("many.accdb"))); });
        Ado::WorkerSettings::setMemoryLimitMb(2048);
        QVERIFY2(failure.description().contains(QStringLiteral("5 MB of memory")), qPrintable(failure.description()));
#endif
    }

    void workerThatTalksNonsenseIsStopped()
    {
        QTemporaryDir dir;
        Ado::WorkerSettings::setProgram(
            fakeWorker(dir, "head -c 4 >/dev/null; printf 'garbage that is not a frame at all'; sleep 5"));
        auto connection = Ado::CreateConnection();
        const Failure failure =
            failureOf([&] { connection->Open(Access::ConnectionStringFor(QStringLiteral("/x.mdb"), {})); });
        QVERIFY2(failure.description().contains(QStringLiteral("cannot be understood")),
                 qPrintable(failure.description()));
        QCOMPARE(connection->State(), Ado::adStateClosed);
    }

    void workerOfAnotherVersionIsNotInstalledProperly()
    {
        QTemporaryDir dir;
        QFile answer(dir.filePath(QStringLiteral("hello.bin")));
        QVERIFY(answer.open(QIODevice::WriteOnly));
        const EngineProtocol::Bytes hello =
            EngineProtocol::frame(EngineProtocol::encodeHelloResult(EngineProtocol::kProtocolVersion + 1));
        answer.write(reinterpret_cast<const char *>(hello.data()), qsizetype(hello.size()));
        answer.close();
        const QString worker = fakeWorker(dir, "cat '" + QFile::encodeName(answer.fileName()) + "'; sleep 5");
        Ado::WorkerSettings::setProgram(worker);
        auto connection = Ado::CreateConnection();
        const Failure failure =
            failureOf([&] { connection->Open(Access::ConnectionStringFor(QStringLiteral("/x.mdb"), {})); });
        QCOMPARE(failure.number(), 3706L);
        const QString expected = QStringLiteral("(%1: it speaks protocol version %2, this program speaks version %3)")
                                     .arg(QDir::toNativeSeparators(worker))
                                     .arg(EngineProtocol::kProtocolVersion + 1)
                                     .arg(EngineProtocol::kProtocolVersion);
        QVERIFY2(failure.description().contains(expected), qPrintable(failure.description()));
        QVERIFY2(failure.description().startsWith(QStringLiteral("Provider cannot be found.")),
                 qPrintable(failure.description()));
        QCOMPARE(connection->State(), Ado::adStateClosed);
    }

    void workerThatClaimsAHugeFrameIsStopped()
    {
        QTemporaryDir dir;
        Ado::WorkerSettings::setProgram(fakeWorker(dir, "printf '\\377\\377\\377\\377'; sleep 5"));
        auto connection = Ado::CreateConnection();
        const Failure failure =
            failureOf([&] { connection->Open(Access::ConnectionStringFor(QStringLiteral("/x.mdb"), {})); });
        QVERIFY2(failure.description().contains(QStringLiteral("cannot be understood")),
                 qPrintable(failure.description()));
    }

    void workerThatDiesIsReported()
    {
        QTemporaryDir dir;
        Ado::WorkerSettings::setProgram(fakeWorker(dir, "kill -SEGV $$"));
        auto connection = Ado::CreateConnection();
        const Failure failure =
            failureOf([&] { connection->Open(Access::ConnectionStringFor(QStringLiteral("/x.mdb"), {})); });
        QVERIFY2(failure.description().contains(QStringLiteral("stopped unexpectedly while reading '/x.mdb'")),
                 qPrintable(failure.description()));
    }

    void workerThatHangsIsStoppedAfterTheTimeOut()
    {
        QTemporaryDir dir;
        Ado::WorkerSettings::setProgram(fakeWorker(dir, "exec sleep 60"));
        Ado::WorkerSettings::setNoProgressTimeoutMs(400);
        auto connection = Ado::CreateConnection();
        QElapsedTimer timer;
        timer.start();
        const Failure failure =
            failureOf([&] { connection->Open(Access::ConnectionStringFor(QStringLiteral("/x.mdb"), {})); });
        QVERIFY2(failure.description().contains(QStringLiteral("made no progress")), qPrintable(failure.description()));
        QVERIFY(timer.elapsed() < 10000);
    }
};

QTEST_GUILESS_MAIN(AdoTest)
#include "tst_ado.moc"
