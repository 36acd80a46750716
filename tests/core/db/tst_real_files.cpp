// Every public real-world database that libmdb reads: its user tables, every field with type,
// size and description, and the exact record counts all come through without a single failure,
// and the file is left exactly as it was.

#include "core/Failure.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "support/EngineFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using TestSupport::RealFile;
using TestSupport::realFiles;

namespace {

QString databasePath;
QString databasePassword;

QByteArray fingerprint(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result() + QFileInfo(path).lastModified().toString(Qt::ISODateWithMs).toUtf8();
}

} // namespace

class RealFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::useBuiltEngine(); }

    void everyReadableFileComesThroughWhole()
    {
        const QList<RealFile> files = realFiles();
        if (files.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The public test databases (../shared/fixtures/real) are not here.");
        int readable = 0;
        for (const RealFile &real : files) {
            if (real.userTables < 0)
                continue;
            ++readable;
            const QByteArray before = fingerprint(real.path);
            ScriptedDialogs dialogs;
            auto connection = Ado::CreateConnection();
            connection->Open(Access::ConnectionStringFor(real.path, real.password));
            QStringList tables;
            for (const auto &row : connection->tables())
                if (row.type == QStringLiteral("TABLE"))
                    tables << row.name;
            QVERIFY2(tables.size() == real.userTables,
                     qPrintable(QStringLiteral("%1: %2 user tables, the collection lists %3")
                                    .arg(real.path)
                                    .arg(tables.size())
                                    .arg(real.userTables)));
            auto recordset = Ado::CreateRecordset();
            for (const QString &table : tables) {
                recordset->Open(QStringLiteral("select * from [") + table + QLatin1Char(']'), *connection);
                QVERIFY(recordset->RecordCount() >= 0);
                for (int j = 0; j < recordset->FieldCount(); ++j) {
                    const Ado::FieldInfo field = recordset->Field(j);
                    QVERIFY2(!field.Name.isEmpty() && field.DefinedSize >= 0,
                             qPrintable(real.path + QLatin1Char(' ') + table));
                    Access::GetFieldDesc_ADO(dialogs, table, field.Name, *connection);
                }
                recordset->Close();
            }
            connection->Close();
            QVERIFY2(dialogs.messages.isEmpty(), qPrintable(real.path + QLatin1Char(' ') + dialogs.texts().join(u'|')));
            QVERIFY2(fingerprint(real.path) == before, qPrintable(real.path + QStringLiteral(" changed")));
        }
        QVERIFY(readable >= 100);
    }

    void accessEncryptedFilesOpenWithTheirPasswordOnly()
    {
        // The user tables each file's own project expects.
        const QHash<QString, QString> expected{
            {QStringLiteral("db2007-oldenc.accdb"), QStringLiteral("Table1")},
            {QStringLiteral("db2007-enc.accdb"), QStringLiteral("Table1")},
            {QStringLiteral("db2013-enc.accdb"), QStringLiteral("Customers")},
            {QStringLiteral("db-nonstandard.accdb"), QStringLiteral("Table_One")},
            {QStringLiteral("office-agile-4.2.accdb"), QStringLiteral("Table1")},
            {QStringLiteral("office-agile-4.4.accdb"), QStringLiteral("Table1")},
            {QStringLiteral("V2010_with-password.accdb"), QStringLiteral("Table1")},
        };
        int seen = 0;
        for (const RealFile &real : realFiles()) {
            if (real.userTables >= 0)
                continue;
            ++seen;
            const QString name = QFileInfo(real.path).fileName();
            const QByteArray before = fingerprint(real.path);
            ScriptedDialogs dialogs;
            databasePath = real.path;
            databasePassword = real.password;
            QCOMPARE(Access::NonSystemTables(dialogs, {real.path, databasePassword}),
                     std::optional<QStringList>(QStringList{expected.value(name)}));
            QVERIFY2(dialogs.messages.isEmpty(), qPrintable(name + dialogs.texts().join(u'|')));

            // The whole report reads like any other database's.
            auto connection = Ado::CreateConnection();
            connection->Open(Access::BuildConnectionString({databasePath, databasePassword}));
            auto recordset = Ado::CreateRecordset();
            recordset->Open(QStringLiteral("select * from [") + expected.value(name) + QLatin1Char(']'), *connection);
            QVERIFY(recordset->FieldCount() > 0);
            QVERIFY(recordset->RecordCount() > 0);
            for (int j = 0; j < recordset->FieldCount(); ++j)
                Access::GetFieldDesc_ADO(dialogs, expected.value(name), recordset->Field(j).Name, *connection);
            QVERIFY(dialogs.messages.isEmpty());
            connection->Close();

            for (const QString &wrong : {QString(), real.password + QLatin1Char(' '), real.password.toUpper()}) {
                if (wrong == real.password)
                    continue;
                dialogs.messages.clear();
                databasePassword = wrong;
                QVERIFY(!Access::NonSystemTables(dialogs, {real.path, databasePassword}).has_value());
                QCOMPARE(dialogs.messages.size(), 1);
                QVERIFY2(dialogs.texts().constFirst().startsWith(QStringLiteral("Not a valid password.\r\n")),
                         qPrintable(name + QLatin1Char(' ') + dialogs.texts().constFirst()));
            }
            QCOMPARE(fingerprint(real.path), before);
        }
        if (seen == 0)
            STRUDEX_WITHOUT_FIXTURE("The public test databases (../shared/fixtures/real) are not here.");
        QCOMPARE(seen, expected.size());
    }

    void damagedEncryptionHeadersEndInAnError()
    {
        const QString source = TestSupport::fixturesDir() +
                               QStringLiteral("/real/jahlborn+jackcessencrypt/src/test/data/db2013-enc.accdb");
        if (TestSupport::fixturesDir().isEmpty() || !QFile::exists(source))
            STRUDEX_WITHOUT_FIXTURE("The public test databases (../shared/fixtures/real) are not here.");
        QFile file(source);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray good = file.readAll();
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("damaged.accdb"));
        // Bytes of the encryption information on the first page (from 0x299 on).
        for (int at : {0x299, 0x29a, 0x29b, 0x2a0, 0x2c0, 0x300, 0x340, 0x400, 0x480, 0x500}) {
            for (char value : {char(0x00), char(0xff), char(0x41)}) {
                QByteArray bytes = good;
                bytes[at] = value;
                QFile out(copy);
                QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
                out.write(bytes);
                out.close();
                ScriptedDialogs dialogs;
                databasePath = copy;
                databasePassword = QStringLiteral("1234");
                const auto tables = Access::NonSystemTables(dialogs, {copy, databasePassword});
                // Either the byte did not matter, or one clear message says why not.
                QVERIFY(tables.has_value() ? dialogs.messages.isEmpty() : dialogs.messages.size() == 1);
            }
        }
    }

    void fixturesAreNeverChanged()
    {
        for (const QString &name :
             {QStringLiteral("sample.mdb"), QStringLiteral("password.mdb"), QStringLiteral("types2019.accdb")}) {
            const QString path = TestSupport::copyOfTestDatabase(name);
            const QByteArray before = fingerprint(path);
            ScriptedDialogs dialogs;
            QString password = name == QStringLiteral("password.mdb") ? QStringLiteral("Pa;ss=w0rd") : QString();
            auto connection = Ado::CreateConnection();
            connection->Open(Access::ConnectionStringFor(path, password));
            for (const auto &row : connection->tables()) {
                if (row.type != QStringLiteral("TABLE"))
                    continue;
                auto recordset = Ado::CreateRecordset();
                recordset->Open(QStringLiteral("select * from [") + row.name + QLatin1Char(']'), *connection);
                for (int j = 0; j < recordset->FieldCount(); ++j)
                    Access::GetFieldDesc_ADO(dialogs, row.name, recordset->Field(j).Name, *connection);
            }
            connection->Close();
            QCOMPARE(fingerprint(path), before);
        }
    }
};

QTEST_GUILESS_MAIN(RealFilesTest)
#include "tst_real_files.moc"
