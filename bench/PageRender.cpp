#include "PageRender.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace PageRender {

namespace {

// The page may take this long beyond what the browser takes for a tiny page.
constexpr double TargetSeconds = 3.0;

QString browser()
{
    for (const char *name : {"chromium", "chromium-browser"}) {
        const QString found = QStandardPaths::findExecutable(QLatin1String(name));
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

// One run: the browser loads the page, lays it out and paints it into a screenshot. Negative
// when the browser failed.
double renderSeconds(const QString &program, const QString &page, const QString &screenshot)
{
    QFile::remove(screenshot);
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, {QStringLiteral("--headless"), QStringLiteral("--disable-gpu"),
                            QStringLiteral("--no-sandbox"), QStringLiteral("--screenshot=") + screenshot,
                            QStringLiteral("--window-size=1280,900"), QUrl::fromLocalFile(page).toString()});
    const bool finished = process.waitForFinished(120000);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!finished) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitCode() == 0 && QFileInfo(screenshot).size() > 0 ? seconds : -1;
}

double medianOfThree(const QString &program, const QString &page, const QString &screenshot)
{
    std::vector<double> times;
    for (int run = 0; run < 3; ++run) {
        const double seconds = renderSeconds(program, page, screenshot);
        if (seconds < 0)
            return -1;
        times.push_back(seconds);
    }
    std::sort(times.begin(), times.end());
    return times[1];
}

} // namespace

Timing measure(const QString &exporter, const QString &database, const QString &folder)
{
    Timing timing;
    const QString program = browser();
    if (program.isEmpty()) {
        timing.problem = QStringLiteral("chromium is missing (the Debian package chromium): page not measured");
        return timing;
    }
    QProcess exporting;
    exporting.setStandardOutputFile(QProcess::nullDevice());
    exporting.start(exporter,
                    {QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--output"), folder, database});
    exporting.waitForFinished(-1);
    const QString page =
        QDir(folder).filePath(QFileInfo(database).completeBaseName() + QStringLiteral("_Structure.html"));
    if (exporting.exitCode() != 0 || !QFileInfo(page).isFile()) {
        timing.problem = QStringLiteral("strudex-export --format html failed: ") +
                         QString::fromLocal8Bit(exporting.readAllStandardError().left(300));
        return timing;
    }
    const QString tiny = QDir(folder).filePath(QStringLiteral("tiny.html"));
    QFile file(tiny);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("<!DOCTYPE html>\n<title>Tiny</title>\n<p>A tiny page.</p>\n") < 0) {
        timing.problem = QStringLiteral("cannot write ") + tiny;
        return timing;
    }
    file.close();
    const QString screenshot = QDir(folder).filePath(QStringLiteral("page.png"));
    renderSeconds(program, tiny, screenshot); // the browser's files into the cache
    timing.reference = medianOfThree(program, tiny, screenshot);
    timing.page = medianOfThree(program, page, screenshot);
    if (timing.reference < 0 || timing.page < 0)
        timing.problem = QStringLiteral("chromium failed to render the page to a screenshot");
    return timing;
}

bool report(const Timing &timing, qsizetype tables)
{
    const QString what = QStringLiteral("HTML page of %1 tables rendered in Chromium")
                             .arg(QLocale(QLocale::English).toString(qint64(tables)));
    if (!timing.problem.isEmpty()) {
        std::printf("%-62s skipped: %s\n", qPrintable(what), qPrintable(timing.problem));
        return true;
    }
    const double extra = timing.page - timing.reference;
    const bool ok = extra <= TargetSeconds;
    std::printf("%-62s %9.3fs %9.3fs %+7.3fs %+7.2fs %s\n", qPrintable(what), timing.page, timing.reference, extra,
                TargetSeconds, ok ? "ok" : "MISSED");
    return ok;
}

} // namespace PageRender
