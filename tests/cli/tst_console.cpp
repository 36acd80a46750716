// What the exporter prints on the terminal of names from a database: the progress line, the
// messages and the notes, with hostile names in them.

#include "cli/CommandLineMessages.h"
#include "cli/ConsoleExport.h"
#include "core/ErrorReport.h"
#include "core/PathUtilities.h"
#include "core/db/ODBCProvider.h"
#include "core/db/WorkerProcess.h"
#include "core/report/StructureOutput.h"
#include "core/report/StructureReport.h"

#include <QTest>

#include <cstdio>

class ConsoleTest : public QObject
{
    Q_OBJECT

private:
    static inline const QString Hostile = QStringLiteral("\x1b[2J\x1b]0;title\x07\u202e");
    static inline const QString HostilePrinted = QStringLiteral("\\x1b[2J\\x1b]0;title\\x07\\u202e");

private slots:
    void progressLineShowsControlsAsEscapes()
    {
        std::FILE *terminal = std::tmpfile();
        QVERIFY(terminal);
        qputenv("COLUMNS", "200");
        {
            ConsoleView view({{Hostile, true}}, terminal);
            view.setProgressCaption(QStringLiteral("Exporting table ") + Hostile + QStringLiteral("\n\r"));
            view.setProgressValue(50);
            view.clearProgress();
        }
        std::rewind(terminal);
        QByteArray written(4096, '\0');
        written.resize(qsizetype(std::fread(written.data(), 1, std::size_t(written.size()), terminal)));
        std::fclose(terminal);
        QVERIFY2(written.contains("Exporting table " + HostilePrinted.toUtf8() + "\\n\\r"), written.constData());
        // The bar's own carriage returns, and nothing else the terminal would obey.
        for (const char c : written)
            QVERIFY2(uchar(c) >= 0x20 || c == '\r', written.toHex().constData());
    }

    // A message keeps its own line breaks; everything else a terminal obeys is escaped.
    void messagesKeepTheirLinesOnly_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("printed");
        QTest::newRow("CR LF") << "Error #1:\r\n\r\nText"
                               << "Error #1:\n\nText";
        QTest::newRow("lone CR") << "a\rb"
                                 << "a\nb";
        QTest::newRow("a hostile name") << QStringLiteral("Table '") + Hostile + QStringLiteral("'\r\nmore")
                                        << QStringLiteral("Table '") + HostilePrinted + QStringLiteral("'\nmore");
        QTest::newRow("a Windows path") << "Could not find file 'C:\\db\\x.mdb'."
                                        << "Could not find file 'C:\\db\\x.mdb'.";
        QTest::newRow("a tab and NUL") << QStringLiteral("a\tb") + QChar(0) << "a\\tb\\x00";
    }

    void messagesKeepTheirLinesOnly()
    {
        QFETCH(QString, message);
        QFETCH(QString, printed);
        QCOMPARE(ConsoleDialogs::forTerminal(message), printed);
    }

    // The desktop program's messages in the words of a command line: the file concerned, what
    // failed and why; the routine tag, line and request for a screenshot are the windows' alone.
    void messagesNameTheFileAndWhatFailed_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printed");
        const QString error = QLatin1String(ErrorReport::Title);
        const auto report = [](const QString &description, const char *routine, int line) {
            const QString module = QLatin1String(routine) == QLatin1String("generateStructure")
                                       ? QStringLiteral("Form2")
                                       : QStringLiteral("Access");
            return ErrorReport::compose(description, ErrorReport::routineTag(module, QLatin1String(routine)), line);
        };
        QTest::newRow("wrong password") << error
                                        << report(QStringLiteral("Not a valid password."), "NonSystemTables", 106)
                                        << "strudex-export: /data/shop.mdb: the database could not be opened: Not a "
                                           "valid password.";
        QTest::newRow("a table, named on one line")
            << error << report(QStringLiteral("Unrecognized database format."), "generateStructure", 154)
            << QStringLiteral("strudex-export: /data/shop.mdb: the table 'Orders\\n") + HostilePrinted +
                   QStringLiteral("' could not be read: Unrecognized database format.");
        QTest::newRow("the report") << error << report(QStringLiteral("Disk full."), "generateStructure", 188)
                                    << "strudex-export: /out/shop_Structure.txt: the report could not be written: Disk "
                                       "full.";
        QTest::newRow("no description") << error << report(QString(), "GetFieldDesc_ADO", 104)
                                        << "strudex-export: /data/shop.mdb: the description of a field of the table "
                                           "'Orders\\n" +
                                               HostilePrinted + "' could not be read.";
        // Only the real tag at the end goes: one inside the description is the description's.
        const QString imitation = report(QStringLiteral("bad"), "generateStructure", 116);
        QTest::newRow("an imitated tag") << error << report(imitation, "NonSystemTables", 108)
                                         << "strudex-export: /data/shop.mdb: its list of tables could not be read: "
                                            "bad\nin Strudex2021/08/31.Form2.generateStructure at line 116\n\nPlease "
                                            "email screenshot of this message to support@strudex.org";
        QTest::newRow("no engine")
            << Main::AppTitle() << ODBCProvider::ProviderMissingMessage(Ado::WorkerSettings::program())
            << QStringLiteral("strudex-export: /data/shop.mdb: cannot be read: the program \"%1\", which reads "
                              "databases for Strudex, is missing or cannot be started. Reinstall Strudex to solve "
                              "this problem.")
                   .arg(Ado::WorkerSettings::program());
        QTest::newRow("no folder") << Main::AppTitle() << "Folder does not exist. Please select another folder."
                                   << "strudex-export: /out: there is no folder of that name to write into.";
        QTest::newRow("no tables") << Main::AppTitle() << "Please select a table first."
                                   << "strudex-export: /data/shop.mdb: the database has no user tables, so there is "
                                      "no report to write.";
        QTest::newRow("done, with errors")
            << Main::AppTitle() << "Done, with errors."
            << "strudex-export: /out/shop_Structure.txt: the report was written, but not all of the database could "
               "be read (the failures are above).";
    }

    void messagesNameTheFileAndWhatFailed()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, printed);
        const CommandLineMessages::Files files{QStringLiteral("/data/shop.mdb"),
                                               QStringLiteral("/out/shop_Structure.txt"), QStringLiteral("/out")};
        QCOMPARE(CommandLineMessages::fromDesktop(title, text, files, QStringLiteral("Orders\n") + Hostile), printed);
    }

    // The notes are one line each, escaped, and a note a message said already is known as said.
    void notesAreOneEscapedLineEach()
    {
        Structure::Document document;
        Structure::Table table;
        table.name = Hostile;
        table.records = 1;
        table.definitionRead = true;
        table.note = QStringLiteral("cut\nshort");
        document.tables << table;
        const QStringList lines = StructureOutput::unreadParts(document);
        QCOMPARE(lines, QStringList{QStringLiteral("Table ") + HostilePrinted + QStringLiteral(": cut\\nshort")});

        ConsoleDialogs dialogs;
        QVERIFY(!dialogs.said(lines.constFirst()));
        dialogs.message(QStringLiteral("Strudex"),
                        QStringLiteral("Reading stopped.\r\nTable ") + Hostile + QStringLiteral(": cut\nshort"),
                        Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
        QVERIFY(dialogs.said(lines.constFirst()));
        QVERIFY(dialogs.failed());
    }
};

QTEST_GUILESS_MAIN(ConsoleTest)
#include "tst_console.moc"
