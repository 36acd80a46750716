// Everything a user can get wrong, or that can go wrong under them, ends in a clear message and a
// program that goes on; nothing earlier is lost.

#include "core/PathUtilities.h"
#include "core/db/Access.h"
#include "core/report/StructureReport.h"
#include "support/EngineFixture.h"
#include "support/RecordingView.h"
#include "support/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString databasePath;
QString databasePassword;

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray sample()
{
    return TestSupport::readFile(TestSupport::testDatabase(QStringLiteral("sample.mdb")));
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

struct Run
{
    int exitCode = -1;
    QByteArray err;
};

Run exportCommand(const QStringList &arguments, const QString &shellPrefix = QString())
{
    QProcess process;
    const QString program = QDir(TestSupport::binDir()).filePath(QStringLiteral("strudex-export"));
    if (shellPrefix.isEmpty()) {
        process.start(program, arguments);
    } else {
        QStringList quoted;
        for (const QString &argument : QStringList{program} + arguments)
            quoted << QLatin1Char('\'') + QString(argument).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
                          QLatin1Char('\'');
        process.start(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"), shellPrefix + QLatin1Char(' ') + quoted.join(u' ')});
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardError()};
}

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        TestSupport::useBuiltEngine();
        Main::SetAppTitle();
    }

    void databasesThatCannotBeRead_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");

        const QByteArray good = sample();
        const QString folder = dir.filePath(QStringLiteral("folder.mdb"));
        QDir().mkpath(folder);
        const QString fifo = dir.filePath(QStringLiteral("fifo.mdb"));
        ::mkfifo(fifo.toLocal8Bit().constData(), 0600);
        const QString unrecognized = QStringLiteral("Unrecognized database format '%1'.");
        QTest::newRow("a folder") << folder << QString() << unrecognized.arg(folder);
        QTest::newRow("a FIFO") << fifo << QString() << unrecognized.arg(fifo);
        QTest::newRow("a device") << QStringLiteral("/dev/zero") << QString()
                                  << unrecognized.arg(QStringLiteral("/dev/zero"));

        const QList<QPair<const char *, QByteArray>> damaged{
            {"an empty file", QByteArray()},
            {"a text file", QByteArray("Name;City\nSmith;Leeds\n").repeated(300)},
            {"truncated after the header", good.left(4096)},
            {"truncated inside the catalogue", good.left(4096 * 3 + 1000)},
            {"random bytes behind a valid header",
             [&] {
                 QByteArray bytes = good.left(4096);
                 quint32 seed = 7;
                 for (int i = 0; i < 4096 * 40; ++i) {
                     seed = seed * 1664525u + 1013904223u;
                     bytes.append(char(seed >> 24));
                 }
                 return bytes;
             }()},
        };
        for (const auto &[name, bytes] : damaged) {
            const QString path = dir.filePath(QString::fromLatin1(name).replace(u' ', u'-') + QStringLiteral(".mdb"));
            write(path, bytes);
            QTest::newRow(name) << path << QString() << QString();
        }

        const QString locked = TestSupport::copyOfTestDatabase(QStringLiteral("password.mdb"));
        QTest::newRow("a wrong password")
            << locked << QStringLiteral("Pa;ss=w0rD") << QStringLiteral("Not a valid password.");
        QTest::newRow("an empty password") << locked << QString() << QStringLiteral("Not a valid password.");
        QTest::newRow("an over-long password")
            << locked << QString(5000, u'p') << QStringLiteral("Not a valid password.");
    }

    void databasesThatCannotBeRead()
    {
        QFETCH(QString, path);
        QFETCH(QString, password);
        QFETCH(QString, message);
        databasePath = path;
        databasePassword = password;
        ScriptedDialogs dialogs;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!Access::NonSystemTables(dialogs, {path, databasePassword}).has_value());
        QVERIFY(timer.elapsed() < 20000);
        QCOMPARE(dialogs.messages.size(), 1);
        const QString text = dialogs.texts().constFirst();
        QVERIFY2(text.contains(QStringLiteral("\r\nin Strudex2021/08/31.Access.NonSystemTables at line 106")),
                 qPrintable(text));
        if (!message.isEmpty())
            QVERIFY2(text.startsWith(message + QStringLiteral("\r\n")), qPrintable(text));
        else
            QVERIFY2(!text.startsWith(QStringLiteral("\r\n")), qPrintable(text)); // a description is given
    }

    void missingOrEmptyPathsAreLeftAlone()
    {
        // The table list is only asked for a file that is there; the command line says why not.
        ScriptedDialogs dialogs;
        for (const QString &path : {QString(), dir.filePath(QStringLiteral("missing.mdb"))}) {
            databasePath = path;
            QVERIFY(!Access::NonSystemTables(dialogs, {path, databasePassword}).has_value());
        }
        QVERIFY(dialogs.messages.isEmpty());
        const Run run = exportCommand({dir.filePath(QStringLiteral("missing.mdb"))});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, "strudex-export: " + dir.filePath(QStringLiteral("missing.mdb")).toUtf8() +
                              ": the file could not be found.\n");
    }

    void truncatedAnywhereTheExportStillEnds()
    {
        // Cut the sample database at many points, through the catalogue and the table definitions
        // and data pages: every export ends, with a report or a message, never a crash.
        const QByteArray good = sample();
        QTemporaryDir out;
        for (int pages = 2; pages * 4096 < good.size(); pages += 5) {
            const QString path = out.filePath(QStringLiteral("cut%1.mdb").arg(pages));
            write(path, good.left(pages * 4096 + 123));
            const Run run = exportCommand({QStringLiteral("--output"), out.path(), path});
            QVERIFY2(run.exitCode == 0 || run.exitCode == 1,
                     qPrintable(QStringLiteral("cut at page %1: %2").arg(pages).arg(run.exitCode)));
            if (run.exitCode == 1)
                QVERIFY(!run.err.isEmpty());
        }
    }

    void databaseReplacedBeforeTheExport()
    {
        databasePath = TestSupport::copyOfTestDatabase(QStringLiteral("sample.mdb"));
        databasePassword.clear();
        RecordingView view;
        view.rows = {{QStringLiteral("Customers"), true}, {QStringLiteral("Orders"), true}};
        QFile::remove(databasePath);
        QVERIFY(QFile::copy(TestSupport::testDatabase(QStringLiteral("layout.mdb")), databasePath));
        ScriptedDialogs dialogs;
        QTemporaryDir out;
        StructureReport::StartExporting(dialogs, view, {databasePath, databasePassword}, out.path());
        const QByteArray report = TestSupport::readFile(out.filePath(QStringLiteral("sample_Structure.txt")));
        QVERIFY(report.contains("Table Name : Customers\r\nThis table could not be read: The Microsoft Jet database "
                                "engine cannot find the input table or query 'Customers'."));
        QVERIFY(!report.contains("Total Fields : 0"));
        QVERIFY(dialogs.texts().constFirst().startsWith(
            QStringLiteral("The Microsoft Jet database engine cannot find the input table or query 'Customers'.")));
        QCOMPARE(dialogs.texts().constLast(), QStringLiteral("Done, with errors."));
    }

    void outputFolderThatCannotBeWritten()
    {
        databasePath = TestSupport::testDatabase(QStringLiteral("sample.mdb"));
        RecordingView view;
        view.rows = {{QStringLiteral("Shippers"), true}};
        ScriptedDialogs dialogs;
        // A folder of the system's own where no file can be made, whoever runs the test.
        StructureReport::StartExporting(dialogs, view, {databasePath, databasePassword}, QStringLiteral("/proc/self"));
        // The failure is the last word: no "Done." after a report that was not saved.
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.texts().at(0).contains(QStringLiteral("/proc/self/sample_Structure.txt")));
        QVERIFY(dialogs.texts().at(0).contains(QStringLiteral("generateStructure at line 116")));
    }

    void readOnlyReportIsNotReplaced()
    {
        databasePath = TestSupport::testDatabase(QStringLiteral("sample.mdb"));
        QTemporaryDir out;
        const QString report = out.filePath(QStringLiteral("sample_Structure.txt"));
        write(report, "kept");
        QVERIFY(QFile::setPermissions(report, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        RecordingView view;
        view.rows = {{QStringLiteral("Shippers"), true}};
        ScriptedDialogs dialogs;
        StructureReport::StartExporting(dialogs, view, {databasePath, databasePassword}, out.path());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.texts().at(0).contains(QStringLiteral("is read-only")));
        QCOMPARE(TestSupport::readFile(report), QByteArray("kept"));
        QCOMPARE(filesIn(out.path()), QStringList{QStringLiteral("sample_Structure.txt")});
    }

    void diskFillsUpWhileTheReportIsWritten()
    {
        QTemporaryDir out;
        const QString database = TestSupport::copyOfTestDatabase(QStringLiteral("many.accdb"));
        const QString report = out.filePath(QStringLiteral("many_Structure.txt"));
        write(report, "earlier report");
        // The file size allowed ends long before the report does: the write fails for real.
        const Run limited =
            exportCommand({QStringLiteral("--output"), out.path(), database}, QStringLiteral("ulimit -f 64; exec"));
        QCOMPARE(limited.exitCode, 1);
        QVERIFY2(limited.err.contains("File too large") && limited.err.contains("was not saved"),
                 limited.err.constData());
        // One message, naming the report, and no "Done." after it.
        QCOMPARE(limited.err.count("strudex-export: "), 1);
        QVERIFY2(limited.err.startsWith("strudex-export: " + report.toUtf8() + ": the report could not be written: "),
                 limited.err.constData());
        QCOMPARE(TestSupport::readFile(report), QByteArray("earlier report"));
        QCOMPARE(filesIn(out.path()), QStringList{QStringLiteral("many_Structure.txt")});

        // A really full disk, where the system lets us make a small one.
        const QString mounted = out.filePath(QStringLiteral("small-disk"));
        QDir().mkpath(mounted);
        const Run full = exportCommand(
            {QStringLiteral("--output"), mounted, database},
            QStringLiteral("unshare -m sh -c 'mount -t tmpfs -o size=32k tmpfs \"$0\" && exec \"$@\"' '%1'")
                .arg(mounted));
        if (full.exitCode == 1 && full.err.contains("mount"))
            QSKIP("No small disk can be made here; the file size limit above stood in for it.");
        QCOMPARE(full.exitCode, 1);
        QVERIFY2(full.err.startsWith("strudex-export: " + mounted.toUtf8() + "/many_Structure.txt: ") &&
                     full.err.contains(": Disk full: '") && full.err.contains("No space left on device"),
                 full.err.constData());
    }

    void outputNamesHeldByLinksAreRefused()
    {
        QTemporaryDir out;
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("precious.txt"));
        write(target, "precious");
        const QString database = TestSupport::copyOfTestDatabase(QStringLiteral("sample.mdb"));
        // The report, then each document, with a link at its name: refused, link and target kept.
        const QList<QPair<QString, QString>> cases{{QStringLiteral("text"), QStringLiteral("txt")},
                                                   {QStringLiteral("json"), QStringLiteral("json")},
                                                   {QStringLiteral("markdown"), QStringLiteral("md")},
                                                   {QStringLiteral("html"), QStringLiteral("html")}};
        for (const auto &[format, extension] : cases) {
            const QString link = out.filePath(QStringLiteral("sample_Structure.") + extension);
            QVERIFY(QFile::link(target, link));
            const Run run =
                exportCommand({QStringLiteral("--format"), format, QStringLiteral("--output"), out.path(), database});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains(QStringLiteral("'%1' is a symbolic link").arg(link).toUtf8()),
                     run.err.constData());
            QCOMPARE(TestSupport::readFile(target), QByteArray("precious"));
            QCOMPARE(QFileInfo(link).symLinkTarget(), target);
            QVERIFY(QFile::remove(link));
        }
        // A folder or a FIFO at the name is no file to replace either; the other formats are written.
        QVERIFY(QDir(out.path()).mkdir(QStringLiteral("sample_Structure.json")));
        QCOMPARE(mkfifo(QFile::encodeName(out.filePath(QStringLiteral("sample_Structure.md"))).constData(), 0600), 0);
        const Run run = exportCommand({QStringLiteral("--format"), QStringLiteral("json,markdown,html"),
                                       QStringLiteral("--output"), out.path(), database});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("sample_Structure.json' is a folder") &&
                     run.err.contains("sample_Structure.md' is not a regular file"),
                 run.err.constData());
        QVERIFY(QFileInfo(out.filePath(QStringLiteral("sample_Structure.json"))).isDir());
        QVERIFY(QFileInfo(out.filePath(QStringLiteral("sample_Structure.html"))).isFile());
    }

    void linkOfAnotherUserInAStickyFolder()
    {
        if (geteuid() != 0)
            QSKIP("Only root can give a link to another user; CI runs this as root.");
        // Root exports into a folder everybody can write, where another user planted a link to a
        // file of root's.
        QTemporaryDir shared;
        QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
        QTemporaryDir rootOnly;
        const QString target = rootOnly.filePath(QStringLiteral("shadow"));
        write(target, "root's own");
        const QString database = TestSupport::copyOfTestDatabase(QStringLiteral("sample.mdb"));
        for (const QString &format : {QStringLiteral("text"), QStringLiteral("json")}) {
            const QString link =
                shared.filePath(format == QStringLiteral("text") ? QStringLiteral("sample_Structure.txt")
                                                                 : QStringLiteral("sample_Structure.json"));
            QVERIFY(QFile::link(target, link));
            QCOMPARE(::lchown(QFile::encodeName(link).constData(), 65534, 65534), 0);
            const Run run = exportCommand(
                {QStringLiteral("--format"), format, QStringLiteral("--output"), shared.path(), database});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains("is a symbolic link"), run.err.constData());
            QCOMPARE(TestSupport::readFile(target), QByteArray("root's own"));
            QVERIFY(QFileInfo(link).isSymLink());
            QVERIFY(QFile::remove(link));
        }
    }

    void exportKilledMidwayLeavesTheEarlierReport()
    {
        QTemporaryDir out;
        const QString database = TestSupport::copyOfTestDatabase(QStringLiteral("many.accdb"));
        const QString report = out.filePath(QStringLiteral("many_Structure.txt"));
        write(report, "earlier report");
        QProcess process;
        process.start(QDir(TestSupport::binDir()).filePath(QStringLiteral("strudex-export")),
                      {QStringLiteral("--output"), out.path(), database});
        QVERIFY(process.waitForStarted());
        // Wait until the new report is being written, then kill the exporter outright.
        bool writing = false;
        QElapsedTimer timer;
        timer.start();
        while (!writing && timer.elapsed() < 20000 && process.state() == QProcess::Running) {
            const QDir fds(QStringLiteral("/proc/%1/fd").arg(process.processId()));
            for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
                writing = writing || fd.symLinkTarget().startsWith(out.path());
            if (!writing)
                QThread::usleep(200);
        }
        QVERIFY2(writing, "the exporter was never seen writing its report");
        process.kill();
        process.waitForFinished();
        QCOMPARE(TestSupport::readFile(report), QByteArray("earlier report"));
        QCOMPARE(filesIn(out.path()), QStringList{QStringLiteral("many_Structure.txt")});
    }
};

QTEST_GUILESS_MAIN(BadInputTest)
#include "tst_bad_input.moc"
