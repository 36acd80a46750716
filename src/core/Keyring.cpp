#include "core/Keyring.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

// How one request to the keyring ended.
struct Answer
{
    bool inTime = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
};

class DesktopKeyring final : public Keyring
{
public:
    DesktopKeyring(QString service, int timeoutMs) : m_service(std::move(service)), m_timeoutMs(timeoutMs) {}

    std::optional<QString> read(const QString &key) override
    {
        if (m_unavailable)
            return std::nullopt;
        auto *job = new QKeychain::ReadPasswordJob(m_service);
        job->setKey(key);
        const Answer answer = run(job);
        if (answer.inTime && answer.error == QKeychain::NoError)
            return answer.text;
        // A keyring that answers "no such entry" is there all the same.
        if (!answer.inTime || answer.error != QKeychain::EntryNotFound)
            m_unavailable = true;
        return std::nullopt;
    }

    bool write(const QString &key, const QString &text) override
    {
        // The Secret Service keeps text as a C string of UTF-8: a NUL would cut it short, and what
        // UTF-8 cannot carry would come back changed. Such a text stays where it was kept before.
        if (m_unavailable || text.contains(QChar(0)) || QString::fromUtf8(text.toUtf8()) != text)
            return false;
        auto *job = new QKeychain::WritePasswordJob(m_service);
        job->setKey(key);
        job->setTextData(text);
        const Answer answer = run(job);
        if (answer.inTime && answer.error == QKeychain::NoError)
            return true;
        m_unavailable = true;
        return false;
    }

private:
    // Starts the job and waits for its end in a local event loop that leaves the user's input
    // queued, so that a keystroke cannot start another request while this one runs. A job that
    // outlives the wait is left to end and delete itself (its backend still refers to it); the
    // loop and the answer it would have filled in are gone by then, and so is the connection.
    Answer run(QKeychain::Job *job)
    {
        Answer answer;
        if (!QCoreApplication::instance()) {
            delete job;
            return answer;
        }
        job->setAutoDelete(true);
        QEventLoop loop;
        QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *finished) {
            answer.inTime = true;
            answer.error = finished->error();
            if (auto *reader = qobject_cast<QKeychain::ReadPasswordJob *>(finished))
                answer.text = reader->textData();
            loop.quit();
        });
        QTimer::singleShot(m_timeoutMs, &loop, &QEventLoop::quit);
        job->start();
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        return answer;
    }

    QString m_service;
    int m_timeoutMs;
    // Set once the keyring failed or kept silent: its requests run one after another, so a
    // request still pending would hold up every later one.
    bool m_unavailable = false;
};

} // namespace

std::unique_ptr<Keyring> Keyring::desktop(const QString &service, int timeoutMs)
{
    return std::make_unique<DesktopKeyring>(service, timeoutMs);
}
