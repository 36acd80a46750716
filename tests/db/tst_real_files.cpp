// Every public real-world database that libmdb reads: its user tables, every field with type,
// size and description, and the exact record counts all come through without a single failure,
// and the file is left exactly as it was.

#include "Access.h"
#include "Ado.h"
#include "EngineFixture.h"
#include "Failure.h"
#include "ScriptedDialogs.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

namespace {

struct RealFile {
    QString path;
    QString password;
    int userTables = -1;   // -1: an Access 2007+ encrypted file
};

QList<RealFile> realFiles()
{
    QList<RealFile> files;
    const QString root = TestSupport::fixturesDir() + QStringLiteral("/real/");
    QFile readme(root + QStringLiteral("README.md"));
    if (TestSupport::fixturesDir().isEmpty() || !readme.open(QIODevice::ReadOnly))
        return files;
    // | `file` | format | encryption | password | notes | mdbtools |
    static const QRegularExpression row(QStringLiteral("^\\| `([^`]+)` \\|[^|]*\\|([^|]*)\\|([^|]*)\\|.*\\| (ok \\[(\\d+) tables?\\]|[^|]*) \\|\\s*$"));
    for (const QString &line : QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'))) {
        const auto match = row.match(line);
        if (!match.hasMatch())
            continue;
        RealFile file{root + match.captured(1), match.captured(3).trimmed(), -1};
        if (!match.captured(5).isEmpty())
            file.userTables = match.captured(5).toInt();
        else if (!match.captured(2).contains(QStringLiteral("Office crypto")))
            continue;
        files << file;
    }
    return files;
}

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

class RealFilesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::useBuiltEngine(); }

    void everyReadableFileComesThroughWhole()
    {
        const QList<RealFile> files = realFiles();
        if (files.isEmpty())
            QSKIP("The public test databases (../shared/fixtures/real) are not here.");
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
                                    .arg(real.path).arg(tables.size()).arg(real.userTables)));
            auto recordset = Ado::CreateRecordset();
            for (const QString &table : tables) {
                recordset->Open(QStringLiteral("select * from [") + table + QLatin1Char(']'), *connection);
                QVERIFY(recordset->RecordCount() >= 0);
                for (int j = 0; j < recordset->FieldCount(); ++j) {
                    const Ado::FieldInfo field = recordset->Field(j);
                    QVERIFY2(!field.Name.isEmpty() && field.DefinedSize >= 0, qPrintable(real.path + QLatin1Char(' ') + table));
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

    void accessEncryptedFilesAreRefusedClearly()
    {
        int seen = 0;
        for (const RealFile &real : realFiles()) {
            if (real.userTables >= 0)
                continue;
            ++seen;
            auto connection = Ado::CreateConnection();
            try {
                connection->Open(Access::ConnectionStringFor(real.path, real.password));
                QFAIL(qPrintable(real.path + QStringLiteral(" opened")));
            } catch (const Failure &failure) {
                QVERIFY2(failure.description().contains(QStringLiteral("encrypted with a password")),
                         qPrintable(failure.description()));
            }
        }
        if (seen == 0)
            QSKIP("The public test databases (../shared/fixtures/real) are not here.");
    }

    void fixturesAreNeverChanged()
    {
        for (const QString &name : {QStringLiteral("sample.mdb"), QStringLiteral("password.mdb"), QStringLiteral("types2019.accdb")}) {
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
