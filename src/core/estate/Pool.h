#pragma once

#include "core/estate/Documenting.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Documenting many databases side by side: a pool of worker processes, each documenting one file
// at a time, each file read by an engine process of its own. A worker that dies takes only its
// current file with it: that file gets an error and a new worker takes the next one.
namespace Estate {

// What the pool tells while it works; called on the thread that runs it.
class PoolProgress
{
public:
    virtual ~PoolProgress() = default;
    // How many files there are to document, before the first starts.
    virtual void found(qsizetype total) = 0;
    virtual void started(const Job &job) = 0;
    virtual void finished(const Job &job, const Outcome &outcome) = 0;
};

struct PoolSettings
{
    // The worker program and the arguments that make it serve jobs (serveJobs) on its standard
    // input and output.
    QString program;
    QStringList arguments;
    int jobs = 1;
};

// Documents every job, at most settings.jobs at a time, biggest files first so that the last to
// finish is a small one. The outcomes come in the jobs' order.
QList<Outcome> documentAll(const QList<Job> &jobs, const PoolSettings &settings, PoolProgress &progress);

} // namespace Estate
