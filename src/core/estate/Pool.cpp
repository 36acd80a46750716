#include "core/estate/Pool.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>

#include <algorithm>
#include <memory>
#include <numeric>

namespace Estate {

namespace {

class Run
{
public:
    Run(const QList<Job> &jobs, const PoolSettings &settings, PoolProgress &progress)
        : m_jobs(jobs), m_settings(settings), m_progress(progress), m_outcomes(jobs.size())
    {
        m_order.resize(std::size_t(jobs.size()));
        std::iota(m_order.begin(), m_order.end(), qsizetype(0));
        std::vector<qint64> sizes;
        for (const Job &job : jobs)
            sizes.push_back(QFileInfo(job.path).size());
        std::stable_sort(m_order.begin(), m_order.end(),
                         [&](qsizetype a, qsizetype b) { return sizes[std::size_t(a)] > sizes[std::size_t(b)]; });
    }

    QList<Outcome> run()
    {
        const int workers = std::clamp(m_settings.jobs, 1, int(std::max<qsizetype>(1, m_jobs.size())));
        for (int i = 0; i < workers; ++i)
            m_workers.push_back(std::make_unique<Worker>());
        for (auto &worker : m_workers)
            next(*worker);
        if (m_done < m_jobs.size())
            m_loop.exec();
        // Told all at once, the workers end side by side.
        for (auto &worker : m_workers) {
            if (worker->process) {
                worker->process->disconnect();
                worker->process->closeWriteChannel();
            }
        }
        for (auto &worker : m_workers)
            stop(*worker);
        return m_outcomes;
    }

private:
    struct Worker
    {
        std::unique_ptr<QProcess> process;
        QByteArray pending;
        qsizetype job = -1;
    };

    void start(Worker &worker)
    {
        worker.process = std::make_unique<QProcess>();
        worker.pending.clear();
        QProcess *process = worker.process.get();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this, &worker] { read(worker); });
        QObject::connect(process, &QProcess::finished, process, [this, &worker, process] {
            if (worker.process.get() == process)
                ended(worker);
        });
        // A program that cannot be started never finishes: it ends here, once start() has returned.
        QObject::connect(
            process, &QProcess::errorOccurred, process,
            [this, &worker, process](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart && worker.process.get() == process)
                    ended(worker);
            },
            Qt::QueuedConnection);
        process->start(m_settings.program, m_settings.arguments);
    }

    void stop(Worker &worker)
    {
        if (!worker.process)
            return;
        if (!worker.process->waitForFinished(5000))
            worker.process->kill();
        worker.process->waitForFinished(1000);
        worker.process.reset();
    }

    // Gives the worker the next job, or lets it go when there is none.
    void next(Worker &worker)
    {
        if (m_next >= qsizetype(m_order.size())) {
            worker.job = -1;
            return;
        }
        worker.job = m_order[std::size_t(m_next++)];
        if (!worker.process || worker.process->state() == QProcess::NotRunning)
            start(worker);
        const Job &job = m_jobs[worker.job];
        m_progress.started(job);
        worker.process->write(QJsonDocument(job.toJson()).toJson(QJsonDocument::Compact) + '\n');
    }

    void finish(Worker &worker, const Outcome &outcome)
    {
        const qsizetype index = worker.job;
        m_outcomes[index] = outcome;
        ++m_done;
        m_progress.finished(m_jobs[index], outcome);
        next(worker);
        if (m_done == m_jobs.size())
            m_loop.quit();
    }

    void read(Worker &worker)
    {
        worker.pending += worker.process->readAllStandardOutput();
        for (qsizetype end = worker.pending.indexOf('\n'); end >= 0; end = worker.pending.indexOf('\n')) {
            const QByteArray line = worker.pending.left(end);
            worker.pending.remove(0, end + 1);
            if (worker.job < 0)
                continue;
            const auto outcome = Outcome::fromJson(QJsonDocument::fromJson(line).object());
            if (!outcome) {
                // A worker that talks nonsense cannot be trusted with the next file either.
                QProcess *process = worker.process.release();
                process->disconnect();
                process->kill();
                process->waitForFinished(1000);
                delete process;
                fail(worker, QStringLiteral("The documenting process gave an answer that cannot be understood."));
                return;
            }
            finish(worker, *outcome);
        }
    }

    // The worker ended: its current file, if any, is what it died on.
    void ended(Worker &worker)
    {
        const QString how = worker.process->exitStatus() == QProcess::CrashExit
                                ? QStringLiteral("it crashed")
                                : QStringLiteral("it ended with code %1").arg(worker.process->exitCode());
        const QString error =
            worker.process->error() == QProcess::FailedToStart
                ? QStringLiteral("The documenting process could not be started: %1.").arg(worker.process->errorString())
                : QStringLiteral("The documenting process stopped unexpectedly (%1).").arg(how);
        worker.process.release()->deleteLater();
        if (worker.job >= 0)
            fail(worker, error);
    }

    void fail(Worker &worker, const QString &message)
    {
        const Job &job = m_jobs[worker.job];
        Outcome outcome;
        outcome.error = DatabaseError{ErrorKind::Damaged, message};
        if (const auto problem =
                writeErrorDocument(StructureOutput::fileName(StructureOutput::Format::Json, job.folder, job.namedAs),
                                   job.path, *outcome.error))
            outcome.unread << *problem;
        finish(worker, outcome);
    }

    const QList<Job> &m_jobs;
    const PoolSettings &m_settings;
    PoolProgress &m_progress;
    QList<Outcome> m_outcomes;
    std::vector<qsizetype> m_order;
    qsizetype m_next = 0;
    qsizetype m_done = 0;
    std::vector<std::unique_ptr<Worker>> m_workers;
    QEventLoop m_loop;
};

} // namespace

QList<Outcome> documentAll(const QList<Job> &jobs, const PoolSettings &settings, PoolProgress &progress)
{
    progress.found(jobs.size());
    if (jobs.isEmpty())
        return {};
    return Run(jobs, settings, progress).run();
}

} // namespace Estate
