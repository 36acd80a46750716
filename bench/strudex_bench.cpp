// Measures Strudex against mdbtools' own programs on the benchmark database and checks the speed
// and memory targets. Every pair is measured in the same run, on the same file, with a warm cache.
//
//   strudex-bench [large.accdb.gz]

#include "EncryptedCopy.h"
#include "core/Dialogs.h"
#include "core/PathUtilities.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/WorkerProcess.h"
#include "core/report/ExportView.h"
#include "core/report/StructureReport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <vector>

namespace {

// A real database encrypted by Access with Agile encryption (AES-256, SHA-512, 100,000 rounds,
// what Access 2010 and later write), whose key material the encrypted twin of the benchmark
// database borrows, and its password.
constexpr const char *kDonor =
    STRUDEX_SOURCE_DIR "/../shared/fixtures/real/jahlborn+jackcessencrypt/src/test/data/db2013-enc.accdb";
constexpr const char *kDonorPassword = "1234";

class CountingDialogs : public Dialogs
{
public:
    int failures = 0;
    Answer message(const QString &, const QString &text, Buttons, Icon) override
    {
        if (text != QStringLiteral("Done.")) {
            ++failures;
            std::fprintf(stderr, "reported: %s\n", qPrintable(text.left(200)));
        }
        return Answer::Ok;
    }
    std::optional<QString> openFile(const OpenFileRequest &) override { return std::nullopt; }
    QString browseForFolder(const QString &, const QString &) override { return QString(); }
    bool openUrl(const QUrl &) override { return false; }
};

// The export window as the report writer sees it, timing the gaps between two chances to repaint.
class TimingView : public ExportView
{
public:
    QStringList tables;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;

    void breathe()
    {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    }
    int rowCount() const override { return int(tables.size()); }
    QString rowText(int row) const override { return tables.at(row - 1); }
    bool rowTicked(int) const override { return true; }
    void setProgressValue(double) override {}
    void setProgressCaption(const QString &) override {}
    void setPointer(Pointer) override {}
    void yield() override { breathe(); }
};

double seconds(const std::function<void()> &work, int runs = 3)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void runCommand(const QString &command)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    process.waitForFinished(-1);
}

QString quoted(const QString &text)
{
    QString result = text;
    result.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + result + QLatin1Char('\'');
}

qint64 rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> result;
    QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (children.open(QIODevice::ReadOnly)) {
            for (const QByteArray &child : children.readAll().split(' '))
                if (!child.trimmed().isEmpty())
                    result << child.trimmed().toLongLong();
        }
    }
    return result;
}

struct Result
{
    const char *what;
    double ours;
    double theirs;
    double limit;
    const char *unit;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString compressed = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                        : QStringLiteral(STRUDEX_SOURCE_DIR "/../shared/fixtures/bench/large.accdb.gz");
    const QString bin = QCoreApplication::applicationDirPath();
    Ado::WorkerSettings::setProgram(bin + QStringLiteral("/strudex-engine"));
    Main::SetAppTitle();

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("large.accdb"));
    std::printf("Unpacking %s\n", qPrintable(compressed));
    runCommand(QStringLiteral("gzip -dc %1 > %2").arg(quoted(compressed), quoted(file)));
    if (QFileInfo(file).size() == 0) {
        std::fprintf(stderr, "cannot unpack %s\n", qPrintable(compressed));
        return 2;
    }
    runCommand(QStringLiteral("cat %1").arg(quoted(file))); // warm the cache
    for (const char *tool : {"mdb-tables", "mdb-schema", "mdb-export"}) {
        if (QProcess::execute(
                QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("command -v %1 >/dev/null").arg(QLatin1String(tool))}) != 0) {
            std::fprintf(stderr, "%s is missing: install the Debian package mdbtools\n", tool);
            return 2;
        }
    }

    QString path = file;
    QString password;
    Access::SetConnectionParameters([&] { return path; }, [&] { return password; });
    CountingDialogs dialogs;
    std::vector<Result> results;

    // Listing the user tables.
    const double mdbTables = seconds([&] { runCommand(QStringLiteral("mdb-tables -1 %1").arg(quoted(file))); });
    QStringList tables;
    const double listing = seconds([&] { tables = Access::NonSystemTables(dialogs, file).value_or(QStringList()); });
    results.push_back({"list the user tables (vs mdb-tables -1)", listing, mdbTables, 1.5, "x"});
    std::printf("%lld user tables\n", qint64(tables.size()));

    // Opening an encrypted database (the worker derives the key, then decrypts the whole file into
    // memory) against opening the same database unencrypted.
    const QString encrypted = dir.filePath(QStringLiteral("large-encrypted.accdb"));
    try {
        EncryptedCopy::make(QFile::encodeName(file).toStdString(), {kDonor, kDonorPassword},
                            QFile::encodeName(encrypted).toStdString());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    runCommand(QStringLiteral("cat %1").arg(quoted(encrypted))); // warm the cache
    path = encrypted;
    password = QString::fromLatin1(kDonorPassword);
    const QStringList encryptedTables = Access::NonSystemTables(dialogs, encrypted).value_or(QStringList());
    QString refusal;
    password = QStringLiteral("not the password");
    try {
        Ado::CreateConnection()->Open(Access::BuildConnectionString());
    } catch (const std::exception &error) {
        refusal = QString::fromUtf8(error.what());
    }
    if (encryptedTables != tables || refusal != QStringLiteral("Not a valid password.")) {
        std::fprintf(stderr,
                     "the encrypted copy lists %lld tables (the original %lld); a wrong password gives \"%s\"\n",
                     qint64(encryptedTables.size()), qint64(tables.size()), qPrintable(refusal));
        return 2;
    }
    const auto openAndClose = [&](const QString &database, const QString &secret) {
        path = database;
        password = secret;
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString());
        connection->Close();
    };
    const double openPlain = seconds([&] { openAndClose(file, QString()); });
    const double openEncrypted = seconds([&] { openAndClose(encrypted, QString::fromLatin1(kDonorPassword)); });
    path = file;
    password.clear();
    std::printf("open: unencrypted %.3fs, encrypted %.3fs, %+.3fs\n", openPlain, openEncrypted,
                openEncrypted - openPlain);

    // Every table's fields, descriptions and exact record count.
    const double mdbSchema = seconds([&] { runCommand(QStringLiteral("mdb-schema %1 postgres").arg(quoted(file))); });
    qint64 fields = 0;
    const double reading = seconds([&] {
        fields = 0;
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString());
        auto recordset = Ado::CreateRecordset();
        for (const QString &table : tables) {
            recordset->Open(QStringLiteral("select * from [") + table + QLatin1Char(']'), *connection);
            for (int j = 0; j < recordset->FieldCount(); ++j) {
                Access::GetFieldDesc_ADO(dialogs, table, recordset->Field(j).Name, *connection);
                ++fields;
            }
            recordset->RecordCount();
            recordset->Close();
        }
    });
    std::printf("%lld fields\n", fields);
    results.push_back({"read fields, descriptions, counts (vs mdb-schema postgres)", reading, mdbSchema, 0.6, "x"});

    // The exact count of the million-row table.
    const double mdbExport =
        seconds([&] { runCommand(QStringLiteral("mdb-export %1 Events | wc -l").arg(quoted(file))); }, 1);
    qint64 events = 0;
    const double counting = seconds([&] {
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString());
        auto recordset = Ado::CreateRecordset();
        recordset->Open(QStringLiteral("select * from [Events]"), *connection);
        events = recordset->RecordCount();
    });
    std::printf("Events: %lld records\n", events);
    results.push_back({"count Events (vs mdb-export | wc -l)", counting, mdbExport, 0.1, "x"});

    // The command-line export of every table, and its memory.
    QTemporaryDir out;
    qint64 peakKb = 0;
    const double exporting = seconds([&] {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(bin + QStringLiteral("/strudex-export"), {QStringLiteral("--output"), out.path(), file});
        process.waitForStarted();
        const qint64 pid = process.processId();
        while (!process.waitForFinished(5)) {
            qint64 total = rssKb(pid);
            for (qint64 child : childrenOf(pid))
                total += rssKb(child);
            peakKb = std::max(peakKb, total);
        }
        if (process.exitCode() != 0)
            std::fprintf(stderr, "strudex-export: %s\n", process.readAllStandardError().left(500).constData());
    });
    results.push_back({"strudex-export, all tables (vs mdb-schema postgres)", exporting, mdbSchema, 0.7, "x"});

    // A desktop-style run: how long the window would go without a chance to repaint.
    TimingView view;
    view.tables = tables;
    Ado::WorkerSettings::setWaitHook([&] { view.breathe(); });
    view.clock.start();
    const qint32 ticked = qint32(tables.size());
    StructureReport::generateStructure(dialogs, view, out.filePath(QStringLiteral("desktop_Structure.txt")), ticked);
    view.breathe();
    Ado::WorkerSettings::setWaitHook({});

    std::printf("\n%-62s %10s %10s %8s %8s\n", "measure", "strudex", "reference", "ratio", "target");
    bool met = true;
    for (const Result &r : results) {
        const double ratio = r.ours / r.theirs;
        const bool ok = ratio <= r.limit;
        met = met && ok;
        std::printf("%-62s %9.3fs %9.3fs %7.2fx %7.2fx %s\n", r.what, r.ours, r.theirs, ratio, r.limit,
                    ok ? "ok" : "MISSED");
    }
    const double openExtra = openEncrypted - openPlain;
    const bool openOk = openExtra <= 0.3;
    met = met && openOk;
    std::printf("%-62s %9.3fs %9.3fs %+7.3fs %+7.2fs %s\n", "open encrypted copy, extra time (vs unencrypted)",
                openEncrypted, openPlain, openExtra, 0.3, openOk ? "ok" : "MISSED");
    const bool memoryOk = peakKb < 150 * 1024;
    const double longestMs = double(view.longest) / 1e6;
    const bool breathOk = longestMs < 100;
    met = met && memoryOk && breathOk;
    std::printf("%-62s %9.1fMB %31s %s\n", "peak memory of strudex-export and its worker", double(peakKb) / 1024,
                "< 150 MB", memoryOk ? "ok" : "MISSED");
    std::printf("%-62s %9.1fms %31s %s\n", "longest wait between two yields (desktop run)", longestMs, "< 100 ms",
                breathOk ? "ok" : "MISSED");
    if (dialogs.failures)
        std::printf("%d failures were reported during the runs\n", dialogs.failures);
    return met && dialogs.failures == 0 ? 0 : 1;
}
