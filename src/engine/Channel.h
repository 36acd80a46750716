#pragma once

// The worker's end of the pipe pair: request frames in, answer frames out.

#include "protocol/EngineProtocol.h"

#include <chrono>

namespace Engine {

class Channel
{
public:
    Channel(int inputFd, int outputFd, std::chrono::milliseconds heartbeatInterval = kHeartbeatInterval);

    enum class ReadResult { Frame, EndOfInput, Broken };
    // Blocks until one whole request payload has arrived.
    ReadResult read(EngineProtocol::Bytes &payload);

    // Sends one answer as a whole frame. False when the parent is gone.
    bool send(const EngineProtocol::Bytes &payload);

    // Sends a Progress frame when nothing was sent for a while; cheap enough to call per row.
    void heartbeat();

    std::chrono::milliseconds heartbeatInterval() const { return m_heartbeatInterval; }

    // The longest silence heartbeat() allows by default; well below the parent's no-progress
    // time-out.
    static constexpr std::chrono::milliseconds kHeartbeatInterval{200};
    // The pipe to the program asked for when the output is one (the system caps it).
    static constexpr int kLargePipe = 1 << 20;

private:
    int m_input;
    int m_output;
    std::chrono::milliseconds m_heartbeatInterval;
    bool m_outputBroken = false;
    EngineProtocol::FrameSplitter m_splitter;
    std::chrono::steady_clock::time_point m_lastSent;
};

} // namespace Engine
