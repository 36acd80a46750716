#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using Run = TestSupport::ProgramRun;

class ExportCommandTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;

    Run run(const QStringList &arguments, const QString &folder = QString(), const QByteArray &input = QByteArray())
    {
        return TestSupport::runExporter(arguments, folder.isEmpty() ? work.path() : folder, input);
    }

    void copyIn(const QString &name) { QFile::copy(QDir(TestSupport::dataDir()).filePath(name), work.filePath(name)); }

    // A copy of a test database with texts stored as UTF-16 rewritten in place (each pair the same
    // length in UTF-16): a character beyond U+FFFF takes the room of two that are not.
    static bool rewriteCopy(const QString &from, const QString &to, const QList<QPair<QString, QString>> &texts)
    {
        QByteArray bytes = TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(from));
        for (const auto &[before, after] : texts) {
            const QByteArray stored(reinterpret_cast<const char *>(before.utf16()), before.size() * 2);
            if (before.size() != after.size() || !bytes.contains(stored))
                return false;
            bytes.replace(stored, QByteArray(reinterpret_cast<const char *>(after.utf16()), after.size() * 2));
        }
        QFile file(to);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        for (const QString &name :
             {QStringLiteral("sample.mdb"), QStringLiteral("layout.mdb"), QStringLiteral("types.mdb"),
              QStringLiteral("types2019.accdb"), QStringLiteral("many.accdb"), QStringLiteral("password.mdb"),
              QStringLiteral("password-plain.mdb"), QStringLiteral("empty.mdb"), QStringLiteral("linked.mdb")})
            copyIn(name);
    }

    // The forms of a password that stay out of the list of processes: a file's first line, and
    // standard input.
    void passwordsFromAFileOrStandardInput()
    {
        const auto file = [this](const QString &name, const QByteArray &content) {
            QFile out(work.filePath(name));
            out.open(QIODevice::WriteOnly);
            out.write(content);
            return out.fileName();
        };
        const QString database = QStringLiteral("password.mdb");
        // The first line, with its line end (LF or CR LF) dropped; what follows is not read.
        Run result = run({QStringLiteral("--list"), QStringLiteral("--password-file"),
                          file(QStringLiteral("pw1"), "Pa;ss=w0rd\nsomething else\n"), database});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, QByteArray("Secrets\n"));
        result = run({QStringLiteral("--list"), QStringLiteral("--password-file"),
                      file(QStringLiteral("pw2"), "Pa;ss=w0rd\r\n"), database});
        QCOMPARE(result.exitCode, 0);
        result = run({QStringLiteral("--list"), QStringLiteral("--password-file"),
                      file(QStringLiteral("pw3"), "Pa;ss=w0rd"), database});
        QCOMPARE(result.exitCode, 0);
        // Standard input, when it is not a terminal: one line, no prompt.
        result = run({QStringLiteral("--list"), QStringLiteral("--password"), QStringLiteral("-"), database}, QString(),
                     "Pa;ss=w0rd\n");
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, QByteArray("Secrets\n"));
        QVERIFY(result.err.isEmpty());
        // An empty file is an empty password; a missing file and two ways at once are usage errors.
        result = run(
            {QStringLiteral("--list"), QStringLiteral("--password-file"), file(QStringLiteral("pw4"), ""), database});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("Not a valid password."));
        result = run({QStringLiteral("--list"), QStringLiteral("--password-file"),
                      work.filePath(QStringLiteral("none")), database});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains("cannot be read"));
        result = run({QStringLiteral("--password"), QStringLiteral("x"), QStringLiteral("--password-file"),
                      file(QStringLiteral("pw5"), "x"), database});
        QCOMPARE(result.exitCode, 2);
        // The new side of a diff likewise.
        result =
            run({QStringLiteral("--diff"), QStringLiteral("--password-file"), file(QStringLiteral("pw6"), "Pa;ss=w0rd"),
                 QStringLiteral("--new-password"), QStringLiteral("-"), database, database},
                QString(), "Pa;ss=w0rd\n");
        QCOMPARE(result.exitCode, 0);
        result =
            run({QStringLiteral("--diff"), QStringLiteral("--password"), QStringLiteral("Pa;ss=w0rd"),
                 QStringLiteral("--new-password-file"), work.filePath(QStringLiteral("none")), database, database});
        QCOMPARE(result.exitCode, 2);
        // --help names the safe forms.
        QVERIFY(run({QStringLiteral("--help")}).out.contains("--password-file"));
    }

    void goldenReports_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sample") << "sample.mdb" << QStringList() << "sample";
        QTest::newRow("some tables") << "sample.mdb"
                                     << QStringList{QStringLiteral("--table"), QStringLiteral("Shippers"),
                                                    QStringLiteral("--table"), QStringLiteral("Orders")}
                                     << "sample-some";
        QTest::newRow("layout") << "layout.mdb" << QStringList() << "layout";
        QTest::newRow("types") << "types.mdb" << QStringList() << "types";
        QTest::newRow("types2019") << "types2019.accdb" << QStringList() << "types2019";
        QTest::newRow("many") << "many.accdb" << QStringList() << "many";
        QTest::newRow("password") << "password.mdb"
                                  << QStringList{QStringLiteral("--password"), QStringLiteral("Pa;ss=w0rd")}
                                  << "password";
        QTest::newRow("password-plain") << "password-plain.mdb" << QStringList{QStringLiteral("--password=secret")}
                                        << "password-plain";
    }

    void goldenReports()
    {
        QFETCH(QString, database);
        QFETCH(QStringList, options);
        QFETCH(QString, expected);
        const QString report = work.filePath(QFileInfo(database).completeBaseName() + QStringLiteral("_Structure.txt"));
        QFile::remove(report);
        const Run result = run(options << database);
        QCOMPARE(result.err, QByteArray());
        QCOMPARE(result.out, QByteArray());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(
            TestSupport::readFile(report),
            TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(expected + QStringLiteral(".expected.txt"))));
    }

    void outputFolderAndDatabaseAsGiven()
    {
        QTemporaryDir reports;
        const QString database = work.filePath(QStringLiteral("sample.mdb"));
        const Run result = run({QStringLiteral("--output"), reports.path(), database});
        QCOMPARE(result.exitCode, 0);
        const QByteArray report = TestSupport::readFile(reports.filePath(QStringLiteral("sample_Structure.txt")));
        QVERIFY(report.startsWith(" Printing From " + database.toUtf8() + "\r\n\r\n"));
    }

    void listPrintsTheUserTablesAndWritesNothing()
    {
        QTemporaryDir empty;
        const Run result = run({QStringLiteral("--list"), work.filePath(QStringLiteral("layout.mdb"))}, empty.path());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(QString::fromUtf8(result.out),
                 QStringLiteral("aardvark\nEmpty Table\nNames\nZebra\nКлиенты\n顧客 Café\n"));
        QVERIFY(QDir(empty.path()).isEmpty());
    }

    // A name, a column name and a description with characters beyond U+FFFF (surrogate pairs in
    // the file) keep them in the list, every format and the choice of a table; so do the names that
    // come from the system tables (relationships) and the index names made from them.
    void charactersBeyondU16SurviveEveryFormat()
    {
        const QString grin = QString::fromUcs4(U"\U0001F600", 1);
        const QString yoshi = QString::fromUcs4(U"\U00020BB7", 1);
        QTemporaryDir folder;
        QVERIFY(rewriteCopy(QStringLiteral("layout.mdb"), folder.filePath(QStringLiteral("layout.mdb")),
                            {{QStringLiteral("顧客"), grin}, {QStringLiteral("名前"), yoshi}}));
        const QString table = grin + QStringLiteral(" Café");
        Run result = run({QStringLiteral("--list"), QStringLiteral("layout.mdb")}, folder.path());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(QString::fromUtf8(result.out),
                 QStringLiteral("aardvark\nEmpty Table\nNames\nZebra\nКлиенты\n") + table + '\n');

        result = run({QStringLiteral("--table"), table, QStringLiteral("--format"), QStringLiteral("text,json"),
                      QStringLiteral("layout.mdb")},
                     folder.path());
        QCOMPARE(result.exitCode, 0);
        const QString report = QString::fromUtf8(TestSupport::readFile(folder.filePath("layout_Structure.txt")));
        QVERIFY2(report.contains("1) " + table + "\r\n") && report.contains("Table Name : " + table + "    ") &&
                     report.contains(" " + yoshi + " ") && report.contains(grin + "の" + yoshi + " — café") &&
                     !report.contains('?') && !report.contains(QChar(0xFFFD)),
                 qPrintable(report));
        const QString json = QString::fromUtf8(TestSupport::readFile(folder.filePath("layout_Structure.json")));
        QVERIFY2(json.contains("\"name\": \"" + table + "\"") && json.contains("\"name\": \"" + yoshi + "\"") &&
                     json.contains("\"description\": \"" + grin + "の" + yoshi + " — café\"") &&
                     !json.contains(QChar(0xFFFD)),
                 qPrintable(json));

        // The whole document is the original's with the name changed.
        QTemporaryDir original;
        QVERIFY(rewriteCopy(QStringLiteral("structure.mdb"), original.filePath(QStringLiteral("structure.mdb")), {}));
        QVERIFY(rewriteCopy(QStringLiteral("structure.mdb"), folder.filePath(QStringLiteral("structure.mdb")),
                            {{QStringLiteral("Customers"), "Custo" + grin + "rs"}}));
        const QStringList arguments{QStringLiteral("--format"), QStringLiteral("text,json"),
                                    QStringLiteral("structure.mdb")};
        QCOMPARE(run(arguments, original.path()).exitCode, 0);
        QCOMPARE(run(arguments, folder.path()).exitCode, 0);
        for (const char *name : {"structure_Structure.txt", "structure_Structure.json"}) {
            const QString expected = QString::fromUtf8(TestSupport::readFile(original.filePath(name)))
                                         .replace(QStringLiteral("Customers"), "Custo" + grin + "rs");
            const QString written = QString::fromUtf8(TestSupport::readFile(folder.filePath(name)));
            QVERIFY2(written.contains("Custo" + grin + "rs"), name);
            QCOMPARE(written, expected);
        }
    }

    void usageErrors()
    {
        Run result = run({});
        QCOMPARE(result.exitCode, 2);
        result = run({QStringLiteral("--bogus"), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 2);
        result = run({QStringLiteral("--table"), QStringLiteral("Nope"), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.startsWith("strudex-export: 'sample.mdb' has no table named 'Nope'"),
                 result.err.constData());
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("Nope"))));
        // The password of a second database means nothing without a second database.
        QFile::remove(work.filePath(QStringLiteral("sample_Structure.txt")));
        result = run({QStringLiteral("--new-password"), QStringLiteral("x"), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains("--diff"), result.err.constData());
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("sample_Structure.txt"))));
        result = run({QStringLiteral("--help")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.contains("--password"));
        result = run({QStringLiteral("--version")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.startsWith("strudex-export "));
    }

    // Each failure is one message for a command-line user: the program, the file it concerns, what
    // failed and why; none of the desktop program's routine tags or requests for a screenshot.
    void failuresGoToStandardErrorWithExitStatusOne()
    {
        QFile::remove(work.filePath(QStringLiteral("password_Structure.txt")));
        Run result = run({QStringLiteral("--password"), QStringLiteral("wrong"), QStringLiteral("password.mdb")});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err,
                 QByteArray("strudex-export: password.mdb: the database could not be opened: Not a valid password.\n"));
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("password_Structure.txt"))));

        result = run({QStringLiteral("missing.mdb")});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err, QByteArray("strudex-export: missing.mdb: the file could not be found.\n"));

        const QString nowhere = work.filePath(QStringLiteral("nowhere"));
        for (const QString &format : {QStringLiteral("text"), QStringLiteral("json")}) {
            result = run({QStringLiteral("--format"), format, QStringLiteral("--output"), nowhere,
                          QStringLiteral("sample.mdb")});
            QCOMPARE(result.exitCode, 1);
            QCOMPARE(result.err,
                     "strudex-export: " + nowhere.toUtf8() + ": there is no folder of that name to write into.\n");
        }

        // A database without user tables has no report to write.
        result = run({QStringLiteral("empty.mdb")});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err, QByteArray("strudex-export: empty.mdb: the database has no user tables, so there is no "
                                        "report to write.\n"));
        // One of linked tables only: its documents all the same, but no report.
        QFile::remove(work.filePath(QStringLiteral("linked_Structure.json")));
        result = run({QStringLiteral("--format"), QStringLiteral("json,markdown,html"), QStringLiteral("linked.mdb")});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, QByteArray());
        QVERIFY(
            TestSupport::readFile(work.filePath(QStringLiteral("linked_Structure.json"))).contains("Linked Orders"));
        result = run({QStringLiteral("--format"), QStringLiteral("text,json"), QStringLiteral("linked.mdb")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.startsWith("strudex-export: linked.mdb: the database has no user tables"),
                 result.err.constData());
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("linked_Structure.txt"))));
    }

    // A catalogue that cannot be read to its end is said in the desktop's words, with the number of
    // tables read; what was read is still listed and written, and the exit status says it failed.
    void aCatalogueReadInPartIsSaid()
    {
        // The catalogue of structure.accdb continues on page 101, beyond a cut at 100,000 bytes.
        QTemporaryDir folder;
        QFile cut(folder.filePath(QStringLiteral("cut.accdb")));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(QStringLiteral("structure.accdb")))
                      .left(100000));
        cut.close();
        const QByteArray note = "The table catalogue could not be read to its end: page 101 named by its usage map "
                                "lies beyond the end of the file. Only 2 tables could be read; the database may have "
                                "more.";

        Run result = run({QStringLiteral("--list"), cut.fileName()}, folder.path());
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QByteArray("Customers\nOrders\n"));
        QCOMPARE(result.err, "strudex-export: " + cut.fileName().toUtf8() + ": " + note + "\n");

        result = run({QStringLiteral("--format"), QStringLiteral("text,json,markdown,html"), QStringLiteral("--output"),
                      folder.path(), cut.fileName()},
                     folder.path());
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err.count(note), 1);
        const QByteArray report = TestSupport::readFile(folder.filePath(QStringLiteral("cut_Structure.txt")));
        QVERIFY2(report.contains("Customers") && report.contains("Orders") && !report.contains("Branches"),
                 report.constData());
        for (const char *extension : {".json", ".md", ".html"}) {
            const QByteArray document =
                TestSupport::readFile(folder.filePath(QStringLiteral("cut_Structure") + QLatin1String(extension)));
            QVERIFY2(document.contains(note), extension);
        }
    }

    // Without its engine the exporter says what the desktop program says: the message names the
    // missing program and says to reinstall. An engine that is there but cannot be run counts as
    // missing; one that the system starts but cannot run (127) is reported as not installed properly.
    void aMissingEngineIsNamed()
    {
        QTemporaryDir alone;
        QVERIFY(alone.isValid());
        const QString exporter = alone.filePath(QStringLiteral("strudex-export"));
        QVERIFY(QFile::copy(QDir(TestSupport::binDir()).filePath(QStringLiteral("strudex-export")), exporter));
        const QString engine = alone.filePath(QStringLiteral("strudex-engine"));
        const auto runAlone = [&](const QStringList &arguments) {
            return TestSupport::runProgram(exporter, arguments, work.path(), QByteArray(),
                                           QProcessEnvironment::systemEnvironment(), 60000);
        };
        const QByteArray named = QStringLiteral("the program \"%1\", which reads databases for Strudex, is missing or "
                                                "cannot be started. Reinstall Strudex to solve this problem.\n")
                                     .arg(engine)
                                     .toUtf8();

        const QStringList exportSample{QStringLiteral("--output"), alone.path(), QStringLiteral("sample.mdb")};
        Run result = runAlone(exportSample);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err, "strudex-export: sample.mdb: cannot be read: " + named);
        QVERIFY(result.out.isEmpty());
        QVERIFY(!QFile::exists(alone.filePath(QStringLiteral("sample_Structure.txt"))));

        result = runAlone({QStringLiteral("--diff"), QStringLiteral("sample.mdb"), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(named), result.err.constData());

        // There, but not a program anybody may run.
        {
            QFile file(engine);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\nexit 127\n");
        }
        result = runAlone(exportSample);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains(named), result.err.constData());

        // Starts, and ends at once, as a program does whose libraries are missing.
        QVERIFY(QFile::setPermissions(engine, QFile::permissions(engine) | QFileDevice::ExeOwner));
        result = runAlone(exportSample);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err, QStringLiteral("strudex-export: sample.mdb: the database could not be opened: Provider "
                                            "cannot be found. It may not be properly installed. (%1: it could not be "
                                            "started, code 127) Reinstall Strudex to solve this problem.\n")
                                 .arg(engine)
                                 .toUtf8());
        QVERIFY(!QFile::exists(alone.filePath(QStringLiteral("sample_Structure.txt"))));
    }

    void realWorldDatabase()
    {
        const QString real =
            TestSupport::fixturesDir() + QStringLiteral("/real/jahlborn+jackcess/src/test/data/V1997/testV1997.mdb");
        if (TestSupport::fixturesDir().isEmpty() || !QFile::exists(real))
            STRUDEX_WITHOUT_FIXTURE("The public test databases (../shared/fixtures/real) are not here.");
        QTemporaryDir reports;
        const Run result = run({QStringLiteral("--output"), reports.path(), real});
        QCOMPARE(result.exitCode, 0);
        const QByteArray report = TestSupport::readFile(reports.filePath(QStringLiteral("testV1997_Structure.txt")));
        QVERIFY(report.contains("1) Table1\r\n2) Table2\r\n3) Table3\r\n4) Table4\r\n"));
        QVERIFY(report.contains("Table Name : Table1    Total Fields : 9    Total Number Of Records For Table: 2\r\n"));
        QVERIFY(report.contains("\r\n A                         Text[50]     "));
        QVERIFY(report.contains("\r\n B                         Text[100]    "));
        QVERIFY(report.contains("\r\n C                         UnsignedTinyInt "));
        QVERIFY(report.contains("\r\n H                         Currency     "));
        QVERIFY(report.contains("\r\n I                         Boolean      "));
        QVERIFY(report.endsWith("\r\n\r\n\r\n"));
    }
};

QTEST_GUILESS_MAIN(ExportCommandTest)
#include "tst_export_command.moc"
