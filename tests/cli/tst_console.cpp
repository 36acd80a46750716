// What the exporter prints on the terminal of names from a database: the progress line, the
// messages and the notes, with hostile names in them.

#include "cli/ConsoleExport.h"
#include "cli/StructureOutput.h"
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
