// Damages good databases in many ways and runs the command-line exporter on each damaged copy,
// every other one for all its documents (report, JSON, Markdown, HTML): every run must end, with
// the documents it asked for or a clear message, within the time allowed. Crashes, hangs and
// successes without their documents are kept as regression inputs.
//
//   mutate_databases --bin DIR --seeds DIR [--seeds DIR...] [--manifest FILE...] [--runs N]
//                    [--seconds S] [--jobs J] [--seed X] [--keep DIR] [--timeout-ms MS] [--slow-ms MS]
//   mutate_databases --bin DIR --replay DIR      (every kept input must now end cleanly)
//
// Seed folders are searched recursively for .mdb and .accdb files (and Access's add-ins and
// compiled files, .accda and .accde). Passwords come from the
// manifests (the fixtures' MANIFEST.md sections with "Database password: `...`", and table rows
// "| `path` | format | encryption | password | ..." as in the real files' README.md); a file
// without a known password is run without one. With --slow-ms, a run slower than that counts as a
// failure (scripts/fuzz asks for 5 seconds; sanitizer builds of the tests would not keep it).

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <QDirIterator>
#include <QRegularExpression>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

struct Seed
{
    QString name;
    QByteArray bytes;
    QString password;
};

enum class Outcome {
    Report,
    ClearError,
    WorkerCrashCaught,
    WorkerHangCaught,
    ExporterCrash,
    ExporterHang,
    Silent,
    TooSlow
};

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
    case Outcome::TooSlow:
        return "TOO SLOW";
    }
    return "?";
}

QByteArray mutate(const QByteArray &original, QRandomGenerator &random)
{
    QByteArray bytes = original;
    const int pageSize = bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;
    const int pages = std::max(1, int(bytes.size() / pageSize));
    auto anyPage = [&] { return pages > 1 ? 1 + int(random.bounded(pages - 1)) : 0; };
    auto pageFits = [&](int page) { return (page + 1) * qint64(pageSize) <= bytes.size(); };
    const int kind = int(random.bounded(12));
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
    case 6: { // a page of noise (in an encrypted file: a page that decrypts to noise)
        const int page = anyPage();
        if (pageFits(page))
            for (int i = page * pageSize; i < (page + 1) * pageSize; ++i)
                bytes[i] = char(random.bounded(256));
        break;
    }
    case 7: { // two pages swapped
        const int a = anyPage();
        const int b = anyPage();
        if (a != b && pageFits(std::max(a, b))) {
            const QByteArray first = bytes.mid(a * pageSize, pageSize);
            bytes.replace(a * pageSize, pageSize, bytes.mid(b * pageSize, pageSize));
            bytes.replace(b * pageSize, pageSize, first);
        }
        break;
    }
    case 8: { // 32-bit counts, lengths and page pointers pushed to their limits, within one page
        static const quint32 extremes[] = {0,          1,          0x7FFFFFFF, 0x80000000,
                                           0xFFFFFFFF, 0x00FFFFFF, 0x40000000, 0xFFFFFF00};
        const int page = anyPage();
        const int edits = 1 + int(random.bounded(8));
        for (int i = 0; i < edits && pageFits(page); ++i) {
            const int at = page * pageSize + int(random.bounded(pageSize - 3));
            const quint32 value = extremes[random.bounded(int(std::size(extremes)))];
            for (int b = 0; b < 4; ++b)
                bytes[at + b] = char(value >> (8 * b));
        }
        break;
    }
    case 9: { // a few bytes changed in a page after the header (in an encrypted file: a damaged
              // cipher block, so the whole page decrypts to noise or a block of it does)
        const int page = anyPage();
        const int edits = 1 + int(random.bounded(4));
        for (int i = 0; i < edits && pageFits(page); ++i)
            bytes[page * pageSize + int(random.bounded(pageSize))] ^= char(1 + random.bounded(255));
        break;
    }
    case 10: { // the counts of a table definition: columns, indexes, real indexes, rows
        const bool jet3 = pageSize == 2048;
        std::vector<int> definitions;
        for (int page = 1; pageFits(page); ++page)
            if (bytes[page * pageSize] == 0x02)
                definitions.push_back(page);
        if (definitions.empty())
            break;
        const int page = definitions[random.bounded(int(definitions.size()))];
        // Offsets of the column count, index count, real index count and row count (libmdb's).
        const std::array<int, 4> fields =
            jet3 ? std::array<int, 4>{25, 27, 31, 12} : std::array<int, 4>{45, 47, 51, 16};
        static const quint16 extremes[] = {0x0000, 0x0001, 0x00FF, 0x0100, 0x0101, 0x7FFF, 0xFFFF};
        const int edits = 1 + int(random.bounded(3));
        for (int i = 0; i < edits; ++i) {
            const int at = page * pageSize + fields[random.bounded(int(fields.size()))];
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
    QString seedName;
    bool everyFormat = false;
    QElapsedTimer clock;
};

// The documents that a run asked for and must find written when the exporter says it succeeded.
const QStringList kTextOnly{QStringLiteral("_Structure.txt")};
const QStringList kEveryFormat{QStringLiteral("_Structure.txt"), QStringLiteral("_Structure.json"),
                               QStringLiteral("_Structure.md"), QStringLiteral("_Structure.html"),
                               QStringLiteral("_Structure.sql")};

// Whether the folder holds a non-empty document of every kind asked for, and the JSON one parses:
// success without them is a failure reported as success.
bool documentsWritten(const QDir &folder, const QStringList &suffixes)
{
    for (const QString &suffix : suffixes) {
        const QFileInfoList found = folder.entryInfoList({QLatin1Char('*') + suffix}, QDir::Files);
        if (found.size() != 1 || found.first().size() == 0)
            return false;
        if (suffix.endsWith(QLatin1String(".json"))) {
            QFile file(found.first().filePath());
            if (!file.open(QIODevice::ReadOnly) || QJsonDocument::fromJson(file.readAll()).isNull())
                return false;
        }
    }
    return true;
}

Outcome classify(QProcess &process, bool timedOut, const Job &job)
{
    if (timedOut)
        return Outcome::ExporterHang;
    if (process.exitStatus() != QProcess::NormalExit)
        return Outcome::ExporterCrash;
    const QByteArray err = process.readAllStandardError();
    switch (process.exitCode()) {
    case 0:
        return documentsWritten(QDir(job.folder->path()), job.everyFormat ? kEveryFormat : kTextOnly) ? Outcome::Report
                                                                                                      : Outcome::Silent;
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
    return outcome == Outcome::ExporterCrash || outcome == Outcome::ExporterHang || outcome == Outcome::Silent ||
           outcome == Outcome::TooSlow;
}

// Passwords by file name (and by path, for the table rows), from the fixtures' manifests.
void readManifest(const QString &path, std::map<QString, QString> &passwords)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read the manifest %s\n", qPrintable(path));
        return;
    }
    static const QRegularExpression section(QStringLiteral("^## (\\S+\\.(?:mdb|accdb))\\s*$"));
    static const QRegularExpression sectionPassword(QStringLiteral("^Database password: `([^`]*)`"));
    static const QRegularExpression row(QStringLiteral("^\\| `([^`]+\\.(?:mdb|accdb))` \\|"));
    QString current;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (const auto match = section.match(line); match.hasMatch()) {
            current = match.captured(1);
        } else if (const auto match = sectionPassword.match(line); match.hasMatch() && !current.isEmpty()) {
            passwords[current] = match.captured(1);
        } else if (const auto match = row.match(line); match.hasMatch()) {
            const QStringList cells = line.split(QLatin1Char('|'));
            // "", file, format, encryption, password, ...
            if (cells.size() > 4 && !cells[4].trimmed().isEmpty())
                passwords[match.captured(1)] = cells[4].trimmed();
        }
    }
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
    const QCommandLineOption manifestOption(
        QStringLiteral("manifest"), QStringLiteral("A fixtures manifest with passwords."), QStringLiteral("FILE"));
    const QCommandLineOption slowOption(QStringLiteral("slow-ms"),
                                        QStringLiteral("Slowest acceptable run (0: any that ends in time)."),
                                        QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOptions({binOption, seedsOption, runsOption, secondsOption, jobsOption, seedOption, keepOption,
                       timeoutOption, replayOption, manifestOption, slowOption});
    parser.process(app);

    const QString exporter = QDir(parser.value(binOption)).filePath(QStringLiteral("strudex-export"));
    const int timeoutMs = parser.value(timeoutOption).toInt();
    const int slowMs = parser.value(slowOption).toInt();
    const int jobs = std::max(1, parser.value(jobsOption).toInt());
    QRandomGenerator random(parser.value(seedOption).toUInt());

    // Inputs: damaged copies of the seeds, or the kept inputs to replay.
    std::vector<Seed> seeds;
    QStringList replay;
    // The project's own test databases, and the manifests' files.
    std::map<QString, QString> passwords = {{QStringLiteral("password.mdb"), QStringLiteral("Pa;ss=w0rd")},
                                            {QStringLiteral("password-plain.mdb"), QStringLiteral("secret")}};
    for (const QString &manifest : parser.values(manifestOption))
        readManifest(manifest, passwords);
    if (parser.isSet(replayOption)) {
        const QDir kept(parser.value(replayOption));
        for (const QString &name : kept.entryList(QDir::Files))
            replay << kept.filePath(name);
    } else {
        for (const QString &folderPath : parser.values(seedsOption)) {
            const QDir folder(folderPath);
            QDirIterator files(folderPath,
                               {QStringLiteral("*.mdb"), QStringLiteral("*.accdb"), QStringLiteral("*.accda"),
                                QStringLiteral("*.accde")},
                               QDir::Files, QDirIterator::Subdirectories);
            while (files.hasNext()) {
                const QString path = files.next();
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly) || file.size() > (8 << 20))
                    continue;
                const QString relative = folder.relativeFilePath(path);
                const QString name = QFileInfo(path).fileName();
                // A manifest names a file by its path below the manifest's folder, or by its name.
                QString password;
                for (const auto &[key, value] : passwords)
                    if (relative == key || relative.endsWith(QLatin1Char('/') + key))
                        password = value;
                seeds.push_back({name, file.readAll(), password});
            }
        }
        if (seeds.empty()) {
            std::fprintf(stderr, "no seed databases in %s\n", qPrintable(parser.values(seedsOption).join(", ")));
            return 2;
        }
        int withPassword = 0;
        for (const Seed &seed : seeds)
            withPassword += seed.password.isEmpty() ? 0 : 1;
        std::printf("%zu seed databases, %d of them with a password\n", seeds.size(), withPassword);
    }
    const int runs = parser.isSet(replayOption) ? int(replay.size()) : parser.value(runsOption).toInt();
    const qint64 budgetMs = qint64(parser.value(secondsOption).toDouble() * 1000);

    QTemporaryDir work;
    std::map<Outcome, int> counts;
    std::vector<Job> running;
    int started = 0;
    int finished = 0;
    int everyFormatRuns = 0;
    qint64 slowestMs = 0;
    QString slowest;
    QElapsedTimer clock;
    clock.start();

    auto launch = [&] {
        Job job;
        job.folder = std::make_unique<QTemporaryDir>(work.filePath(QStringLiteral("run-XXXXXX")));
        QStringList arguments{QStringLiteral("--output"), job.folder->path()};
        // Every other run writes the whole structure too (properties, indexes, relationships, queries,
        // links), which reads much more of the file than the report; a replay writes everything.
        job.everyFormat = parser.isSet(replayOption) || random.bounded(2) == 1;
        if (job.everyFormat) {
            arguments << QStringLiteral("--format") << QStringLiteral("text,json,markdown,html,sql");
            ++everyFormatRuns;
        }
        if (parser.isSet(replayOption)) {
            job.input = replay.at(started);
            job.seedName = QFileInfo(job.input).fileName();
            // Kept as "<hash>-<seed name>": the seed's password opens it.
            const QString seedName = job.seedName.section(QLatin1Char('-'), 1);
            if (const auto found = passwords.find(seedName); found != passwords.end())
                arguments << QStringLiteral("--password") << found->second;
        } else {
            const Seed &seed = seeds[random.bounded(int(seeds.size()))];
            job.input = job.folder->filePath(seed.name);
            job.seedName = seed.name;
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
            const qint64 tookMs = it->clock.elapsed();
            if (tookMs > slowestMs) {
                slowestMs = tookMs;
                slowest = it->seedName;
            }
            Outcome outcome = classify(*it->process, timedOut, *it);
            if (!bad(outcome) && slowMs > 0 && tookMs > slowMs)
                outcome = Outcome::TooSlow;
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
    std::printf("%d damaged databases in %.1f s (%.1f a second); slowest run %.2f s (%s)\n", finished, seconds,
                finished / std::max(seconds, 0.001), double(slowestMs) / 1000.0, qPrintable(slowest));
    std::printf("%d of them also wrote the JSON, Markdown, HTML and SQL documents\n", everyFormatRuns);
    int badRuns = 0;
    for (const auto &[outcome, count] : counts) {
        std::printf("  %-28s %d\n", nameOf(outcome), count);
        if (bad(outcome))
            badRuns += count;
    }
    return badRuns == 0 ? 0 : 1;
}
