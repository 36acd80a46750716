#include "engine/Channel.h"

#include "engine/CrashGuard.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace Engine {

Channel::Channel(int inputFd, int outputFd, std::chrono::milliseconds heartbeatInterval)
    : m_input(inputFd), m_output(outputFd), m_heartbeatInterval(heartbeatInterval),
      m_lastSent(std::chrono::steady_clock::now())
{
#ifdef F_SETPIPE_SZ
    // A streamed answer goes out in parts of up to one and a half megabytes, while the program is
    // still busy with the part before; with the default pipe of 64 KiB the worker would stop
    // reading until the program catches up. Where the system allows no larger pipe, it stays as it is.
    ::fcntl(outputFd, F_SETPIPE_SZ, kLargePipe);
#endif
}

Channel::ReadResult Channel::read(EngineProtocol::Bytes &payload)
{
    // Not value-initialised: clearing 64 KiB for every request costs more than small requests do.
    std::array<std::uint8_t, 64 * 1024> buffer;
    for (;;) {
        if (auto next = m_splitter.next()) {
            payload = std::move(*next);
            return ReadResult::Frame;
        }
        if (m_splitter.failed())
            return ReadResult::Broken;
        // Nothing to do until the program asks: sleep in read(). One request asks for a whole
        // database, so the wake-up is paid once per request, not once per table.
        const ssize_t got = ::read(m_input, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return ReadResult::Broken;
        if (got == 0)
            return ReadResult::EndOfInput; // a half frame left over means the same: the parent is gone
        m_splitter.append(EngineProtocol::ByteView(buffer.data(), static_cast<std::size_t>(got)));
    }
}

bool Channel::send(const EngineProtocol::Bytes &payload)
{
    if (m_outputBroken)
        return false;
    const EngineProtocol::Bytes tooLarge =
        EngineProtocol::encodeError(0, "The answer of the database engine is too large to send.");
    const EngineProtocol::Bytes &body = payload.size() > EngineProtocol::kMaxFrameLength ? tooLarge : payload;
    // The length and the payload go out in one write, without copying the payload behind it.
    std::array<std::uint8_t, EngineProtocol::kFrameHeaderSize> header{};
    for (std::size_t i = 0; i < header.size(); ++i)
        header[i] = static_cast<std::uint8_t>(body.size() >> (8 * i));
    const std::size_t total = header.size() + body.size();

    CrashGuard::beginWrite();
    std::size_t done = 0;
    while (done < total) {
        iovec pieces[2];
        int count = 0;
        if (done < header.size())
            pieces[count++] = {header.data() + done, header.size() - done};
        const std::size_t bodyDone = done > header.size() ? done - header.size() : 0;
        pieces[count++] = {const_cast<std::uint8_t *>(body.data()) + bodyDone, body.size() - bodyDone};
        const ssize_t written = ::writev(m_output, pieces, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_outputBroken = true;
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    CrashGuard::endWrite();
    m_lastSent = std::chrono::steady_clock::now();
    return !m_outputBroken;
}

void Channel::heartbeat()
{
    if (std::chrono::steady_clock::now() - m_lastSent >= m_heartbeatInterval)
        send(EngineProtocol::encodeProgress());
}

} // namespace Engine
