#include "core/Failure.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/ODBCProvider.h"
#include "core/db/WorkerProcess.h"
#include "support/EngineFixture.h"
#include "support/ScriptedDialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using TestSupport::testDatabase;

namespace {

std::unique_ptr<Ado::Connection> open(const QString &database)
{
    auto connection = Ado::CreateConnection();
    connection->Open(Access::BuildConnectionString({database, QString()}));
    return connection;
}

// The user tables of the database, its password left empty.
std::optional<QStringList> tablesOf(Dialogs &dialogs, const QString &database)
{
    return Access::NonSystemTables(dialogs, {database, QString()});
}

} // namespace

class AccessTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::useBuiltEngine(); }

    void connectionTextChoosesTheProviderByTheLastFiveCharacters()
    {
        const QString ace = QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=");
        const QString jet = QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=");
        const QString clause = QStringLiteral(";JET OLEDB:Database Password=");
        QCOMPARE(Access::ConnectionStringFor(QStringLiteral("/data/Shop.ACCDB"), QStringLiteral("pw")),
                 ace + QStringLiteral("/data/Shop.ACCDB") + clause + QStringLiteral("pw"));
        QVERIFY(Access::ConnectionStringFor(QStringLiteral("/data/shop.accdb"), QString()).startsWith(ace));
        QVERIFY(Access::ConnectionStringFor(QStringLiteral("/data/myaccdb"), QString()).startsWith(ace));
        QVERIFY(Access::ConnectionStringFor(QStringLiteral("/data/Shop.mdb"), QString()).startsWith(jet));
        QVERIFY(Access::ConnectionStringFor(QStringLiteral("/data/shop.accdb "), QString()).startsWith(jet));
        QVERIFY(Access::ConnectionStringFor(QStringLiteral("cdb"), QString()).startsWith(jet));
        QVERIFY(Access::ConnectionStringFor(QStringLiteral("/x.mdb"), QString()).endsWith(QStringLiteral("Password=")));
        QCOMPARE(Access::ConnectionStringFor(QStringLiteral(" /a;b=c.mdb"), QStringLiteral("Pa;ss=w0rd ")),
                 jet + QStringLiteral(" /a;b=c.mdb") + clause + QStringLiteral("Pa;ss=w0rd "));
    }

    void connectionTextIsBuiltFromTheParametersGiven()
    {
        QCOMPARE(
            Access::BuildConnectionString({QStringLiteral("/first.mdb"), QStringLiteral("one")}),
            QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/first.mdb;JET OLEDB:Database Password=one"));
        QCOMPARE(Access::BuildConnectionString({QStringLiteral("/second.accdb"), QStringLiteral("two")}),
                 QStringLiteral(
                     "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/second.accdb;JET OLEDB:Database Password=two"));
    }

    void userTablesInNameOrder()
    {
        ScriptedDialogs dialogs;
        QCOMPARE(tablesOf(dialogs, testDatabase(QStringLiteral("sample.mdb"))),
                 std::optional<QStringList>({QStringLiteral("Customers"), QStringLiteral("Order Details"),
                                             QStringLiteral("Orders"), QStringLiteral("Products"),
                                             QStringLiteral("Shippers")}));
        QCOMPARE(tablesOf(dialogs, testDatabase(QStringLiteral("layout.mdb"))),
                 std::optional<QStringList>({QStringLiteral("aardvark"), QStringLiteral("Empty Table"),
                                             QStringLiteral("Names"), QStringLiteral("Zebra"),
                                             QStringLiteral("Клиенты"), QStringLiteral("顧客 Café")}));
        QVERIFY(dialogs.messages.isEmpty());
    }

    void databasesWithoutUserTablesGiveAnEmptyList()
    {
        ScriptedDialogs dialogs;
        for (const QString &name : {QStringLiteral("empty.mdb"), QStringLiteral("linked.mdb")}) {
            const auto tables = tablesOf(dialogs, testDatabase(name));
            QVERIFY2(tables.has_value(), qPrintable(name));
            QVERIFY2(tables->isEmpty(), qPrintable(tables->join(u',')));
        }
        QVERIFY(dialogs.messages.isEmpty());
    }

    void manyTables()
    {
        ScriptedDialogs dialogs;
        const auto tables = tablesOf(dialogs, testDatabase(QStringLiteral("many.accdb")));
        QVERIFY(tables.has_value());
        QCOMPARE(tables->size(), 300);
        QCOMPARE(tables->constFirst(), QStringLiteral("Table0000"));
        QCOMPARE(tables->constLast(), QStringLiteral("Table0299"));
    }

    void catalogueReadInPartIsReportedThenListed()
    {
        // The catalogue of structure.accdb continues on page 101, beyond a cut at 100,000 bytes.
        QTemporaryDir dir;
        const QString cut = dir.filePath(QStringLiteral("cut.accdb"));
        QFile file(cut);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QFile whole(testDatabase(QStringLiteral("structure.accdb")));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        file.write(whole.read(100000));
        file.close();
        const std::optional<QStringList> read({QStringLiteral("Customers"), QStringLiteral("Orders")});

        ScriptedDialogs dialogs;
        QCOMPARE(tablesOf(dialogs, cut), read);
        QCOMPARE(dialogs.texts(),
                 QStringList{QStringLiteral(
                     "The table catalogue could not be read to its end: page 101 named by its usage map lies beyond "
                     "the end of the file. Only 2 tables could be read; the database may have more.\r\nin "
                     "Strudex2021/08/31.Access.NonSystemTables at line 118\r\rPlease email screenshot of this "
                     "message to support@strudex.org")});
        // Asked only whether the database can be read: the same list, without a word.
        dialogs.messages.clear();
        QCOMPARE(Access::NonSystemTables(dialogs, {cut, QString()}, Access::PartialCatalogue::ListOnly), read);
        QVERIFY(dialogs.messages.isEmpty());

        // The rowset: moving past its last row fails once, and leaves it at its end.
        auto connection = open(cut);
        auto rowset = connection->OpenSchema(Ado::adSchemaTables);
        QVERIFY(connection->catalogueGap().contains(QStringLiteral("Only 2 tables could be read")));
        while (!rowset->Eof()) {
            try {
                rowset->MoveNext();
            } catch (const Failure &failure) {
                QCOMPARE(failure.number(), Ado::adErrCatalogueIncomplete);
                QCOMPARE(failure.description(), connection->catalogueGap());
                QVERIFY(rowset->Eof());
                rowset.reset();
                break;
            }
        }
        QVERIFY2(!rowset, "moving past the last row did not fail");
        // A whole catalogue has nothing to say.
        auto wholeConnection = open(testDatabase(QStringLiteral("structure.accdb")));
        wholeConnection->tables();
        QVERIFY(wholeConnection->catalogueGap().isEmpty());
    }

    void missingFileGivesNoListAndNoMessage()
    {
        ScriptedDialogs dialogs;
        QVERIFY(!tablesOf(dialogs, testDatabase(QStringLiteral("missing.mdb"))).has_value());
        QVERIFY(!tablesOf(dialogs, QString()).has_value());
        QVERIFY(dialogs.messages.isEmpty());
    }

    void passwords()
    {
        ScriptedDialogs dialogs;
        QCOMPARE(Access::NonSystemTables(dialogs,
                                         {testDatabase(QStringLiteral("password.mdb")), QStringLiteral("Pa;ss=w0rd")}),
                 std::optional<QStringList>(QStringList{QStringLiteral("Secrets")}));
        QCOMPARE(Access::NonSystemTables(
                     dialogs, {testDatabase(QStringLiteral("password-plain.mdb")), QStringLiteral("secret")}),
                 std::optional<QStringList>(QStringList{QStringLiteral("Vault")}));
        QVERIFY(dialogs.messages.isEmpty());

        // Wrong, empty and differently cased passwords: exactly one report each, at the connect step.
        for (const QString &wrong : {QStringLiteral("Pa;ss=w0rd "), QString(), QStringLiteral("pa;ss=w0rd")}) {
            dialogs.messages.clear();
            QVERIFY(
                !Access::NonSystemTables(dialogs, {testDatabase(QStringLiteral("password.mdb")), wrong}).has_value());
            QCOMPARE(dialogs.texts(),
                     QStringList{
                         QStringLiteral("Not a valid password.\r\nin Strudex2021/08/31.Access.NonSystemTables at "
                                        "line 106\r\rPlease email screenshot of this message to support@strudex.org")});
        }
    }

    void unreadableFilesAreReportedOnce()
    {
        QTemporaryDir dir;
        const QString text = dir.filePath(QStringLiteral("notes.mdb"));
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("This is not a database at all.\n").repeated(200));
        file.close();

        ScriptedDialogs dialogs;
        QVERIFY(!tablesOf(dialogs, text).has_value());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.texts().constFirst().startsWith(
            QStringLiteral("Unrecognized database format '%1'.\r\n").arg(text)));

        // A folder exists, so it reaches the engine, which refuses it clearly.
        dialogs.messages.clear();
        QVERIFY(!tablesOf(dialogs, dir.path()).has_value());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.texts().constFirst().contains(QStringLiteral("at line 106")));
    }

    void missingEngineIsReportedAtTheFirstStep()
    {
        Ado::WorkerSettings::setProgram(QStringLiteral("/nonexistent/strudex-engine"));
        ScriptedDialogs dialogs;
        QVERIFY(!tablesOf(dialogs, testDatabase(QStringLiteral("sample.mdb"))).has_value());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.texts().constFirst().startsWith(
            QStringLiteral("Provider cannot be found. It may not be properly installed.\r\nin "
                           "Strudex2021/08/31.Access.NonSystemTables at line 100")));
    }

    void typeNames()
    {
        // The whole vocabulary, code by code, and a sample of the codes without a name.
        const QList<QPair<int, QString>> named{
            {2, QStringLiteral("SmallInt")},
            {3, QStringLiteral("Number")},
            {4, QStringLiteral("Single")},
            {5, QStringLiteral("Double")},
            {6, QStringLiteral("Currency")},
            {7, QStringLiteral("Date/Time")},
            {8, QStringLiteral("BSTR")},
            {11, QStringLiteral("Boolean")},
            {12, QStringLiteral("Variant")},
            {14, QStringLiteral("Decimal")},
            {16, QStringLiteral("TinyInt")},
            {17, QStringLiteral("UnsignedTinyInt")},
            {18, QStringLiteral("UnsignedSmallInt")},
            {19, QStringLiteral("UnsignedInt")},
            {20, QStringLiteral("BigInt")},
            {21, QStringLiteral("UnsignedBigInt")},
            {72, QStringLiteral("GUID")},
            {128, QStringLiteral("adBinary")},
            {129, QStringLiteral("Text")},
            {130, QStringLiteral("Text")},
            {131, QStringLiteral("Numeric")},
            {132, QStringLiteral("UserDefined")},
            {133, QStringLiteral("Date/Time")},
            {134, QStringLiteral("Date/Time")},
            {135, QStringLiteral("Date/Time")},
            {200, QStringLiteral("Text")},
            {201, QStringLiteral("Text")},
            {202, QStringLiteral("Text")},
            {203, QStringLiteral("Memo")},
            {204, QStringLiteral("adVarBinary")},
            {205, QStringLiteral("OLE Object")},
        };
        for (const auto &[code, name] : named)
            QCOMPARE(Access::GetFieldTypeName(code), name);
        for (int code : {std::numeric_limits<int>::min(), -1, 0, 1, 9, 10, 13, 15, 22, 64, 71, 73, 127, 136, 199, 206,
                         1000, std::numeric_limits<int>::max()})
            QCOMPARE(Access::GetFieldTypeName(code), QString::number(code));
    }

    void descriptions()
    {
        ScriptedDialogs dialogs;
        auto connection = open(testDatabase(QStringLiteral("sample.mdb")));
        QCOMPARE(
            Access::GetFieldDesc_ADO(dialogs, QStringLiteral("Customers"), QStringLiteral("CompanyName"), *connection),
            QVariant(QStringLiteral("Name of the company")));
        const QVariant none =
            Access::GetFieldDesc_ADO(dialogs, QStringLiteral("Customers"), QStringLiteral("Country"), *connection);
        QVERIFY(none.isNull());
        QCOMPARE(none.toString(), QString());
        QVERIFY(dialogs.messages.isEmpty());

        auto layout = open(testDatabase(QStringLiteral("layout.mdb")));
        QCOMPARE(
            Access::GetFieldDesc_ADO(dialogs, QStringLiteral("Names"), QStringLiteral("Multi"), *layout).toString(),
            QStringLiteral("first line\r\nsecond line"));
        QCOMPARE(
            Access::GetFieldDesc_ADO(dialogs, QStringLiteral("顧客 Café"), QStringLiteral("名前"), *layout).toString(),
            QStringLiteral("顧客の名前 — café"));
        QVERIFY(dialogs.messages.isEmpty());
    }

    void descriptionFailuresAreReportedPerStep()
    {
        ScriptedDialogs dialogs;
        auto connection = open(testDatabase(QStringLiteral("sample.mdb")));
        // An unknown table: its own step, then the column step that had no table to look in.
        QVERIFY(Access::GetFieldDesc_ADO(dialogs, QStringLiteral("Nope"), QStringLiteral("CompanyName"), *connection)
                    .isNull());
        QCOMPARE(dialogs.messages.size(), 2);
        QVERIFY(dialogs.texts().at(0).startsWith(
            QStringLiteral("Item cannot be found in the collection corresponding to the requested name or "
                           "ordinal.\r\nin Strudex2021/08/31.Access.GetFieldDesc_ADO at line 102")));
        QVERIFY(dialogs.texts().at(1).contains(QStringLiteral("GetFieldDesc_ADO at line 104")));

        dialogs.messages.clear();
        QVERIFY(Access::GetFieldDesc_ADO(dialogs, QStringLiteral("Customers"), QStringLiteral("Nope"), *connection)
                    .isNull());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.texts().at(0).startsWith(QStringLiteral("Item cannot be found")));
        QVERIFY(dialogs.texts().at(0).contains(QStringLiteral("at line 104")));

        // A connection that is not open: the catalogue cannot be bound, so three reports.
        dialogs.messages.clear();
        connection->Close();
        QVERIFY(
            Access::GetFieldDesc_ADO(dialogs, QStringLiteral("Customers"), QStringLiteral("CompanyName"), *connection)
                .isNull());
        QCOMPARE(dialogs.messages.size(), 3);
        QVERIFY(dialogs.texts().at(0).contains(QStringLiteral("at line 100")));
        QVERIFY(dialogs.texts().at(1).contains(QStringLiteral("at line 102")));
        QVERIFY(dialogs.texts().at(2).contains(QStringLiteral("at line 104")));
    }

    void providerCheckPassesSilentlyWhenTheEngineIsThere()
    {
        ScriptedDialogs dialogs;
        QVERIFY(ODBCProvider::IsProviderInstalled(dialogs));
        QVERIFY(dialogs.messages.isEmpty());
    }

    void providerCheckOffersTheDownloadPagesWhenTheEngineIsMissing()
    {
        Ado::WorkerSettings::setProgram(QStringLiteral("/nonexistent/strudex-engine"));
        ScriptedDialogs dialogs;
        dialogs.setNextAnswer(Dialogs::Answer::Yes);
        QVERIFY(!ODBCProvider::IsProviderInstalled(dialogs));
        QCOMPARE(dialogs.messages.size(), 1);
        const auto &shown = dialogs.messages.constFirst();
        QCOMPARE(shown.buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(shown.icon, Dialogs::Icon::None);
        QCOMPARE(shown.title, QStringLiteral("Strudex"));
        QVERIFY(
            shown.text.startsWith(QStringLiteral("Error #3706: Provider cannot be found. It may not be properly "
                                                 "installed.\r\n\r\nYou are getting this error because:\r\n\r\n1. ")));
        QVERIFY(shown.text.endsWith(QStringLiteral("\r\n\r\n(If you have any further questions please email a "
                                                   "screenshot of this error message to support@strudex.org)")));
        QVERIFY(shown.text.contains(QStringLiteral("\r\n\r\nWould you like me to open the Microsoft site now so you "
                                                   "can do this?\r\n\r\n")));
#ifndef Q_OS_WIN
        // Microsoft's engine would not help here: the message names the missing program.
        QVERIFY(shown.text.contains(
            QStringLiteral("can do this?\r\n\r\nOn this computer Strudex reads databases with its own engine, the "
                           "program \"/nonexistent/strudex-engine\", which is missing or cannot be started. Reinstall "
                           "Strudex to solve this problem.\r\n\r\n(If you have")));
#endif
        QCOMPARE(dialogs.openedUrls,
                 (QList<QUrl>{QUrl(QStringLiteral("https://www.microsoft.com/en-us/download/details.aspx?id=13255")),
                              QUrl(QStringLiteral("https://www.microsoft.com/en-us/download/details.aspx?id=54920"))}));

        ScriptedDialogs declined;
        declined.setNextAnswer(Dialogs::Answer::No);
        QVERIFY(!ODBCProvider::IsProviderInstalled(declined));
        QVERIFY(declined.openedUrls.isEmpty());
    }
};

QTEST_GUILESS_MAIN(AccessTest)
#include "tst_access.moc"
