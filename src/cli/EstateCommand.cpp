#include "cli/EstateCommand.h"

#include "cli/ConsoleExport.h"
#include "core/estate/Documenting.h"
#include "core/estate/Tree.h"
#include "core/structure/Printable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace EstateCommand {

namespace {

void say(const QString &text)
{
    std::fputs((ConsoleDialogs::forTerminal(text) + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// Files done of all, errors so far and the file at hand, on one line of the terminal that is
// redrawn; nothing when standard error is not a terminal.
class Progress : public Estate::PoolProgress
{
public:
    Progress() : m_terminal(isatty(fileno(stderr))) {}

    void found(qsizetype total) override { m_total = total; }

    void started(const Estate::Job &job) override
    {
        m_current = job.relative;
        draw();
    }

    void finished(const Estate::Job &job, const Estate::Outcome &outcome) override
    {
        ++m_done;
        if (outcome.error) {
            ++m_errors;
            clear();
            say(QStringLiteral("strudex-export: '%1': %2 (%3)")
                    .arg(job.relative, outcome.error->message, Estate::errorKindName(outcome.error->kind)));
        } else if (!outcome.unread.isEmpty()) {
            clear();
            for (const QString &line : outcome.unread)
                say(QStringLiteral("strudex-export: '%1': %2").arg(job.relative, line));
        }
        if (outcome.status == Estate::Outcome::Status::Unchanged)
            ++m_unchanged;
        draw();
    }

    void clear()
    {
        if (m_terminal && m_drawn) {
            std::fputs("\r\033[K", stderr);
            m_drawn = false;
        }
    }

    qsizetype errors() const { return m_errors; }
    qsizetype unchanged() const { return m_unchanged; }

private:
    void draw()
    {
        if (!m_terminal)
            return;
        QString line = QStringLiteral("%1/%2 done, %3 errors  %4")
                           .arg(m_done)
                           .arg(m_total)
                           .arg(m_errors)
                           .arg(Structure::printable(m_current));
        if (line.size() > 100)
            line = line.left(60) + QStringLiteral("...") + line.right(37);
        std::fputs(("\r\033[K" + line).toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        m_drawn = true;
    }

    qsizetype m_total = 0;
    qsizetype m_done = 0;
    qsizetype m_errors = 0;
    qsizetype m_unchanged = 0;
    QString m_current;
    bool m_terminal;
    bool m_drawn = false;
};

// What could not be done; the status the run ends with.
int finish(const Estate::TreeResult &result)
{
    for (const QString &problem : result.problems)
        say(QStringLiteral("strudex-export: ") + problem);
    return result.whole ? 0 : 1;
}

} // namespace

int run(Estate::TreeRequest request)
{
    request.pool.program = QCoreApplication::applicationFilePath();
    request.pool.arguments = {QStringLiteral("--estate-worker")};
    Progress progress;
    const Estate::TreeResult result = Estate::documentTree(request, progress);
    progress.clear();
    const int status = finish(result);
    say(QStringLiteral("%1 databases: %2 documented (%3 unchanged), %4 with errors; the index is '%5'.")
            .arg(result.jobs.size())
            .arg(result.jobs.size() - progress.errors())
            .arg(progress.unchanged())
            .arg(progress.errors())
            .arg(QDir::toNativeSeparators(QDir(request.output).filePath(QStringLiteral("index.html")))));
    return status;
}

int indexOnly(const QString &output)
{
    if (!QFileInfo(output).isDir()) {
        say(QStringLiteral("strudex-export: '%1' is not a folder.").arg(QDir::toNativeSeparators(output)));
        return 1;
    }
    return finish(Estate::indexDocuments(output));
}

int serve()
{
    return Estate::serveJobs(stdin, stdout);
}

} // namespace EstateCommand
