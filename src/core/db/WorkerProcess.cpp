#include "core/db/WorkerProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <array>
#include <csignal>

namespace Ado {

namespace {

QString programOverride;
int noProgressTimeout = 30000;
int memoryLimit = 2048;
std::function<void()> hook;
qint64 sentFrames = 0;
qint64 receivedFrames = 0;
qint64 openedDatabases = 0;
qint64 startedEngines = 0;
bool forkServers = false;

// The fork server the last worker left running for the next one, and what it was started with.
struct ParkedServer
{
    std::unique_ptr<QProcess> process;
    QString program;
    int memoryLimitMb = 0;
};
ParkedServer parked;
bool parkedReleaseRegistered = false;
// Set as the program ends: a server parked after that would outlive it.
bool parkingClosed = false;

// How long one wait for the worker lasts before the wait hook runs again.
constexpr int WaitSliceMs = 50;

QString whileReading(const QString &database)
{
    return database.isEmpty() ? QString() : QStringLiteral(" while reading '%1'").arg(database);
}

// The engine program cannot be run: it is not installed properly, whatever the file. Where the
// engine is Strudex's own program, putting it back is the cure.
Failure notInstalled(const QString &why)
{
#ifdef Q_OS_WIN
    const QString advice;
#else
    const QString advice = QStringLiteral(" Reinstall Strudex to solve this problem.");
#endif
    return Failure(3706, QStringLiteral("Provider cannot be found. It may not be properly installed. (%1: %2)%3")
                             .arg(QDir::toNativeSeparators(WorkerSettings::program()), why, advice));
}

} // namespace

QString WorkerSettings::program()
{
    if (!programOverride.isEmpty())
        return programOverride;
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("strudex-engine.exe");
#else
    const QString name = QStringLiteral("strudex-engine");
#endif
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

void WorkerSettings::setProgram(const QString &path)
{
    programOverride = path;
}

int WorkerSettings::noProgressTimeoutMs()
{
    return noProgressTimeout;
}

void WorkerSettings::setNoProgressTimeoutMs(int ms)
{
    noProgressTimeout = ms;
}

int WorkerSettings::memoryLimitMb()
{
    return memoryLimit;
}

void WorkerSettings::setMemoryLimitMb(int mb)
{
    memoryLimit = mb;
}

bool WorkerSettings::forkPerDatabase()
{
    return forkServers;
}

void WorkerSettings::setForkPerDatabase(bool on)
{
    forkServers = on;
}

void WorkerSettings::setWaitHook(std::function<void()> newHook)
{
    hook = std::move(newHook);
}

const std::function<void()> &WorkerSettings::waitHook()
{
    return hook;
}

qint64 WorkerTraffic::framesSent()
{
    return sentFrames;
}

qint64 WorkerTraffic::framesReceived()
{
    return receivedFrames;
}

qint64 WorkerTraffic::databasesOpened()
{
    return openedDatabases;
}

qint64 WorkerTraffic::enginesStarted()
{
    return startedEngines;
}

void WorkerTraffic::countOpen()
{
    ++openedDatabases;
}

void WorkerTraffic::reset()
{
    sentFrames = receivedFrames = openedDatabases = startedEngines = 0;
}

Worker::Worker(QString database) : m_database(std::move(database))
{
}

Worker::~Worker()
{
    stop();
}

void Worker::start()
{
#ifndef Q_OS_WIN
    // A worker that died must give an error on the next write, not end this program.
    std::signal(SIGPIPE, SIG_IGN);
    m_forked = WorkerSettings::forkPerDatabase();
#endif
    m_unanswered = 0;
    if (m_forked && parked.process && parked.program == WorkerSettings::program() &&
        parked.memoryLimitMb == WorkerSettings::memoryLimitMb()) {
        m_process = std::move(parked.process);
        m_program = parked.program;
        m_memoryLimitMb = parked.memoryLimitMb;
        m_reusable = true;
        try {
            checkProtocolVersion();
            return;
        } catch (const Failure &) {
            // Ended from outside while it was parked: no fault of this file, a new server serves it.
        }
        discard();
        m_spoke = false;
        m_unanswered = 0;
    }
    releaseParked();
    launch();
    m_reusable = m_forked;
    checkProtocolVersion();
}

void Worker::launch()
{
    m_program = WorkerSettings::program();
    m_memoryLimitMb = WorkerSettings::memoryLimitMb();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    // libmdb talks on standard error about every oddity of a damaged file; nobody reads it.
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->setReadChannel(QProcess::StandardOutput);
#ifdef Q_OS_LINUX
    // The worker makes and frees a few dozen small objects per table, thousands of tables in a
    // row: a deeper per-thread cache in glibc's allocator takes a tenth off its work. Settings of
    // the user's own come first.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString tunables = environment.value(QStringLiteral("GLIBC_TUNABLES"));
    if (!tunables.contains(QStringLiteral("glibc.malloc.tcache_count"))) {
        environment.insert(QStringLiteral("GLIBC_TUNABLES"),
                           (tunables.isEmpty() ? QString() : tunables + QLatin1Char(':')) +
                               QStringLiteral("glibc.malloc.tcache_count=1000"));
        m_process->setProcessEnvironment(environment);
    }
#endif
    QStringList arguments{QStringLiteral("--memory-limit-mb"), QString::number(m_memoryLimitMb)};
    if (m_forked)
        arguments << QStringLiteral("--fork-per-database");
    m_process->start(m_program, arguments);
    if (!m_process->waitForStarted(10000)) {
        const QString reason = m_process->errorString();
        m_process.reset();
        throw notInstalled(reason);
    }
    ++startedEngines;
}

void Worker::checkProtocolVersion()
{
    // A worker left behind by another version of Strudex speaks another protocol; asked once, it is
    // named as badly installed instead of showing up later as an answer nobody can read.
    send(EngineProtocol::encodeHello());
    const EngineProtocol::Bytes payload = receive();
    auto response = EngineProtocol::decodeResponse(payload);
    std::optional<std::uint32_t> version;
    if (response && response->status == EngineProtocol::Status::Ok)
        version = EngineProtocol::decodeHelloResult(response->body);
    if (version == EngineProtocol::kProtocolVersion)
        return;
    const QString why = version ? QStringLiteral("it speaks protocol version %1, this program speaks version %2")
                                      .arg(*version)
                                      .arg(EngineProtocol::kProtocolVersion)
                                : QStringLiteral("it does not say which protocol version it speaks, this program "
                                                 "speaks version %1")
                                      .arg(EngineProtocol::kProtocolVersion);
    discard();
    throw notInstalled(why);
}

bool Worker::running() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 Worker::processId() const
{
    return running() ? m_process->processId() : 0;
}

void Worker::stop() noexcept
{
    if (!m_process)
        return;
    if (m_reusable && park())
        return;
    m_reusable = false;
    // A failure while parking has ended the process already.
    if (!m_process)
        return;
    try {
        if (m_process->state() == QProcess::Running) {
            const EngineProtocol::Bytes bye = EngineProtocol::frame(EngineProtocol::encodeClose());
            if (m_process->write(reinterpret_cast<const char *>(bye.data()), qint64(bye.size())) == qint64(bye.size()))
                ++sentFrames;
            m_process->closeWriteChannel();
            if (!m_process->waitForFinished(2000))
                m_process->kill();
        }
        if (m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
    } catch (...) {
    }
    m_process.reset();
}

void Worker::discard() noexcept
{
    m_reusable = false;
    stop();
}

bool Worker::park()
{
    // Whatever happens from here on, the server is parked or ended, never used again by this worker.
    m_reusable = false;
    // A request still unanswered would be answered after Close: its answer read as the
    // acknowledgement, or worse, read by the next worker.
    if (m_unanswered != 0 || !running() || parkingClosed || !QCoreApplication::instance())
        return false;
    try {
        // The server forks the next child only after this one has ended, and the child reads ahead
        // of the request it is serving: nothing may follow Close until the server says so.
        send(EngineProtocol::encodeClose());
        // The child's answer to Close, then the server's word that the child has ended.
        for (int answer = 0; answer < 2; ++answer) {
            const EngineProtocol::Bytes payload = receive();
            auto response = EngineProtocol::decodeResponse(payload);
            if (!response || response->status != EngineProtocol::Status::Ok ||
                !EngineProtocol::decodeEmptyResult(response->body))
                return false;
        }
    } catch (...) {
        return false;
    }
    if (!running())
        return false;
    releaseParked();
    if (!parkedReleaseRegistered) {
        qAddPostRoutine([] {
            parkingClosed = true;
            Worker::releaseParked();
        });
        parkedReleaseRegistered = true;
    }
    parked = {std::move(m_process), m_program, m_memoryLimitMb};
    return true;
}

void Worker::releaseParked() noexcept
{
    std::unique_ptr<QProcess> process = std::move(parked.process);
    if (!process)
        return;
    try {
        // Its next child is waiting for a request: at the end of the input it ends, and the server
        // with it.
        process->closeWriteChannel();
        if (!process->waitForFinished(2000)) {
            process->kill();
            process->waitForFinished(2000);
        }
    } catch (...) {
    }
}

void Worker::send(const EngineProtocol::Bytes &request)
{
    if (!running())
        throw died();
    const EngineProtocol::Bytes framed = EngineProtocol::frame(request);
    if (framed.empty())
        throw Failure(0, QStringLiteral("The request for the database engine is too large."));
    if (m_process->write(reinterpret_cast<const char *>(framed.data()), qint64(framed.size())) != qint64(framed.size()))
        throw died();
    ++sentFrames;
    ++m_unanswered;
}

std::optional<EngineProtocol::Bytes> Worker::nextFrame()
{
    // Taken from the process's own buffer once it holds the whole frame: one copy, where cutting
    // it out of a stream of pieces would make three of every part of a big answer.
    const qint64 available = m_process->bytesAvailable();
    if (available < qint64(EngineProtocol::kFrameHeaderSize))
        return std::nullopt;
    std::array<unsigned char, EngineProtocol::kFrameHeaderSize> head{};
    if (m_process->peek(reinterpret_cast<char *>(head.data()), qint64(head.size())) != qint64(head.size()))
        throw broken();
    std::uint32_t length = 0;
    for (std::size_t i = head.size(); i-- > 0;)
        length = (length << 8) | head[i];
    // A frame announced beyond the limit: the stream cannot be trusted any more.
    if (length > EngineProtocol::kMaxFrameLength)
        throw broken();
    if (available - qint64(head.size()) < qint64(length))
        return std::nullopt;
    EngineProtocol::Bytes payload(length);
    if (m_process->skip(qint64(head.size())) != qint64(head.size()) ||
        m_process->read(reinterpret_cast<char *>(payload.data()), qint64(length)) != qint64(length))
        throw broken();
    return payload;
}

EngineProtocol::Bytes Worker::receive()
{
    if (!m_process)
        throw died();
    QElapsedTimer silence;
    silence.start();
    for (;;) {
        while (auto payload = nextFrame()) {
            ++receivedFrames;
            m_spoke = true;
            if (payload->size() == 1 && (*payload)[0] == std::uint8_t(EngineProtocol::Status::Progress)) {
                silence.restart();
                continue;
            }
            // Parts come before the final answer of their request.
            if (m_unanswered > 0 && (payload->empty() || (*payload)[0] != std::uint8_t(EngineProtocol::Status::Part)))
                --m_unanswered;
            return std::move(*payload);
        }
        // An ended worker sends nothing more: a frame not whole by now never will be.
        if (m_process->state() == QProcess::NotRunning)
            throw died();
        const qint64 left = WorkerSettings::noProgressTimeoutMs() - silence.elapsed();
        if (left <= 0)
            throw hung();
        const qint64 before = m_process->bytesAvailable();
        if (m_process->waitForReadyRead(int(std::min<qint64>(left, WaitSliceMs))) &&
            m_process->bytesAvailable() > before)
            silence.restart();
        if (const auto &waitHook = WorkerSettings::waitHook())
            waitHook();
    }
}

void Worker::callExpectingNothing(const EngineProtocol::Bytes &request)
{
    call<bool>(request, [](EngineProtocol::Reader &body) -> std::optional<bool> {
        if (!EngineProtocol::decodeEmptyResult(body))
            return std::nullopt;
        return true;
    });
}

Failure Worker::broken()
{
    discard();
    return Failure(0, QStringLiteral("The database engine gave an answer that cannot be understood%1; it was stopped.")
                          .arg(whileReading(m_database)));
}

Failure Worker::died()
{
    // The system's loader ends a program whose libraries are missing with 127 (126: not runnable),
    // before the program runs at all: the engine is not installed properly, the file is not at fault.
    if (!m_spoke && m_process && m_process->state() == QProcess::NotRunning &&
        m_process->exitStatus() == QProcess::NormalExit &&
        (m_process->exitCode() == 127 || m_process->exitCode() == 126)) {
        const int code = m_process->exitCode();
        discard();
        return notInstalled(QStringLiteral("it could not be started, code %1").arg(code));
    }
    QString how;
    if (m_process && m_process->state() == QProcess::NotRunning) {
        how = m_process->exitStatus() == QProcess::CrashExit
                  ? QStringLiteral(" (it crashed)")
                  : QStringLiteral(" (it ended with code %1)").arg(m_process->exitCode());
    }
    discard();
    return Failure(0, QStringLiteral("The database engine stopped unexpectedly%1%2. The file may be damaged.")
                          .arg(whileReading(m_database), how));
}

Failure Worker::hung()
{
    discard();
    return Failure(0, QStringLiteral("The database engine made no progress for %1 seconds%2 and was stopped. "
                                     "The file may be damaged.")
                          .arg(WorkerSettings::noProgressTimeoutMs() / 1000.0)
                          .arg(whileReading(m_database)));
}

} // namespace Ado
