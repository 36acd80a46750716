#include "engine/ForkServer.h"

#include "engine/Channel.h"
#include "engine/Worker.h"
#include "engine/crypto/FileDigest.h"
#include "protocol/EngineProtocol.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace Engine::ForkServer {

namespace {

// The child: one ordinary worker on the inherited descriptors. Never returns.
//
// Its channel reads standard input in chunks of up to 64 KiB, and whatever it read past the end of
// its conversation would be lost with it. That cannot happen because the program sends nothing
// after Close until it has the server's acknowledgement, which comes only once this process has
// ended: the last bytes in the pipe while it lives are the Close frame's.
[[noreturn]] void serveOneDatabase(pid_t server, int protocolFd, std::chrono::milliseconds heartbeatInterval,
                                   unsigned long memoryLimitMb)
{
#if defined(__linux__)
    // A child left behind by a server that was killed would keep reading the program's requests.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    // The server may have died before the line above took effect.
    if (::getppid() != server)
        ::_exit(Worker::kParentGoneExitCode);

    Channel channel(STDIN_FILENO, protocolFd, heartbeatInterval);
    // Not taken apart on the way out, as in a single worker: the process ends at once.
    auto *worker = new Worker(channel, memoryLimitMb);
    int status = worker->run();
    if (status == 0 && !worker->closedByRequest())
        status = kInputEndedExitCode;
    std::fflush(nullptr);
    ::_exit(status);
}

// Ends the server the way its child ended, so that the program describes the failure exactly as it
// would for a worker of its own: a crash as a crash, an exit code as that code.
[[noreturn]] void endAsTheChildDid(int status)
{
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        // The crash guard's handlers would turn the signal into an exit code; and the child's
        // crash was not the server's, so it leaves no core behind.
        rlimit noCore{};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    ::_exit(code != 0 ? code : 1);
}

bool acknowledge(int protocolFd)
{
    const EngineProtocol::Bytes frame = EngineProtocol::frame(EngineProtocol::encodeOk());
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t written = ::write(protocolFd, frame.data() + done, frame.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

int run(int protocolFd, std::chrono::milliseconds heartbeatInterval, unsigned long memoryLimitMb)
{
    // waitpid() needs the children to stay waitable: an ignored SIGCHLD inherited from whoever
    // started us would make them vanish.
    ::signal(SIGCHLD, SIG_DFL);
    prepareDigests();
    const pid_t server = ::getpid();
    for (;;) {
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child < 0) {
            std::perror("strudex-engine: fork");
            return 1;
        }
        if (child == 0)
            serveOneDatabase(server, protocolFd, heartbeatInterval, memoryLimitMb);

        // The child alone speaks on the protocol channel while it lives: the server sends no
        // heartbeat of its own, and nothing at all until the child has ended.
        int status = 0;
        pid_t ended = -1;
        do
            ended = ::waitpid(child, &status, 0);
        while (ended < 0 && errno == EINTR);
        if (ended < 0) {
            std::perror("strudex-engine: waitpid");
            return 1;
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == kInputEndedExitCode)
            return 0;
        // Anything but the end of a conversation by Close leaves the stream in doubt: half a frame
        // written, requests read and never answered. The program starts a new server.
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            endAsTheChildDid(status);
        if (!acknowledge(protocolFd))
            return Worker::kParentGoneExitCode;
    }
}

} // namespace Engine::ForkServer
