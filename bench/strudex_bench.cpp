// Measures Strudex against mdbtools' own programs on the benchmark database and checks the speed
// and memory targets. Every pair is measured in the same run, on the same file, with a warm cache.
// The desktop program is measured with its real windows on Qt's offscreen platform.
//
//   strudex-bench [large.accdb.gz]

#include "EncryptedCopy.h"
#include "PageRender.h"
#include "core/Dialogs.h"
#include "core/PathUtilities.h"
#include "core/Settings.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/WorkerProcess.h"
#include "core/report/ExportView.h"
#include "core/report/StructureReport.h"
#include "gui/Form1.h"
#include "gui/Form2.h"
#include "gui/Program.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

namespace {

// A real database encrypted by Access with Agile encryption (AES-256, SHA-512, 100,000 rounds,
// what Access 2010 and later write), whose key material the encrypted twin of the benchmark
// database borrows, and its password.
constexpr const char *kDonor =
    STRUDEX_SOURCE_DIR "/../shared/fixtures/real/jahlborn+jackcessencrypt/src/test/data/db2013-enc.accdb";
constexpr const char *kDonorPassword = "1234";

// The largest application of the collection with its code: what reading an application costs.
constexpr const char *kApplication = STRUDEX_SOURCE_DIR "/../shared/fixtures/real/code/tmdb-accdb/TM-DB-2012v1b.accdb";

class CountingDialogs : public Dialogs
{
public:
    int failures = 0;
    int done = 0;
    Answer message(const QString &, const QString &text, Buttons, Icon) override
    {
        if (text == QStringLiteral("Done."))
            ++done;
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

// CPU seconds of this process so far.
double selfCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of a running process so far (user and system, from /proc).
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// CPU seconds of the waited-for children (and theirs) so far.
double childCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A view that ticks every table and does nothing else.
class PlainView : public ExportView
{
public:
    QStringList tables;
    int rowCount() const override { return int(tables.size()); }
    QString rowText(int row) const override { return tables.at(row - 1); }
    bool rowTicked(int) const override { return true; }
    void setProgressValue(double) override {}
    void setProgressCaption(const QString &) override {}
    void setPointer(Pointer) override {}
    void yield() override {}
};

template <class T> T *child(QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found) {
        std::fprintf(stderr, "no %s in the window\n", name);
        std::exit(2);
    }
    return found;
}

// The machine's load average over the last minute: other work shares the cores, and the figures
// mean little without it.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll().split(' ').value(0));
}

struct Result
{
    const char *what;
    double ours;
    double theirs;
    double limit;
    const char *unit;
    // The ratio, when it is not ours / theirs (the median of paired runs' ratios).
    std::optional<double> pairedRatio = std::nullopt;
};

} // namespace

int main(int argc, char *argv[])
{
    // The windows are measured, never shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString loadAtStart = loadAverage();
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
    CountingDialogs dialogs;
    std::vector<Result> results;

    // Listing the user tables.
    const double mdbTables = seconds([&] { runCommand(QStringLiteral("mdb-tables -1 %1").arg(quoted(file))); });
    QStringList tables;
    // Each time from nothing: a kept worker would answer without reading.
    const double listing = seconds([&] {
        Ado::Connection::releaseKept();
        tables = Access::NonSystemTables(dialogs, {file, password}).value_or(QStringList());
    });
    Ado::Connection::releaseKept();
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
    const QStringList encryptedTables = Access::NonSystemTables(dialogs, {encrypted, password}).value_or(QStringList());
    QString refusal;
    password = QStringLiteral("not the password");
    try {
        Ado::CreateConnection()->Open(Access::BuildConnectionString({path, password}));
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
        Ado::Connection::releaseKept();
        path = database;
        password = secret;
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString({path, password}));
        connection->Close();
    };
    const double openPlain = seconds([&] { openAndClose(file, QString()); });
    const double openEncrypted = seconds([&] { openAndClose(encrypted, QString::fromLatin1(kDonorPassword)); });
    path = file;
    password.clear();
    std::printf("open: unencrypted %.3fs, encrypted %.3fs, %+.3fs\n", openPlain, openEncrypted,
                openEncrypted - openPlain);

    // Every table's fields, descriptions and exact record count, and the command-line export of
    // every table with its memory and CPU, each round next to mdb-schema, so that the machine's
    // other work weighs on both sides alike.
    const auto timed = [](const std::function<void()> &work) {
        QElapsedTimer timer;
        timer.start();
        work();
        return double(timer.nsecsElapsed()) / 1e9;
    };
    qint64 fields = 0;
    const auto readAll = [&] {
        Ado::Connection::releaseKept();
        fields = 0;
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString({path, password}));
        connection->readAhead(tables);
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
    };
    QTemporaryDir out;
    // One run of strudex-export to its end. With a peak to keep, the memory of the exporter and its
    // worker is looked at every 5 ms; the timed runs are not looked at: reading /proc every 5 ms
    // takes time from the two processors that mdb-schema, never looked at, has to itself.
    const auto runExport = [&](const QStringList &arguments, qint64 *peakKb) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(bin + QStringLiteral("/strudex-export"), arguments);
        process.waitForStarted();
        const qint64 pid = process.processId();
        while (peakKb && !process.waitForFinished(5)) {
            qint64 total = rssKb(pid);
            for (qint64 child : childrenOf(pid))
                total += rssKb(child);
            *peakKb = std::max(*peakKb, total);
        }
        process.waitForFinished(-1);
        if (process.exitCode() != 0)
            std::fprintf(stderr, "strudex-export %s: %s\n", qPrintable(arguments.join(QLatin1Char(' '))),
                         process.readAllStandardError().left(500).constData());
    };
    const QStringList reportArguments{QStringLiteral("--output"), out.path(), file};
    // The whole structure in every document format at once.
    const QStringList formatArguments{QStringLiteral("--format"), QStringLiteral("json,markdown,html"),
                                      QStringLiteral("--output"), out.path(), file};
    qint64 peakKb = 0;
    qint64 formatsPeakKb = 0;
    std::vector<double> exportCpu;
    const auto exportAll = [&] {
        const double cpuBefore = childCpuSeconds();
        runExport(reportArguments, nullptr);
        exportCpu.push_back(childCpuSeconds() - cpuBefore);
    };
    const auto exportFormats = [&] { runExport(formatArguments, nullptr); };
    std::vector<double> schemaTimes;
    std::vector<double> readTimes;
    std::vector<double> exportTimes;
    std::vector<double> formatTimes;
    for (int round = 0; round < 5; ++round) {
        schemaTimes.push_back(timed([&] { runCommand(QStringLiteral("mdb-schema %1 postgres").arg(quoted(file))); }));
        readTimes.push_back(timed(readAll));
        exportTimes.push_back(timed(exportAll));
        formatTimes.push_back(timed(exportFormats));
        // The memory, in runs of their own.
        runExport(reportArguments, &peakKb);
        runExport(formatArguments, &formatsPeakKb);
    }
    const double mdbSchema = median(schemaTimes);
    const double reading = median(readTimes);
    const double exporting = median(exportTimes);
    const double exportCpuSeconds = median(exportCpu);
    std::printf("%lld fields\n", fields);
    results.push_back({"read fields, descriptions, counts (vs mdb-schema postgres)", reading, mdbSchema, 0.15, "x"});

    // The page of every table in a browser, next to a tiny page (the browser's own start).
    const PageRender::Timing page = PageRender::measure(bin + QStringLiteral("/strudex-export"), file, out.path());

    // The exact count of the million-row table.
    const double mdbExport =
        seconds([&] { runCommand(QStringLiteral("mdb-export %1 Events | wc -l").arg(quoted(file))); }, 1);
    qint64 events = 0;
    const double counting = seconds([&] {
        Ado::Connection::releaseKept();
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString({path, password}));
        auto recordset = Ado::CreateRecordset();
        recordset->Open(QStringLiteral("select * from [Events]"), *connection);
        events = recordset->RecordCount();
    });
    Ado::Connection::releaseKept();
    std::printf("Events: %lld records\n", events);

    // Nobody busy-waits: the program while the worker counts the million rows, and a worker with
    // nothing to do (kept for the next connection), take next to no CPU.
    double waitingProgramCpu = 0;
    double waitingProgramWall = 0;
    {
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString({path, password}));
        auto recordset = Ado::CreateRecordset();
        const double before = selfCpuSeconds();
        waitingProgramWall =
            seconds([&] { recordset->Open(QStringLiteral("select * from [Events]"), *connection); }, 1);
        waitingProgramCpu = selfCpuSeconds() - before;
        recordset->Close();
        connection->Close();
    }
    double idleWorkerCpu = -1;
    for (qint64 worker : childrenOf(QCoreApplication::applicationPid())) {
        const double before = processCpuSeconds(worker);
        QThread::sleep(1);
        idleWorkerCpu = processCpuSeconds(worker) - before;
    }
    Ado::Connection::releaseKept();
    results.push_back({"count Events (vs mdb-export | wc -l)", counting, mdbExport, 0.1, "x"});

    results.push_back({"strudex-export, all tables (vs mdb-schema postgres)", exporting, mdbSchema, 0.25, "x"});
    results.push_back({"text report alone vs mdb-schema", exporting, mdbSchema, 0.15, "x"});
    results.push_back({"all formats (json, markdown, html) vs mdb-schema", median(formatTimes), mdbSchema, 0.35, "x"});

    // What reading the application (forms, reports, macros, modules and their code) adds to all the
    // formats of the largest application: the same export with the worker told to leave it out,
    // runs side by side.
    if (QFileInfo::exists(QString::fromLatin1(kApplication))) {
        std::vector<double> withCode;
        std::vector<double> withoutCode;
        QTemporaryDir appOut;
        const auto exportApplication = [&](bool code) {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            if (!code)
                environment.insert(QStringLiteral("STRUDEX_ENGINE_WITHOUT_APPLICATION"), QStringLiteral("1"));
            process.setProcessEnvironment(environment);
            process.setStandardOutputFile(QProcess::nullDevice());
            process.setStandardErrorFile(QProcess::nullDevice());
            process.start(bin + QStringLiteral("/strudex-export"),
                          {QStringLiteral("--format"), QStringLiteral("json,markdown,html"), QStringLiteral("--output"),
                           appOut.path(), QString::fromLatin1(kApplication)});
            process.waitForFinished(-1);
        };
        // Short runs, easily disturbed: more of them than for the big database, and the ratio is
        // the median of each round's own (its two runs side by side), which a machine that gets
        // faster or slower over the rounds does not move.
        std::vector<double> ratios;
        for (int round = 0; round < 15; ++round) {
            withCode.push_back(timed([&] { exportApplication(true); }));
            withoutCode.push_back(timed([&] { exportApplication(false); }));
            ratios.push_back(withCode.back() / withoutCode.back());
        }
        results.push_back({"all formats of the largest application (vs without its code)", median(withCode),
                           median(withoutCode), 1.25, "x", median(ratios)});
    } else {
        std::printf("the applications of the public collection are not here: reading their code not measured\n");
    }

    // Documenting trees of databases, a fresh output folder each time.
    const auto documentTree = [&](const QString &root, const QStringList &options) {
        QTemporaryDir out;
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(bin + QStringLiteral("/strudex-export"),
                      QStringList{QStringLiteral("--recursive"), root, QStringLiteral("--output"), out.path()} +
                          options);
        process.waitForFinished(-1);
    };
    const QString realRoot = QStringLiteral(STRUDEX_SOURCE_DIR "/../shared/fixtures/real");
    if (QFileInfo(realRoot).isDir()) {
        // Two workers against one on the public collection, runs side by side; nine rounds, as
        // this machine's speed wanders by more than the difference to be seen.
        std::vector<double> one;
        std::vector<double> two;
        std::vector<double> ratios;
        for (int round = 0; round < 9; ++round) {
            one.push_back(timed([&] { documentTree(realRoot, {QStringLiteral("--jobs"), QStringLiteral("1")}); }));
            two.push_back(timed([&] { documentTree(realRoot, {QStringLiteral("--jobs"), QStringLiteral("2")}); }));
            ratios.push_back(two.back() / one.back());
        }
        results.push_back({"the public collection's tree, --jobs 2 (vs --jobs 1)", median(two), median(one), 1 / 1.7,
                           "x", median(ratios)});
    } else {
        std::printf("the public collection is not here: documenting a tree with two workers not measured\n");
    }
    {
        // A thousand copies of the small fixture databases in a tree, against mdb-schema on each
        // file in turn.
        QTemporaryDir copies;
        const QDir fixtures(QStringLiteral(STRUDEX_SOURCE_DIR "/../shared/fixtures"));
        const QStringList small{QStringLiteral("empty.mdb"),       QStringLiteral("sample.mdb"),
                                QStringLiteral("types.mdb"),       QStringLiteral("linked.mdb"),
                                QStringLiteral("structure.mdb"),   QStringLiteral("layout.mdb"),
                                QStringLiteral("structure.accdb"), QStringLiteral("types2019.accdb")};
        QStringList files;
        for (int i = 0; i < 1000; ++i) {
            const QString name = small[i % small.size()];
            const QString folder = copies.filePath(QStringLiteral("d%1").arg(i / 50));
            QDir().mkpath(folder);
            const QString copy = QDir(folder).filePath(
                QStringLiteral("%1-%2.%3").arg(QFileInfo(name).baseName()).arg(i).arg(QFileInfo(name).suffix()));
            QFile::copy(fixtures.filePath(name), copy);
            files << quoted(copy);
        }
        runCommand(QStringLiteral("cat %1 >/dev/null").arg(files.join(QLatin1Char(' '))));
        const double schemaEach = seconds([&] {
            runCommand(
                QStringLiteral("for f in %1; do mdb-schema \"$f\" postgres; done").arg(files.join(QLatin1Char(' '))));
        });
        const double tree = seconds([&] { documentTree(copies.path(), {}); });
        results.push_back(
            {"a tree of 1,000 small databases (vs mdb-schema on each in turn)", tree, schemaEach, 0.5, "x"});
    }

    // The conversation of one whole export, the exporter's way (list, then report), in this
    // process: frames both ways and databases opened, plain and encrypted.
    struct Conversation
    {
        qint64 frames = 0;
        qint64 opens = 0;
        double seconds = 0;
    };
    const auto converse = [&](const QString &database, const QString &secret) {
        Ado::Connection::releaseKept();
        path = database;
        password = secret;
        Ado::WorkerTraffic::reset();
        QElapsedTimer timer;
        timer.start();
        PlainView plain;
        plain.tables = Access::NonSystemTables(dialogs, {database, password}).value_or(QStringList());
        StructureReport::generateStructure(dialogs, plain, {path, password},
                                           out.filePath(QStringLiteral("conversation_Structure.txt")),
                                           qint32(plain.tables.size()));
        Conversation result;
        result.seconds = double(timer.nsecsElapsed()) / 1e9;
        result.frames = Ado::WorkerTraffic::framesSent() + Ado::WorkerTraffic::framesReceived();
        result.opens = Ado::WorkerTraffic::databasesOpened();
        Ado::Connection::releaseKept();
        return result;
    };
    const Conversation plainExport = converse(file, QString());
    const Conversation encryptedExport = converse(encrypted, QString::fromLatin1(kDonorPassword));
    path = file;
    password.clear();
    std::printf("whole export in this process: %.3fs, %lld frames, %lld open(s); encrypted: %.3fs, %lld frames, "
                "%lld decryption(s)\n",
                plainExport.seconds, plainExport.frames, plainExport.opens, encryptedExport.seconds,
                encryptedExport.frames, encryptedExport.opens);

    // The desktop program as a user drives it: "Next >" with the path in the box, then "Start
    // Exporting" of every table into a folder, until "Done.". A zero timer runs whenever the program
    // lets its event loop run, and tells the longest time it did not; it also samples the memory of
    // the program and its worker.
    QTemporaryDir home;
    Settings::SetStoreFile(home.filePath(QStringLiteral("settings.ini")));
    Program::setEndAction([](int) {});
    double nextSeconds = 0;
    double startSeconds = 0;
    qint64 longestGapNs = 0;
    qint64 desktopPeakKb = 0;
    int doneBefore = 0;
    {
        Ado::Connection::releaseKept();
        Program program(dialogs);
        Form1 &selection = program.form1();
        child<QLineEdit>(selection, "Text1")->setText(file);
        child<QLineEdit>(selection, "Text2")->setText(QString());
        QElapsedTimer clock;
        qint64 last = 0;
        QTimer breath;
        breath.setInterval(0);
        QObject::connect(&breath, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longestGapNs = std::max(longestGapNs, now - last);
            last = now;
            static qint64 lastSample = 0;
            if (now - lastSample > 5000000) {
                lastSample = now;
                qint64 total = rssKb(QCoreApplication::applicationPid());
                for (qint64 worker : childrenOf(QCoreApplication::applicationPid()))
                    total += rssKb(worker);
                desktopPeakKb = std::max(desktopPeakKb, total);
            }
        });

        // Three times, from a cold start each time; the medians count, and the worst gap.
        std::vector<double> nextTimes;
        std::vector<double> startTimes;
        for (int round = 0; round < 3; ++round) {
            Ado::Connection::releaseKept();
            program.showSelectionWindow();
            clock.start();
            child<QAbstractButton>(selection, "PushButton3")->click();
            nextTimes.push_back(double(clock.nsecsElapsed()) / 1e9);
            if (!program.hasForm2() || program.form2().rowCount() != tables.size())
                std::fprintf(stderr, "the export window lists %d tables\n",
                             program.hasForm2() ? program.form2().rowCount() : -1);

            Form2 &list = program.form2();
            child<QLineEdit>(list, "Text1")->setText(out.path() + QLatin1Char('/'));
            doneBefore = dialogs.done;
            breath.start();
            clock.restart();
            last = 0;
            child<QAbstractButton>(list, "PushButton5")->click();
            startTimes.push_back(double(clock.nsecsElapsed()) / 1e9);
            breath.stop();
            longestGapNs = std::max(longestGapNs, clock.nsecsElapsed() - last);
            if (dialogs.done != doneBefore + 1)
                std::fprintf(stderr, "the desktop export did not end with \"Done.\"\n");
        }
        nextSeconds = median(nextTimes);
        startSeconds = median(startTimes);
    }
    Ado::Connection::releaseKept();
    Settings::SetStoreFile(QString());

    std::printf("\nload average (1 min) at the start %s, at the end %s, on %d processors\n", qPrintable(loadAtStart),
                qPrintable(loadAverage()), QThread::idealThreadCount());
    std::printf("\n%-62s %10s %10s %8s %8s\n", "measure", "strudex", "reference", "ratio", "target");
    bool met = true;
    for (const Result &r : results) {
        const double ratio = r.pairedRatio ? *r.pairedRatio : r.ours / r.theirs;
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
    std::printf("%-62s %9.1fMB %31s %s\n", "peak memory of strudex-export and its worker", double(peakKb) / 1024,
                "< 150 MB", memoryOk ? "ok" : "MISSED");
    const bool formatsMemoryOk = formatsPeakKb <= 80 * 1024;
    std::printf("%-62s %9.1fMB %31s %s\n", "peak memory, all formats", double(formatsPeakKb) / 1024, "<= 80 MB",
                formatsMemoryOk ? "ok" : "MISSED");
    const bool cpuOk = exportCpuSeconds <= exporting;
    std::printf("%-62s %9.3fs %9.3fs %7.2fx %7.2fx %s\n", "strudex-export CPU, program + worker (vs its wall time)",
                exportCpuSeconds, exporting, exportCpuSeconds / exporting, 1.0, cpuOk ? "ok" : "MISSED");
    const bool waitingOk = waitingProgramCpu <= 0.1 * waitingProgramWall;
    std::printf("%-62s %9.3fs %9.3fs %7.2fx %7.2fx %s\n", "program CPU while the worker counts Events (vs wall)",
                waitingProgramCpu, waitingProgramWall, waitingProgramCpu / waitingProgramWall, 0.1,
                waitingOk ? "ok" : "MISSED");
    const bool idleOk = idleWorkerCpu >= 0 && idleWorkerCpu <= 0.01;
    std::printf("%-62s %9.3fs %31s %s\n", "worker with nothing to do: CPU in 1 s", idleWorkerCpu, "<= 0.010 s",
                idleOk ? "ok" : "MISSED");
    const bool framesOk = plainExport.frames < 20;
    std::printf("%-62s %10lld %31s %s\n", "messages with the worker, one whole export", plainExport.frames, "< 20",
                framesOk ? "ok" : "MISSED");
    const bool decryptOk = encryptedExport.opens == 1 && plainExport.opens == 1;
    std::printf("%-62s %10lld %31s %s\n", "decryptions of the encrypted copy, one whole export", encryptedExport.opens,
                "1", decryptOk ? "ok" : "MISSED");
    const bool nextOk = nextSeconds < 0.1;
    std::printf("%-62s %9.1fms %31s %s\n", "desktop \"Next >\": list shown, worker start included", nextSeconds * 1000,
                "< 100 ms", nextOk ? "ok" : "MISSED");
    const bool startOk = startSeconds <= 2 * exporting;
    std::printf("%-62s %9.3fs %9.3fs %7.2fx %7.2fx %s\n",
                "desktop \"Start Exporting\" to \"Done.\" (vs strudex-export)", startSeconds, exporting,
                startSeconds / exporting, 2.0, startOk ? "ok" : "MISSED");
    const double longestMs = double(longestGapNs) / 1e6;
    const bool breathOk = longestMs < 100;
    std::printf("%-62s %9.1fms %31s %s\n", "desktop: longest time without the event loop", longestMs, "< 100 ms",
                breathOk ? "ok" : "MISSED");
    const bool desktopMemoryOk = desktopPeakKb < 150 * 1024;
    std::printf("%-62s %9.1fMB %31s %s\n", "desktop: peak memory of the program and its worker",
                double(desktopPeakKb) / 1024, "< 150 MB", desktopMemoryOk ? "ok" : "MISSED");
    met = met && memoryOk && formatsMemoryOk && cpuOk && waitingOk && idleOk && framesOk && decryptOk && nextOk &&
          startOk && breathOk && desktopMemoryOk;
    met = PageRender::report(page, tables.size()) && met;
    if (dialogs.failures)
        std::printf("%d failures were reported during the runs\n", dialogs.failures);
    return met && dialogs.failures == 0 ? 0 : 1;
}
