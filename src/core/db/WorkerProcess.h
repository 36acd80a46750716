#pragma once

#include "core/Failure.h"
#include "protocol/EngineProtocol.h"

#include <QProcess>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Ado {

// Where the database worker program is and how long it may work without a sign of life.
struct WorkerSettings
{
    // The worker program; by default strudex-engine beside the running program.
    static QString program();
    static void setProgram(const QString &path);
    // Time the worker may stay silent during one request before it counts as hung.
    static int noProgressTimeoutMs();
    static void setNoProgressTimeoutMs(int ms);
    // Address-space limit handed to the worker.
    static int memoryLimitMb();
    static void setMemoryLimitMb(int mb);
    // Whether one engine process serves database after database, forking a child for each (off by
    // default). Starting the engine costs more than reading a small database; a file that crashes
    // or corrupts its child still harms no other. Ignored on Windows.
    static bool forkPerDatabase();
    static void setForkPerDatabase(bool on);
    // Called over and over while the program waits for the worker (the desktop program repaints
    // its windows here); nothing by default.
    static void setWaitHook(std::function<void()> hook);
    static const std::function<void()> &waitHook();
};

// What the program and its workers said to each other since the last reset: frames sent and
// received (heartbeats included) and databases opened. Counted for the benchmark.
struct WorkerTraffic
{
    static qint64 framesSent();
    static qint64 framesReceived();
    static qint64 databasesOpened();
    // Engine processes started (a fork server counts once, however many databases it serves).
    static qint64 enginesStarted();
    static void countOpen();
    static void reset();
};

// One running strudex-engine process and the conversation with it. Everything the worker says is
// checked before it is used; a worker that dies, stalls or talks nonsense is stopped and becomes
// a Failure that says so.
class Worker
{
public:
    // database: the file this worker is for, named in failure descriptions.
    explicit Worker(QString database);
    ~Worker();

    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Starts the worker and makes sure it speaks this program's protocol version. With
    // WorkerSettings::forkPerDatabase() the worker is the next child of a fork server: the one
    // parked by the last worker when it was started alike, or a new one.
    void start();
    bool running() const;
    // Asks the worker to finish, and ends it if it does not. A fork server whose child finished
    // cleanly is parked for the next worker instead.
    void stop() noexcept;
    // The engine process (the fork server, for a child of one); 0 when none runs.
    qint64 processId() const;

    // Ends the fork server parked for the next worker, if any.
    static void releaseParked() noexcept;

    // Sends one request and waits for its final answer. An engine error is thrown as a Failure
    // with the engine's number and description; an Ok body is handed to decode, whose nothing
    // means the worker broke the protocol.
    template <class T>
    T call(const EngineProtocol::Bytes &request,
           const std::function<std::optional<T>(EngineProtocol::Reader &)> &decode)
    {
        send(request);
        return answer<T>(receive(), decode);
    }

    // The final answer of a request sent before, read from its payload as call() reads it.
    template <class T>
    T answer(const EngineProtocol::Bytes &payload,
             const std::function<std::optional<T>(EngineProtocol::Reader &)> &decode)
    {
        auto response = EngineProtocol::decodeResponse(payload);
        if (!response ||
            (response->status != EngineProtocol::Status::Ok && response->status != EngineProtocol::Status::Error))
            throw broken();
        if (response->status == EngineProtocol::Status::Error)
            throw Failure(response->error.number, QString::fromUtf8(response->error.description));
        std::optional<T> result = decode(response->body);
        if (!result)
            throw broken();
        return std::move(*result);
    }

    void callExpectingNothing(const EngineProtocol::Bytes &request);

    // Sends one request without waiting for its answer; answers come in the order of requests.
    void send(const EngineProtocol::Bytes &request);
    // The next frame from the worker that is not a heartbeat, waiting as long as the worker shows
    // signs of life.
    EngineProtocol::Bytes receive();

    // Stops the worker and says that it broke the protocol.
    Failure broken();

private:
    void launch();
    void checkProtocolVersion();
    // Ends the conversation of a fork server's child and parks the server; false when anything
    // about it is in doubt.
    bool park();
    Failure died();
    Failure hung();
    // The next whole frame the worker sent, if it has all arrived; fails when the stream is broken.
    std::optional<EngineProtocol::Bytes> nextFrame();

    // Ends the process for good: after a failure, nothing of the conversation can be trusted.
    void discard() noexcept;

    QString m_database;
    std::unique_ptr<QProcess> m_process;
    // What the process was started with: a parked server serves only workers that would start the same.
    QString m_program;
    int m_memoryLimitMb = 0;
    // Whether this worker ever said anything: one that ends before it does could not be started.
    bool m_spoke = false;
    // A child of a fork server, and whether its server may serve the next database: not once the
    // conversation went wrong in any way.
    bool m_forked = false;
    bool m_reusable = false;
    // Requests sent whose final answer has not been read yet.
    int m_unanswered = 0;
};

} // namespace Ado
