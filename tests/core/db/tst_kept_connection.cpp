// One export, one opening of the database: the worker that listed the tables is kept for the
// export when the file has not changed, and the export's tables are read in one streamed answer.
// Both must give exactly what a fresh connection asking table by table gives, and a file changed
// or replaced in between must be read again.

#include "core/Failure.h"
#include "core/PathUtilities.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/WorkerProcess.h"
#include "core/report/StructureReport.h"
#include "protocol/EngineProtocol.h"
#include "support/EngineFixture.h"
#include "support/RecordingView.h"
#include "support/ScriptedDialogs.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

using TestSupport::testDatabase;

namespace {

QString databasePath;

// A copy old enough for a later change to show in its times (file systems that keep whole
// seconds need two of them).
QString settledCopy(const QString &name)
{
    const QString copy = TestSupport::copyOfTestDatabase(name);
    QThread::msleep(150);
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(copy).constData(), &info) == 0 && info.st_mtim.tv_nsec == 0)
        QThread::msleep(2100);
    return copy;
}

struct Export
{
    QByteArray report;
    QStringList messages;
    qint64 opens = 0;
    qint64 frames = 0;
};

// "Next >" (the list) and then "Start Exporting" of the rows given, the way both windows do it.
Export listAndExport(const QString &path, const QStringList &rows, const QString &reportFile)
{
    databasePath = path;
    Ado::WorkerTraffic::reset();
    ScriptedDialogs dialogs;
    Access::NonSystemTables(dialogs, {path, QString()});
    RecordingView view;
    for (const QString &row : rows)
        view.rows.append({row, true});
    StructureReport::generateStructure(dialogs, view, {databasePath, QString()}, reportFile, qint32(rows.size()));
    Export result;
    QFile file(reportFile);
    if (file.open(QIODevice::ReadOnly))
        result.report = file.readAll();
    result.messages = dialogs.texts();
    result.opens = Ado::WorkerTraffic::databasesOpened();
    result.frames = Ado::WorkerTraffic::framesSent() + Ado::WorkerTraffic::framesReceived();
    return result;
}

// "Start Exporting" alone, after whatever was listed before.
Export exportOnly(const QString &path, const QStringList &rows, const QString &reportFile)
{
    databasePath = path;
    Ado::WorkerTraffic::reset();
    ScriptedDialogs dialogs;
    RecordingView view;
    for (const QString &row : rows)
        view.rows.append({row, true});
    StructureReport::generateStructure(dialogs, view, {databasePath, QString()}, reportFile, qint32(rows.size()));
    Export result;
    QFile file(reportFile);
    if (file.open(QIODevice::ReadOnly))
        result.report = file.readAll();
    result.messages = dialogs.texts();
    result.opens = Ado::WorkerTraffic::databasesOpened();
    return result;
}

// The same export on its own, without any worker kept from before.
Export freshExport(const QString &path, const QStringList &rows, const QString &reportFile)
{
    Ado::Connection::releaseKept();
    databasePath = path;
    ScriptedDialogs dialogs;
    RecordingView view;
    for (const QString &row : rows)
        view.rows.append({row, true});
    StructureReport::generateStructure(dialogs, view, {databasePath, QString()}, reportFile, qint32(rows.size()));
    Export result;
    QFile file(reportFile);
    if (file.open(QIODevice::ReadOnly))
        result.report = file.readAll();
    result.messages = dialogs.texts();
    return result;
}

// What a table gives: its fields and count, then every field's description, or the failures.
QStringList answersFor(Ado::Connection &connection, const QString &table)
{
    QStringList answers;
    auto recordset = Ado::CreateRecordset();
    try {
        recordset->Open(QStringLiteral("select * from [") + table + QLatin1Char(']'), connection);
        answers << QStringLiteral("records %1").arg(recordset->RecordCount());
    } catch (const Failure &failure) {
        answers << QStringLiteral("fields failed %1 %2").arg(failure.number()).arg(failure.description());
    }
    QStringList columns;
    for (int i = 0; i < recordset->FieldCount(); ++i) {
        const Ado::FieldInfo field = recordset->Field(i);
        answers << QStringLiteral("%1 %2 %3 %4")
                       .arg(field.Name)
                       .arg(field.Type)
                       .arg(field.DefinedSize)
                       .arg(field.Attributes);
        columns << field.Name;
    }
    // Descriptions also of a column that does not exist, and of a table without fields.
    columns << QStringLiteral("no such column");
    Ado::Catalog catalog;
    for (const QString &column : columns) {
        try {
            catalog.setActiveConnection(connection);
            const QVariant description = catalog.Tables(table).ColumnProperty(column, QStringLiteral("Description"));
            answers << column + (description.isNull() ? QStringLiteral(": null")
                                                      : QStringLiteral(": ") + description.toString());
        } catch (const Failure &failure) {
            answers << QStringLiteral("%1: failed %2 %3").arg(column).arg(failure.number()).arg(failure.description());
        }
    }
    try {
        const QVariant description = catalog.Tables(table).Property(QStringLiteral("Description"));
        answers << QStringLiteral("table: ") + (description.isNull() ? QStringLiteral("null") : description.toString());
    } catch (const Failure &failure) {
        answers << QStringLiteral("table: failed %1 %2").arg(failure.number()).arg(failure.description());
    }
    return answers;
}

// A worker that says its protocol version and then what it is given, whatever it is asked, and
// then ends as a crash would.
QString scriptedWorker(QTemporaryDir &dir, std::vector<EngineProtocol::Bytes> answers)
{
    QFile frames(dir.filePath(QStringLiteral("answers.bin")));
    if (!frames.open(QIODevice::WriteOnly))
        return QString();
    answers.insert(answers.begin(), EngineProtocol::encodeHelloResult());
    for (const EngineProtocol::Bytes &answer : answers) {
        const EngineProtocol::Bytes framed = EngineProtocol::frame(answer);
        frames.write(reinterpret_cast<const char *>(framed.data()), qsizetype(framed.size()));
    }
    frames.close();
    const QString path = dir.filePath(QStringLiteral("scripted-engine"));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return QString();
    script.write("#!/bin/sh\ncat '" + QFile::encodeName(frames.fileName()) + "'\nsleep 1\nexit 70\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace

class KeptConnectionTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir out;

private slots:
    void initTestCase()
    {
        TestSupport::useBuiltEngine();
        Main::SetAppTitle();
    }

    void cleanup() { Ado::Connection::releaseKept(); }

    void oneOpeningPerExport()
    {
        const QString path = settledCopy(QStringLiteral("sample.mdb"));
        ScriptedDialogs dialogs;
        databasePath = path;
        const QStringList tables = Access::NonSystemTables(dialogs, {path, QString()}).value_or(QStringList());
        QCOMPARE(tables.size(), 5);
        Ado::Connection::releaseKept();
        const Export kept = listAndExport(path, tables, out.filePath(QStringLiteral("kept_Structure.txt")));
        QCOMPARE(kept.opens, 1);
        QVERIFY2(kept.frames < 20, qPrintable(QString::number(kept.frames)));
        const Export fresh = freshExport(path, tables, out.filePath(QStringLiteral("fresh_Structure.txt")));
        QCOMPARE(kept.report, fresh.report);
        QCOMPARE(kept.messages, fresh.messages);
        QCOMPARE(kept.messages, QStringList{QStringLiteral("Done.")});
    }

    void databaseReplacedBetweenListingAndExportingIsNoticed()
    {
        const QString path = settledCopy(QStringLiteral("sample.mdb"));
        ScriptedDialogs dialogs;
        databasePath = path;
        const QStringList sampleTables = Access::NonSystemTables(dialogs, {path, QString()}).value_or(QStringList());
        QCOMPARE(sampleTables.size(), 5);
        const Export sample = freshExport(path, sampleTables, out.filePath(QStringLiteral("sample_Structure.txt")));

        // Listed, then another database put in its place under the same name.
        databasePath = path;
        QVERIFY(Access::NonSystemTables(dialogs, {path, QString()}));
        const QString other = settledCopy(QStringLiteral("types.mdb"));
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::rename(other, path));
        RecordingView view;
        for (const QString &row : sampleTables)
            view.rows.append({row, true});
        Ado::WorkerTraffic::reset();
        ScriptedDialogs exporting;
        const QString reportFile = out.filePath(QStringLiteral("replaced_Structure.txt"));
        StructureReport::generateStructure(exporting, view, {databasePath, QString()}, reportFile,
                                           qint32(sampleTables.size()));
        QCOMPARE(Ado::WorkerTraffic::databasesOpened(), 1);
        QFile file(reportFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray report = file.readAll();
        QVERIFY(report != sample.report);
        // Exactly what an export of the new file gives: its tables are not the ones listed.
        const Export fresh = freshExport(path, sampleTables, out.filePath(QStringLiteral("fresh_Structure.txt")));
        QCOMPARE(report, fresh.report);
        QCOMPARE(exporting.texts(), fresh.messages);
        QVERIFY(exporting.texts().at(0).startsWith(
            QStringLiteral("The Microsoft Jet database engine cannot find the input table or query 'Customers'.")));
        QVERIFY(exporting.texts().at(0).contains(QStringLiteral("at line 154")));
    }

    void databaseRewrittenInPlaceIsNoticed()
    {
        // The same file, written over with another database and given back its old time.
        const QString path = settledCopy(QStringLiteral("sample.mdb"));
        const QDateTime modified = QFileInfo(path).lastModified();
        ScriptedDialogs dialogs;
        databasePath = path;
        const QStringList tables = Access::NonSystemTables(dialogs, {path, QString()}).value_or(QStringList());
        QCOMPARE(tables.size(), 5);
        QFile source(testDatabase(QStringLiteral("types.mdb")));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QFile target(path);
        QVERIFY(target.open(QIODevice::ReadWrite));
        QVERIFY(target.write(source.readAll()) > 0);
        QVERIFY(target.setFileTime(modified, QFileDevice::FileModificationTime));
        target.close();
        QCOMPARE(QFileInfo(path).lastModified(), modified);

        const Export rewritten = exportOnly(path, tables, out.filePath(QStringLiteral("rewritten_Structure.txt")));
        QCOMPARE(rewritten.opens, 1);
        const Export fresh = freshExport(path, tables, out.filePath(QStringLiteral("fresh_Structure.txt")));
        QCOMPARE(rewritten.report, fresh.report);
        QCOMPARE(rewritten.messages, fresh.messages);
        QVERIFY(rewritten.messages.size() > 1);
    }

    void databaseGoneBeforeTheExportIsReportedAsBefore()
    {
        const QString path = settledCopy(QStringLiteral("sample.mdb"));
        ScriptedDialogs dialogs;
        databasePath = path;
        const QStringList tables = Access::NonSystemTables(dialogs, {path, QString()}).value_or(QStringList());
        QVERIFY(QFile::remove(path));
        RecordingView view;
        for (const QString &row : tables)
            view.rows.append({row, true});
        ScriptedDialogs exporting;
        databasePath = path;
        StructureReport::generateStructure(exporting, view, {databasePath, QString()},
                                           out.filePath(QStringLiteral("gone_Structure.txt")), qint32(tables.size()));
        QVERIFY(exporting.texts().at(0).startsWith(QStringLiteral("Could not find file '%1'.").arg(path)));
        QVERIFY(exporting.texts().at(0).contains(QStringLiteral("Form2.generateStructure at line 138")));
    }

    void readAheadAnswersAsTableByTable_data()
    {
        QTest::addColumn<QString>("database");
        for (const char *name : {"sample.mdb", "types.mdb", "types2019.accdb", "many.accdb", "layout.mdb", "linked.mdb",
                                 "empty.mdb", "structure.accdb", "structure.mdb"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void readAheadAnswersAsTableByTable()
    {
        QFETCH(QString, database);
        const QString path = testDatabase(database);
        Ado::Connection::releaseKept();
        auto ahead = Ado::CreateConnection();
        ahead->Open(Access::ConnectionStringFor(path, QString()));
        auto single = Ado::CreateConnection();
        single->Open(Access::ConnectionStringFor(path, QString()));

        // Every table the catalogue knows (links and queries included), and names it does not.
        QStringList names;
        for (const Ado::TableRow &row : single->tables())
            names << row.name;
        names << QStringLiteral("No Such Table") << QStringLiteral("customers") << QString();
        ahead->readAhead(names);
        for (const QString &name : names)
            QCOMPARE(answersFor(*ahead, name), answersFor(*single, name));
    }

    void answerThatBreaksOffBelongsToTheFirstRecordNotSent()
    {
        // The worker sends table A's fields, then the crash guard's error, and dies: A's
        // descriptions get that error once, as a ColumnDescriptions request would have; the next
        // question finds the worker gone, and after that the connection is closed, as before.
        namespace P = EngineProtocol;
        P::Writer records;
        P::appendFieldsRecord(records, "A", {{{"x", 3, 4}}, 7});
        QTemporaryDir dir;
        const QString worker =
            scriptedWorker(dir, {P::encodeOk(), P::encodeTablesResult({{"A", "TABLE"}, {"B", "TABLE"}}),
                                 P::encodePart(1, records.bytes()), P::encodeError(3343, "The engine failed on 'A'.")});
        QVERIFY(!worker.isEmpty());
        Ado::WorkerSettings::setProgram(worker);
        Ado::Connection connection;
        connection.Open(Access::ConnectionStringFor(QStringLiteral("/scripted.mdb"), QString()));
        connection.readAhead({QStringLiteral("A"), QStringLiteral("B")});
        QStringList a = answersFor(connection, QStringLiteral("A"));
        TestSupport::useBuiltEngine();
        QCOMPARE(a.value(0), QStringLiteral("records 7"));
        QCOMPARE(a.value(1), QStringLiteral("x 3 4 0"));
        QCOMPARE(a.value(2), QStringLiteral("x: failed 3343 The engine failed on 'A'."));
        QVERIFY2(a.value(3).startsWith(QStringLiteral("no such column: failed 0 The database engine stopped "
                                                      "unexpectedly while reading '/scripted.mdb'")),
                 qPrintable(a.value(3)));
        const QStringList b = answersFor(connection, QStringLiteral("B"));
        QCOMPARE(b.value(0), QStringLiteral("fields failed 3704 Operation is not allowed when the object is closed."));
    }

    void tablesOutsideTheReadAheadAreStillAnswered()
    {
        auto connection = Ado::CreateConnection();
        connection->Open(Access::ConnectionStringFor(testDatabase(QStringLiteral("sample.mdb")), QString()));
        connection->readAhead({QStringLiteral("Orders"), QStringLiteral("Customers")});
        // Asked out of order, and one that was not read ahead while the answer is still coming.
        const QStringList shippers = answersFor(*connection, QStringLiteral("Shippers"));
        QCOMPARE(shippers.at(0), QStringLiteral("records 3"));
        QCOMPARE(answersFor(*connection, QStringLiteral("Customers")).at(0), QStringLiteral("records 91"));
        QCOMPARE(answersFor(*connection, QStringLiteral("Orders")).at(0).left(8), QStringLiteral("records "));
    }
};

QTEST_GUILESS_MAIN(KeptConnectionTest)
#include "tst_kept_connection.moc"
