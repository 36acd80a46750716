#pragma once

// The worker's request loop: one database per process, requests answered strictly in order.

#include "engine/Channel.h"
#include "engine/MdbDatabase.h"

#include <optional>
#include <string>

namespace Engine {

class Worker
{
public:
    // memoryLimitMb: the address space the worker was given (0: none), named when it runs out.
    explicit Worker(Channel &channel, unsigned long memoryLimitMb = 0)
        : m_channel(channel), m_memoryLimitMb(memoryLimitMb)
    {
    }

    // Serves requests until Close or the end of the input. Returns the process exit status.
    int run();
    // Whether run() ended because the program sent Close (rather than because its input ended).
    bool closedByRequest() const { return m_closing; }

    // Exit status when the request stream itself broke (a frame over the limit).
    static constexpr int kBrokenStreamExitCode = 2;
    // Exit status when the parent stopped reading.
    static constexpr int kParentGoneExitCode = 3;

private:
    // The answer to one request; sets m_closing for Close.
    EngineProtocol::Bytes answer(const EngineProtocol::Request &request);
    // Sends the parts of the answer to Describe as they are read; returns its final answer.
    EngineProtocol::Bytes describe(const std::vector<std::string> &tables);
    // The whole structure of the wanted tables (all when none), streamed in parts.
    EngineProtocol::Bytes structure(const std::vector<std::string> &tables);
    // Prepares the crash answer for the database of path (once per path).
    void prepareCrashAnswer(const std::string &path);
    // The error of an exception thrown while reading.
    EngineProtocol::EngineError errorOf(std::exception_ptr failure) const;

    Channel &m_channel;
    unsigned long m_memoryLimitMb;
    MdbDatabase m_database;
    bool m_closing = false;
    std::optional<std::string> m_crashAnswerPath; // the file the prepared crash answer names
};

} // namespace Engine
