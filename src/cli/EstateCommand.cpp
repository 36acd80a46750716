#include "cli/EstateCommand.h"

#include "cli/ConsoleExport.h"
#include "core/db/WorkerProcess.h"
#include "core/estate/Documenting.h"
#include "core/estate/IndexBuilder.h"
#include "core/estate/Pool.h"
#include "core/estate/Scan.h"
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
    explicit Progress(qsizetype total) : m_total(total), m_terminal(isatty(fileno(stderr))) {}

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
            ++m_incomplete;
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
    qsizetype incomplete() const { return m_incomplete; }
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

    qsizetype m_total;
    qsizetype m_done = 0;
    qsizetype m_errors = 0;
    qsizetype m_incomplete = 0;
    qsizetype m_unchanged = 0;
    QString m_current;
    bool m_terminal;
    bool m_drawn = false;
};

// The documents' names: after the database, or after its whole file name where another database
// of the same folder has the same name but for the extension (a.mdb beside a.accdb).
QList<Estate::Job> jobsFor(const Request &request, const QList<Estate::FoundFile> &found)
{
    QHash<QString, int> stems;
    const auto stemKey = [](const QString &relative) {
        return QFileInfo(relative).path().toCaseFolded() + QLatin1Char('/') +
               QFileInfo(relative).completeBaseName().toCaseFolded();
    };
    for (const Estate::FoundFile &file : found)
        ++stems[stemKey(file.relative)];
    QList<Estate::Job> jobs;
    for (const Estate::FoundFile &file : found) {
        Estate::Job job;
        job.path = file.path;
        job.relative = file.relative;
        const QString folder = QFileInfo(file.relative).path();
        job.folder = folder == QStringLiteral(".") ? request.output : QDir(request.output).filePath(folder);
        job.namedAs = stems.value(stemKey(file.relative)) > 1 ? file.path + QStringLiteral(".db") : file.path;
        job.formats = request.formats;
        job.dialect = request.dialect;
        job.force = request.force;
        job.password = request.passwords.value(
            file.relative, request.passwords.value(QDir::cleanPath(QFileInfo(file.path).absoluteFilePath()),
                                                   request.passwords.value(QString())));
        jobs.append(job);
    }
    return jobs;
}

int writeTheIndex(const Estate::Index &index, const QString &output)
{
    const QStringList problems = Estate::writeIndex(index, output);
    for (const QString &problem : problems)
        say(QStringLiteral("strudex-export: ") + problem);
    bool whole = problems.isEmpty();
    for (const Estate::DatabaseEntry &entry : index.databases)
        whole = whole && !entry.error && entry.unread.isEmpty();
    return whole ? 0 : 1;
}

} // namespace

std::optional<QHash<QString, QString>> readPasswords(const QString &path, QString &problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("the password file '%1' cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QHash<QString, QString> passwords;
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype tab = line.indexOf('\t');
        if (tab < 0 && lines.size() == 1) {
            passwords.insert(QString(), QString::fromLocal8Bit(line));
        } else if (tab > 0) {
            QString where = QDir::cleanPath(QString::fromLocal8Bit(line.left(tab)));
            if (QDir::isAbsolutePath(where))
                where = QDir::cleanPath(QFileInfo(where).absoluteFilePath());
            passwords.insert(where, QString::fromLocal8Bit(line.mid(tab + 1)));
        } else if (!line.isEmpty()) {
            problem = QStringLiteral("the password file '%1' has a line that is not \"path<TAB>password\"").arg(path);
            return std::nullopt;
        }
    }
    return passwords;
}

int run(const Request &request)
{
    QStringList problems;
    const QList<Estate::FoundFile> found = Estate::findDatabases(request.root, problems);
    for (const QString &problem : problems)
        say(QStringLiteral("strudex-export: ") + problem);
    if (!QDir().mkpath(request.output)) {
        say(QStringLiteral("strudex-export: the folder '%1' could not be made.")
                .arg(QDir::toNativeSeparators(request.output)));
        return 1;
    }
    const QList<Estate::Job> jobs = jobsFor(request, found);
    Progress progress(jobs.size());
    Estate::PoolSettings settings;
    settings.program = QCoreApplication::applicationFilePath();
    settings.arguments = {QStringLiteral("--estate-worker")};
    settings.jobs = request.jobs;
    Estate::documentAll(jobs, settings, progress);
    progress.clear();
    QList<Estate::DocumentFile> documents;
    for (const Estate::Job &job : jobs)
        documents.append(
            {StructureOutput::fileName(StructureOutput::Format::Json, job.folder, job.namedAs), job.relative});
    const Estate::Index index = Estate::buildIndex(documents, request.output, request.root);
    const int status = writeTheIndex(index, request.output);
    say(QStringLiteral("%1 databases: %2 documented (%3 unchanged), %4 with errors; index in '%5'.")
            .arg(jobs.size())
            .arg(jobs.size() - progress.errors())
            .arg(progress.unchanged())
            .arg(progress.errors())
            .arg(QDir::toNativeSeparators(QDir(request.output).filePath(QStringLiteral("index.html")))));
    return problems.isEmpty() ? status : 1;
}

int indexOnly(const QString &output)
{
    if (!QFileInfo(output).isDir()) {
        say(QStringLiteral("strudex-export: '%1' is not a folder.").arg(QDir::toNativeSeparators(output)));
        return 1;
    }
    const Estate::Index index = Estate::buildIndex(Estate::findDocuments(output), output, QString());
    return writeTheIndex(index, output);
}

int serve()
{
    // Every file is read by an engine process of its own, forked from one that is kept: starting
    // the engine afresh for each of a thousand small files would take longer than reading them.
    Ado::WorkerSettings::setForkPerDatabase(true);
    return Estate::serveJobs(stdin, stdout);
}

} // namespace EstateCommand
