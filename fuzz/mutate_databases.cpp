// Damages good databases in many ways and runs the command-line exporter on each damaged copy:
// every run must end, with a report or a clear message, within the time allowed. Crashes and
// hangs of the exporter are kept as regression inputs.
//
//   mutate_databases --bin DIR --seeds DIR [--runs N] [--seconds S] [--jobs J] [--seed X]
//                    [--keep DIR] [--timeout-ms MS]
//   mutate_databases --bin DIR --replay DIR      (every kept input must now end cleanly)

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Seed
{
    QString name;
    QByteArray bytes;
    QString password;
};

enum class Outcome { Report, ClearError, WorkerCrashCaught, WorkerHangCaught, ExporterCrash, ExporterHang, Silent };

const char *nameOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Report:
        return "report written";
    case Outcome::ClearError:
        return "clear error";
    case Outcome::WorkerCrashCaught:
        return "worker crash, reported";
    case Outcome::WorkerHangCaught:
        return "worker stall, reported";
    case Outcome::ExporterCrash:
        return "EXPORTER CRASH";
    case Outcome::ExporterHang:
        return "EXPORTER HANG";
    case Outcome::Silent:
        return "FAILED WITHOUT A MESSAGE";
    }
    return "?";
}

QByteArray mutate(const QByteArray &original, QRandomGenerator &random)
{
    QByteArray bytes = original;
    const int pageSize = bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;
    const int pages = std::max(1, int(bytes.size() / pageSize));
    auto anyPage = [&] { return pages > 1 ? 1 + int(random.bounded(pages - 1)) : 0; };
    const int kind = int(random.bounded(7));
    switch (kind) {
    case 0: { // scattered bit flips
        const int flips = 1 + int(random.bounded(64));
        for (int i = 0; i < flips && !bytes.isEmpty(); ++i)
            bytes[int(random.bounded(bytes.size()))] ^= char(1 << random.bounded(8));
        break;
    }
    case 1: { // random bytes over part of the catalogue and the first table definitions
        const int page = 1 + int(random.bounded(std::min(pages, 24)));
        const int from = std::min(int(bytes.size()), page * pageSize + int(random.bounded(pageSize)));
        const int count = std::min(int(bytes.size()) - from, 1 + int(random.bounded(256)));
        for (int i = 0; i < count; ++i)
            bytes[from + i] = char(random.bounded(256));
        break;
    }
    case 2: // cut short anywhere
        bytes.truncate(int(random.bounded(bytes.size() + 1)));
        break;
    case 3: { // a page of zeros
        const int page = anyPage();
        for (int i = page * pageSize; i < std::min(int(bytes.size()), (page + 1) * pageSize); ++i)
            bytes[i] = 0;
        break;
    }
    case 4: { // one page copied over another
        const int from = anyPage();
        const int to = anyPage();
        if ((std::max(from, to) + 1) * pageSize <= bytes.size())
            bytes.replace(to * pageSize, pageSize, bytes.mid(from * pageSize, pageSize));
        break;
    }
    case 5: { // lengths and counts pushed to their limits
        static const quint16 extremes[] = {0x0000, 0x0001, 0x7FFF, 0x8000, 0xFFFF, 0x0FFF};
        const int edits = 1 + int(random.bounded(16));
        for (int i = 0; i < edits && bytes.size() > 2; ++i) {
            const int at = int(random.bounded(bytes.size() - 1));
            const quint16 value = extremes[random.bounded(int(std::size(extremes)))];
            bytes[at] = char(value & 0xFF);
            bytes[at + 1] = char(value >> 8);
        }
        break;
    }
    default: { // the header itself
        const int edits = 1 + int(random.bounded(8));
        for (int i = 0; i < edits && bytes.size() > 0x100; ++i)
            bytes[int(random.bounded(0x100))] = char(random.bounded(256));
        break;
    }
    }
    return bytes;
}

struct Job
{
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QTemporaryDir> folder;
    QString input;
    QElapsedTimer clock;
};

Outcome classify(QProcess &process, bool timedOut)
{
    if (timedOut)
        return Outcome::ExporterHang;
    if (process.exitStatus() != QProcess::NormalExit)
        return Outcome::ExporterCrash;
    const QByteArray err = process.readAllStandardError();
    switch (process.exitCode()) {
    case 0:
        return Outcome::Report;
    case 1:
        if (err.trimmed().isEmpty())
            return Outcome::Silent;
        if (err.contains("stopped unexpectedly"))
            return Outcome::WorkerCrashCaught;
        if (err.contains("made no progress"))
            return Outcome::WorkerHangCaught;
        return Outcome::ClearError;
    default:
        return Outcome::ExporterCrash;
    }
}

bool bad(Outcome outcome)
{
    return outcome == Outcome::ExporterCrash || outcome == Outcome::ExporterHang || outcome == Outcome::Silent;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption binOption(QStringLiteral("bin"), QStringLiteral("Folder of strudex-export."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption seedsOption(QStringLiteral("seeds"), QStringLiteral("Folder of good databases."),
                                         QStringLiteral("DIR"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Damaged copies to try."),
                                        QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Time budget."),
                                           QStringLiteral("S"), QStringLiteral("0"));
    const QCommandLineOption jobsOption(QStringLiteral("jobs"), QStringLiteral("Runs at once."), QStringLiteral("J"),
                                        QString::number(std::max(1, QThread::idealThreadCount())));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Random seed."), QStringLiteral("X"),
                                        QStringLiteral("1"));
    const QCommandLineOption keepOption(QStringLiteral("keep"), QStringLiteral("Where bad inputs are kept."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout-ms"), QStringLiteral("Longest run."),
                                           QStringLiteral("MS"), QStringLiteral("90000"));
    const QCommandLineOption replayOption(QStringLiteral("replay"), QStringLiteral("Run the kept inputs."),
                                          QStringLiteral("DIR"));
    parser.addOptions({binOption, seedsOption, runsOption, secondsOption, jobsOption, seedOption, keepOption,
                       timeoutOption, replayOption});
    parser.process(app);

    const QString exporter = QDir(parser.value(binOption)).filePath(QStringLiteral("strudex-export"));
    const int timeoutMs = parser.value(timeoutOption).toInt();
    const int jobs = std::max(1, parser.value(jobsOption).toInt());
    QRandomGenerator random(parser.value(seedOption).toUInt());

    // Inputs: damaged copies of the seeds, or the kept inputs to replay.
    std::vector<Seed> seeds;
    QStringList replay;
    if (parser.isSet(replayOption)) {
        const QDir kept(parser.value(replayOption));
        for (const QString &name : kept.entryList(QDir::Files))
            replay << kept.filePath(name);
    } else {
        const QDir folder(parser.value(seedsOption));
        for (const QString &name :
             folder.entryList({QStringLiteral("*.mdb"), QStringLiteral("*.accdb")}, QDir::Files)) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::ReadOnly) || file.size() > (8 << 20))
                continue;
            const QString password = name == QStringLiteral("password.mdb")         ? QStringLiteral("Pa;ss=w0rd")
                                     : name == QStringLiteral("password-plain.mdb") ? QStringLiteral("secret")
                                                                                    : QString();
            seeds.push_back({name, file.readAll(), password});
        }
        if (seeds.empty()) {
            std::fprintf(stderr, "no seed databases in %s\n", qPrintable(parser.value(seedsOption)));
            return 2;
        }
    }
    const int runs = parser.isSet(replayOption) ? int(replay.size()) : parser.value(runsOption).toInt();
    const qint64 budgetMs = qint64(parser.value(secondsOption).toDouble() * 1000);

    QTemporaryDir work;
    std::map<Outcome, int> counts;
    std::vector<Job> running;
    int started = 0;
    int finished = 0;
    QElapsedTimer clock;
    clock.start();

    auto launch = [&] {
        Job job;
        job.folder = std::make_unique<QTemporaryDir>(work.filePath(QStringLiteral("run-XXXXXX")));
        QStringList arguments{QStringLiteral("--output"), job.folder->path()};
        if (parser.isSet(replayOption)) {
            job.input = replay.at(started);
        } else {
            const Seed &seed = seeds[random.bounded(int(seeds.size()))];
            job.input = job.folder->filePath(seed.name);
            QFile out(job.input);
            out.open(QIODevice::WriteOnly);
            out.write(mutate(seed.bytes, random));
            out.close();
            if (!seed.password.isEmpty())
                arguments << QStringLiteral("--password") << seed.password;
        }
        arguments << job.input;
        job.process = std::make_unique<QProcess>();
        job.process->setStandardOutputFile(QProcess::nullDevice());
        job.process->start(exporter, arguments);
        job.clock.start();
        running.push_back(std::move(job));
        ++started;
    };

    while (finished < started || (started < runs && (budgetMs == 0 || clock.elapsed() < budgetMs))) {
        while (int(running.size()) < jobs && started < runs && (budgetMs == 0 || clock.elapsed() < budgetMs))
            launch();
        for (auto it = running.begin(); it != running.end();) {
            const bool done = it->process->waitForFinished(1);
            const bool timedOut = !done && it->clock.elapsed() > timeoutMs;
            if (!done && !timedOut) {
                ++it;
                continue;
            }
            if (timedOut) {
                it->process->kill();
                it->process->waitForFinished();
            }
            const Outcome outcome = classify(*it->process, timedOut);
            ++counts[outcome];
            ++finished;
            if (bad(outcome)) {
                std::printf("%s: %s\n", nameOf(outcome), qPrintable(it->input));
                if (parser.isSet(keepOption) && !parser.isSet(replayOption)) {
                    QFile input(it->input);
                    input.open(QIODevice::ReadOnly);
                    const QByteArray bytes = input.readAll();
                    QDir().mkpath(parser.value(keepOption));
                    const QString kept =
                        QDir(parser.value(keepOption))
                            .filePath(QString::fromLatin1(
                                          QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(16)) +
                                      QLatin1Char('-') + QFileInfo(it->input).fileName());
                    QFile::copy(it->input, kept);
                    std::printf("  kept as %s\n", qPrintable(kept));
                }
            }
            it = running.erase(it);
        }
    }

    const double seconds = double(clock.elapsed()) / 1000.0;
    std::printf("%d damaged databases in %.1f s (%.1f a second)\n", finished, seconds,
                finished / std::max(seconds, 0.001));
    int badRuns = 0;
    for (const auto &[outcome, count] : counts) {
        std::printf("  %-28s %d\n", nameOf(outcome), count);
        if (bad(outcome))
            badRuns += count;
    }
    return badRuns == 0 ? 0 : 1;
}
