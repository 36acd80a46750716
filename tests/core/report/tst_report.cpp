#include "core/PathUtilities.h"
#include "core/db/Access.h"
#include "core/report/SaveFile.h"
#include "core/report/StructureReport.h"
#include "support/EngineFixture.h"
#include "support/RecordingView.h"
#include "support/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using TestSupport::testDatabase;

namespace {

QString databasePath;

// The database under test; none of these has a password.
Access::ConnectionParameters database()
{
    return {databasePath, QString()};
}

// The expected report with its first line naming the database as this test names it.
QByteArray expected(const QString &name, const QString &database)
{
    QByteArray bytes = TestSupport::readFile(testDatabase(name + QStringLiteral(".expected.txt")));
    const qsizetype end = bytes.indexOf("\r\n");
    return " Printing From " + database.toUtf8() + bytes.mid(end);
}

RecordingView viewOf(const QStringList &tables)
{
    RecordingView view;
    for (const QString &table : tables)
        view.rows.append({table, true});
    return view;
}

const QStringList SampleTables{QStringLiteral("Customers"), QStringLiteral("Order Details"), QStringLiteral("Orders"),
                               QStringLiteral("Products"), QStringLiteral("Shippers")};

} // namespace

class ReportTest : public QObject
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

    void init() { databasePath = testDatabase(QStringLiteral("sample.mdb")); }

    void fieldLineLayout()
    {
        using StructureReport::FieldLine;
        // 24 characters: one blank of fill, then the separating blank.
        QCOMPARE(
            FieldLine(QStringLiteral("TwentyFourCharacterName_"), 202, QStringLiteral("Text[50]"), QStringLiteral("d")),
            QStringLiteral(" TwentyFourCharacterName_  Text[50]     d"));
        // 25 characters: the name and the type code, nothing else.
        QCOMPARE(FieldLine(QStringLiteral("TwentyFiveCharacterName_X"), 202, QStringLiteral("Text[50]"),
                           QStringLiteral("d")),
                 QStringLiteral("TwentyFiveCharacterName_X202"));
        // A type text of exactly 12 characters is followed directly by the separating blank.
        QCOMPARE(FieldLine(QStringLiteral("x"), 202, QStringLiteral("Text[123456]"), QStringLiteral("d")).mid(27),
                 QStringLiteral("Text[123456] d"));
        // Longer type texts get one blank; an empty description leaves the line ending in it.
        QCOMPARE(FieldLine(QStringLiteral("A"), 17, QStringLiteral("UnsignedTinyInt"), QString()),
                 QStringLiteral(" A                         UnsignedTinyInt "));
        QCOMPARE(FieldLine(QStringLiteral("Id"), 3, QStringLiteral("Number"), QStringLiteral("Customer number"))
                     .indexOf(u'C'),
                 40);
        QCOMPARE(StructureReport::TypeText(202, 40), QStringLiteral("Text[40]"));
        QCOMPARE(StructureReport::TypeText(130, 1), QStringLiteral("Text[1]"));
        QCOMPARE(StructureReport::TypeText(203, 536870910), QStringLiteral("Memo"));
        QCOMPARE(StructureReport::TypeText(64, 8), QStringLiteral("64"));
    }

    void reportFileName()
    {
        const QChar sep = Main::separator();
        const QString reports = QDir::toNativeSeparators(QStringLiteral("/reports/"));
        QCOMPARE(StructureReport::ReportFileName(reports, QDir::toNativeSeparators(QStringLiteral("/data/Shop.mdb"))),
                 reports + QStringLiteral("Shop_Structure.txt"));
        // Typed without a trailing separator, the report still lands inside the folder.
        QCOMPARE(StructureReport::ReportFileName(reports.chopped(1),
                                                 QDir::toNativeSeparators(QStringLiteral("/data/Shop.mdb"))),
                 reports + QStringLiteral("Shop_Structure.txt"));
        // The last dot may stand in a folder name: the name is cut there.
        QCOMPARE(
            StructureReport::ReportFileName(reports, QDir::toNativeSeparators(QStringLiteral("/data/old.files/shop"))),
            reports + QStringLiteral("old_Structure.txt"));
        QCOMPARE(StructureReport::ReportFileName(QString(sep), QStringLiteral("x.accdb")),
                 QString(sep) + QStringLiteral("x_Structure.txt"));
    }

    void wholeReportOfEveryTable()
    {
        ScriptedDialogs dialogs;
        RecordingView view = viewOf(SampleTables);
        const QString file = out.filePath(QStringLiteral("sample_Structure.txt"));
        StructureReport::generateStructure(dialogs, view, database(), file, 5);
        QCOMPARE(TestSupport::readFile(file), expected(QStringLiteral("sample"), databasePath));
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages.constFirst().text, QStringLiteral("Done."));
        QCOMPARE(dialogs.messages.constFirst().title, QStringLiteral("Strudex"));
        QCOMPARE(dialogs.messages.constFirst().icon, Dialogs::Icon::None);
        QCOMPARE(view.values, (QList<double>{20, 40, 60, 80, 100, 0}));
        QCOMPARE(view.captions.constFirst(), QStringLiteral("Processing: Customers"));
        QCOMPARE(view.captions.constLast(), QStringLiteral("Progress Bar"));
        QCOMPARE(view.pointers.constFirst(), ExportView::Pointer::Busy);
        QCOMPARE(view.pointers.constLast(), ExportView::Pointer::Default);
        // Once before each table and once before each field: 5 tables, 6+5+6+6+3 fields.
        QCOMPARE(view.yields, 5 + 26);
    }

    void someTablesTicked()
    {
        ScriptedDialogs dialogs;
        RecordingView view = viewOf(SampleTables);
        view.rows[0].ticked = view.rows[1].ticked = view.rows[3].ticked = false;
        const QString file = out.filePath(QStringLiteral("some_Structure.txt"));
        StructureReport::generateStructure(dialogs, view, database(), file, 2);
        QCOMPARE(TestSupport::readFile(file), expected(QStringLiteral("sample-some"), databasePath));
        QCOMPARE(view.values, (QList<double>{50, 100, 0}));
    }

    void onlyTheLastOfFiveTicked()
    {
        ScriptedDialogs dialogs;
        RecordingView view = viewOf(SampleTables);
        for (int i = 0; i < 4; ++i)
            view.rows[i].ticked = false;
        const QString file = out.filePath(QStringLiteral("last_Structure.txt"));
        StructureReport::generateStructure(dialogs, view, database(), file, 1);
        const QByteArray report = TestSupport::readFile(file);
        QVERIFY(report.contains(
            "Printing Table Structures:\r\n1) Shippers\r\n\r\n\r\nTable Name : Shippers    Total Fields : 3"));
        QVERIFY(!report.contains("Customers"));
        QCOMPARE(view.values, (QList<double>{100, 0}));
    }

    void layoutEdgeCasesAndEncoding()
    {
        databasePath = testDatabase(QStringLiteral("layout.mdb"));
        ScriptedDialogs dialogs;
        RecordingView view = viewOf({QStringLiteral("aardvark"), QStringLiteral("Empty Table"), QStringLiteral("Names"),
                                     QStringLiteral("Zebra"), QStringLiteral("Клиенты"), QStringLiteral("顧客 Café")});
        const QString file = out.filePath(QStringLiteral("layout_Structure.txt"));
        StructureReport::generateStructure(dialogs, view, database(), file, 6);
        QCOMPARE(TestSupport::readFile(file), expected(QStringLiteral("layout"), databasePath));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Done.")});
    }

    void existingReportIsReplaced()
    {
        const QString file = out.filePath(QStringLiteral("replaced_Structure.txt"));
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
        old.close();
        ScriptedDialogs dialogs;
        RecordingView view = viewOf(SampleTables);
        StructureReport::generateStructure(dialogs, view, database(), file, 5);
        QCOMPARE(TestSupport::readFile(file), expected(QStringLiteral("sample"), databasePath));
        QCOMPARE(
            QDir(out.path()).entryList({QStringLiteral("replaced_Structure.txt*")}, QDir::Files | QDir::Hidden).size(),
            1);
    }

    void databaseGoneBeforeTheExport()
    {
        // Listed first, then moved away: every block is still written, with no count it did not
        // read, and says why.
        databasePath = TestSupport::copyOfTestDatabase(QStringLiteral("sample.mdb"));
        QVERIFY(QFile::remove(databasePath));
        ScriptedDialogs dialogs;
        RecordingView view = viewOf({QStringLiteral("Customers"), QStringLiteral("Orders")});
        const QString file = out.filePath(QStringLiteral("gone_Structure.txt"));
        StructureReport::generateStructure(dialogs, view, database(), file, 2);
        const QByteArray header = " Printing From " + databasePath.toUtf8() +
                                  "\r\n\r\nPrinting Table Structures:\r\n1) Customers\r\n2) Orders\r\n\r\n\r\n";
        const QByteArray block1 = "Table Name : Customers\r\nThis table could not be read: Could not find file '" +
                                  databasePath.toUtf8() + "'.\r\n\r\n\r\n";
        QByteArray block2 = block1;
        block2.replace("Customers", "Orders");
        QCOMPARE(TestSupport::readFile(file), header + block1 + block2 + "\r\n");
        const QStringList texts = dialogs.texts();
        QCOMPARE(texts.size(), 1 + 2 * 2 + 1);
        QVERIFY(texts.at(0).startsWith(QStringLiteral("Could not find file '%1'.").arg(databasePath)));
        QVERIFY(texts.at(0).contains(QStringLiteral("Form2.generateStructure at line 138")));
        QVERIFY(texts.at(1).contains(QStringLiteral("at line 154")));
        QVERIFY(texts.at(2).contains(QStringLiteral("at line 158")));
        QCOMPARE(texts.constLast(), QStringLiteral("Done, with errors."));
    }

    void tableThatCannotBeQueried()
    {
        ScriptedDialogs dialogs;
        RecordingView view = viewOf({QStringLiteral("Vanished"), QStringLiteral("Shippers")});
        const QString file = out.filePath(QStringLiteral("vanished_Structure.txt"));
        StructureReport::generateStructure(dialogs, view, database(), file, 2);
        const QByteArray report = TestSupport::readFile(file);
        QVERIFY(
            report.contains("\r\n\r\n\r\nTable Name : Vanished\r\n"
                            "This table could not be read: The Microsoft Jet database engine cannot find the "
                            "input table or query 'Vanished'.  Make sure it exists and that its name is spelled "
                            "correctly.\r\n\r\n\r\n"
                            "Table Name : Shippers    Total Fields : 3    Total Number Of Records For Table: 3\r\n"));
        QVERIFY(dialogs.texts().at(0).startsWith(
            QStringLiteral("The Microsoft Jet database engine cannot find the input table or query 'Vanished'.")));
        QVERIFY(dialogs.texts().at(0).contains(QStringLiteral("at line 154")));
        QCOMPARE(dialogs.texts().constLast(), QStringLiteral("Done, with errors."));
    }

    // A damaged copy whose catalogue is whole but whose tables cannot be read: no table is
    // documented as empty, and the run does not end as a success.
    void damagedCopyDocumentsNoTableAsEmpty()
    {
        databasePath = out.filePath(QStringLiteral("cut.mdb"));
        QFile cut(databasePath);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(TestSupport::readFile(testDatabase(QStringLiteral("sample.mdb"))).left(100000));
        cut.close();
        ScriptedDialogs dialogs;
        RecordingView view = viewOf(SampleTables);
        const QString file = out.filePath(QStringLiteral("cut_Structure.txt"));
        StructureReport::generateStructure(dialogs, view, database(), file, 5);
        QByteArray whole = " Printing From " + databasePath.toUtf8() + "\r\n\r\nPrinting Table Structures:\r\n";
        for (int i = 0; i < SampleTables.size(); ++i)
            whole += QByteArray::number(i + 1) + ") " + SampleTables[i].toUtf8() + "\r\n";
        whole += "\r\n\r\n";
        for (const QString &table : SampleTables)
            whole += "Table Name : " + table.toUtf8() +
                     "\r\nThis table could not be read: Unrecognized database format '" + databasePath.toUtf8() +
                     "'.\r\n\r\n\r\n";
        QCOMPARE(TestSupport::readFile(file), whole + "\r\n");
        // The failures are reported where they happen, as always, and the last word says there were some.
        const QStringList texts = dialogs.texts();
        QCOMPARE(texts.size(), 2 * SampleTables.size() + 1);
        for (int i = 0; i < SampleTables.size(); ++i) {
            QVERIFY(texts.at(2 * i).startsWith(QStringLiteral("Unrecognized database format '%1'.").arg(databasePath)));
            QVERIFY(texts.at(2 * i).contains(QStringLiteral("Form2.generateStructure at line 154")));
            QVERIFY(texts.at(2 * i + 1).contains(QStringLiteral("Form2.generateStructure at line 158")));
        }
        QCOMPARE(texts.constLast(), QStringLiteral("Done, with errors."));
        QCOMPARE(dialogs.messages.constLast().title, QStringLiteral("Strudex"));
        QCOMPARE(dialogs.messages.constLast().icon, Dialogs::Icon::None);
    }

    // Each count is written only when it was read; what was not read is said, on one line.
    void headingStatesOnlyWhatWasRead()
    {
        using StructureReport::TableHeading;
        using StructureReport::UnreadLine;
        QCOMPARE(TableHeading(QStringLiteral("T"), 3, 91),
                 QStringLiteral("Table Name : T    Total Fields : 3    Total Number Of Records For Table: 91"));
        QCOMPARE(TableHeading(QStringLiteral("T"), 0, 0),
                 QStringLiteral("Table Name : T    Total Fields : 0    Total Number Of Records For Table: 0"));
        QCOMPARE(TableHeading(QStringLiteral("T"), 3, std::nullopt),
                 QStringLiteral("Table Name : T    Total Fields : 3"));
        QCOMPARE(TableHeading(QStringLiteral("T"), std::nullopt, 91),
                 QStringLiteral("Table Name : T    Total Number Of Records For Table: 91"));
        QCOMPARE(TableHeading(QStringLiteral("T"), std::nullopt, std::nullopt), QStringLiteral("Table Name : T"));

        QCOMPARE(UnreadLine(true, true, QStringLiteral("Overflow")), QString());
        QCOMPARE(UnreadLine(true, false, QStringLiteral("Overflow")),
                 QStringLiteral("Its number of records could not be read: Overflow"));
        QCOMPARE(UnreadLine(false, true, QStringLiteral("Overflow")),
                 QStringLiteral("Its fields could not be read: Overflow"));
        QCOMPARE(UnreadLine(false, false, QStringLiteral("Table 'a\r\nb' is\rdamaged\n")),
                 QStringLiteral("This table could not be read: Table 'a b' is damaged"));
        QCOMPARE(UnreadLine(false, false, QString()), QStringLiteral("This table could not be read."));
    }

    void reportThatCannotBeWritten()
    {
        // The folder is a file: nothing can be created inside it.
        const QString blocker = out.filePath(QStringLiteral("not-a-folder"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        ScriptedDialogs dialogs;
        RecordingView view = viewOf({QStringLiteral("Shippers")});
        StructureReport::generateStructure(dialogs, view, database(), blocker + QStringLiteral("/x_Structure.txt"), 1);
        // One clear report, not one per line that had nowhere to go.
        const QStringList texts = dialogs.texts();
        QCOMPARE(texts.size(), 1);
        QVERIFY(texts.at(0).contains(QStringLiteral("at line 116")));
        QVERIFY(texts.at(0).contains(QStringLiteral("x_Structure.txt")));
        // The database is still read and the window comes back to rest, but no "Done." follows a
        // report that was not saved.
        QCOMPARE(view.values, (QList<double>{100, 0}));
        QCOMPARE(view.pointers.constLast(), ExportView::Pointer::Default);
    }

    void reportIsNeverWrittenThroughALink()
    {
        // A link planted at the report's name, to a file elsewhere that must not be touched.
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("precious.txt"));
        QFile precious(target);
        QVERIFY(precious.open(QIODevice::WriteOnly));
        precious.write("precious");
        precious.close();
        const QString link = out.filePath(QStringLiteral("linked_Structure.txt"));
        QVERIFY(QFile::link(target, link));
        ScriptedDialogs dialogs;
        RecordingView view = viewOf({QStringLiteral("Shippers")});
        StructureReport::generateStructure(dialogs, view, database(), link, 1);
        const QStringList texts = dialogs.texts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.at(0).contains(QStringLiteral("'%1' is a symbolic link").arg(QDir::toNativeSeparators(link))),
                 qPrintable(texts.at(0)));
        QCOMPARE(TestSupport::readFile(target), QByteArray("precious"));
        QCOMPARE(QFileInfo(link).symLinkTarget(), target);
        // A folder at the name is refused the same way, and left as it was.
        const QString folder = out.filePath(QStringLiteral("folder_Structure.txt"));
        QVERIFY(QDir().mkpath(folder));
        ScriptedDialogs second;
        StructureReport::generateStructure(second, view, database(), folder, 1);
        QCOMPARE(second.texts().size(), 1);
        QVERIFY2(second.texts().at(0).contains(QStringLiteral("is a folder")), qPrintable(second.texts().at(0)));
        QVERIFY(QFileInfo(folder).isDir());
        QFile::remove(link);
    }

    void savesReplaceNamesAndKeepPermissions()
    {
        QTemporaryDir folder;
        const QString name = folder.filePath(QStringLiteral("kept.txt"));
        QFile earlier(name);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier");
        earlier.close();
        QVERIFY(earlier.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        const QFileDevice::Permissions kept = QFileInfo(name).permissions();
        SaveFile save(name);
        QVERIFY(save.open());
        QCOMPARE(save.write("new"), qint64(3));
        QVERIFY2(save.commit(), qPrintable(save.errorString()));
        QCOMPARE(TestSupport::readFile(name), QByteArray("new"));
        QCOMPARE(QFileInfo(name).permissions(), kept);

        // A link that appears while the file is written is refused, and what it points to is kept.
        const QString target = folder.filePath(QStringLiteral("precious.txt"));
        QVERIFY(QFile::rename(name, target));
        SaveFile late(name);
        QVERIFY(late.open());
        QVERIFY(QFile::link(target, name));
        late.write("attack");
        QVERIFY(!late.commit());
        QCOMPARE(late.refusal(), QStringLiteral("a symbolic link"));
        QCOMPARE(TestSupport::readFile(target), QByteArray("new"));
        // Neither save leaves a temporary file behind.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
    }

    void secondRunWhileOneIsInProgressDoesNothing()
    {
        ScriptedDialogs dialogs;
        RecordingView view = viewOf({QStringLiteral("Shippers")});
        const QString first = out.filePath(QStringLiteral("first_Structure.txt"));
        const QString second = out.filePath(QStringLiteral("second_Structure.txt"));
        int nested = 0;
        view.onYield = [&] {
            if (nested++ == 0) {
                QVERIFY(StructureReport::Running());
                StructureReport::generateStructure(dialogs, view, database(), second, 1);
                StructureReport::StartExporting(dialogs, view, database(), out.path());
            }
        };
        StructureReport::generateStructure(dialogs, view, database(), first, 1);
        QVERIFY(QFile::exists(first));
        QVERIFY(!QFile::exists(second));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Done.")});
        QVERIFY(!StructureReport::Running());
    }

    void startExportingChecksFolderThenTicks()
    {
        RecordingView none = viewOf(SampleTables);
        for (auto &row : none.rows)
            row.ticked = false;
        const QString folderMessage = QStringLiteral("Folder does not exist. Please select another folder.");
        const QString tableMessage = QStringLiteral("Please select a table first.");

        for (const QString &folder :
             {out.filePath(QStringLiteral("missing")), QString(), testDatabase(QStringLiteral("sample.mdb"))}) {
            ScriptedDialogs dialogs;
            StructureReport::StartExporting(dialogs, none, database(), folder);
            QCOMPARE(dialogs.texts(), QStringList{folderMessage});
            QCOMPARE(dialogs.messages.constFirst().title, QStringLiteral("Strudex"));
            QCOMPARE(dialogs.messages.constFirst().icon, Dialogs::Icon::None);
        }

        QTemporaryDir empty;
        ScriptedDialogs dialogs;
        StructureReport::StartExporting(dialogs, none, database(), empty.path());
        QCOMPARE(dialogs.texts(), QStringList{tableMessage});
        QVERIFY(QDir(empty.path()).isEmpty());
    }

    void startExportingWritesIntoTheFolderNamed()
    {
        QTemporaryDir folder;
        ScriptedDialogs dialogs;
        RecordingView view = viewOf(SampleTables);
        // No trailing separator typed: the report still lands inside the folder.
        StructureReport::StartExporting(dialogs, view, database(), folder.path());
        QCOMPARE(TestSupport::readFile(folder.filePath(QStringLiteral("sample_Structure.txt"))),
                 expected(QStringLiteral("sample"), databasePath));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
};

QTEST_GUILESS_MAIN(ReportTest)
#include "tst_report.moc"
