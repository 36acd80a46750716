#include "engine/CrashGuard.h"

#include "protocol/EngineProtocol.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Engine::CrashGuard {

namespace {

constexpr std::size_t kFrameCapacity = 16 * 1024;
constexpr std::size_t kAltStackSize = 64 * 1024;

int g_output = -1;
std::uint8_t g_frame[kFrameCapacity];
volatile sig_atomic_t g_frameLength = 0;
volatile sig_atomic_t g_writing = 0;
alignas(16) std::uint8_t g_altStack[kAltStackSize];

extern "C" void onFatalSignal(int)
{
    const std::size_t length = static_cast<std::size_t>(g_frameLength);
    if (g_output >= 0 && !g_writing && length > 0) {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t written = ::write(g_output, g_frame + done, length - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                break;
            done += static_cast<std::size_t>(written);
        }
    }
    ::_exit(kCrashExitCode);
}

} // namespace

void install(int outputFd)
{
    g_output = outputFd;

    // A stack overflow has no stack left to run the handler on.
    stack_t stack{};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action
    {
    };
    action.sa_handler = onFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
        ::sigaction(signal, &action, nullptr);
}

void prepare(std::int32_t number, std::string_view description)
{
    // Leave room for the status, the number and the lengths; the text is cut if need be.
    constexpr std::size_t kOverhead = 64;
    const std::string text = EngineProtocol::sanitizeUtf8(description, kFrameCapacity - kOverhead);
    const EngineProtocol::Bytes framed = EngineProtocol::frame(EngineProtocol::encodeError(number, text));
    g_frameLength = 0;
    if (framed.size() > kFrameCapacity)
        return;
    std::memcpy(g_frame, framed.data(), framed.size());
    g_frameLength = static_cast<sig_atomic_t>(framed.size());
}

void beginWrite() noexcept
{
    g_writing = 1;
}

void endWrite() noexcept
{
    g_writing = 0;
}

} // namespace Engine::CrashGuard
