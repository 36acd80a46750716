// strudex-engine: the database worker. Reads request frames on standard input and answers on
// standard output, one database per process, until Close or the end of the input.
//
//   strudex-engine [--memory-limit-mb N] [--heartbeat-ms N] [--fork-per-database]
//       --memory-limit-mb    address space in megabytes (default 2048, 0 = no limit)
//       --heartbeat-ms       longest silence during long work (default 200; 0 = a heartbeat per row)
//       --fork-per-database  serve one database after another, each in a child process of its own,
//                            until the end of the input (Unix only; see ForkServer.h)
//   strudex-engine --version

#include "engine/Channel.h"
#include "engine/CrashGuard.h"
#include "engine/ForkServer.h"
#include "engine/Worker.h"
#include "protocol/EngineProtocol.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#ifndef STRUDEX_VERSION
#define STRUDEX_VERSION "unknown"
#endif

namespace {

constexpr unsigned long kDefaultMemoryLimitMb = 2048;
constexpr unsigned long kMaxMemoryLimitMb = 1ul << 24;
constexpr unsigned long kMaxHeartbeatMs = 60000;

void printUsage()
{
    std::fprintf(stderr,
                 "usage: strudex-engine [--memory-limit-mb N] [--heartbeat-ms N] [--fork-per-database] | --version\n");
}

bool parseNumber(std::string_view text, unsigned long &value, unsigned long maximum)
{
    unsigned long parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

enum class Option { Absent, Taken, Bad };

// "--name N" or "--name=N" at argv[i]; moves i past the value it takes.
Option numberOption(int argc, char **argv, int &i, std::string_view name, unsigned long &value, unsigned long maximum)
{
    const std::string_view argument = argv[i];
    bool ok = false;
    if (argument == name)
        ok = i + 1 < argc && parseNumber(argv[++i], value, maximum);
    else if (argument.size() > name.size() && argument.starts_with(name) && argument[name.size()] == '=')
        ok = parseNumber(argument.substr(name.size() + 1), value, maximum);
    else
        return Option::Absent;
    return ok ? Option::Taken : Option::Bad;
}

// libmdb writes diagnostics to standard output as well as to standard error. The frames get a
// private copy of the real standard output, and descriptor 1 is pointed at standard error, so
// that nothing libmdb prints can end up in the middle of a frame.
int protectProtocolChannel()
{
    const int protocol = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (protocol < 0)
        return -1;
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0)
            return -1;
        ::close(null);
    }
    return protocol;
}

void limitMemory([[maybe_unused]] unsigned long megabytes)
{
#if !defined(STRUDEX_SANITIZED)
    // The sanitizers reserve terabytes of address space up front; a limit would stop them.
    if (megabytes == 0)
        return;
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(megabytes) << 20;
    rlimit current{};
    if (::getrlimit(RLIMIT_AS, &current) == 0 && current.rlim_max != RLIM_INFINITY && current.rlim_max < limit.rlim_max)
        limit.rlim_cur = limit.rlim_max = current.rlim_max;
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

} // namespace

int main(int argc, char **argv)
{
    // libmdb loops forever looking for a missing file when MDBPATH has an empty entry.
    ::unsetenv("MDBPATH");

    unsigned long memoryLimitMb = kDefaultMemoryLimitMb;
    unsigned long heartbeatMs = static_cast<unsigned long>(Engine::Channel::kHeartbeatInterval.count());
    bool forkPerDatabase = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::printf("strudex-engine %s (protocol %u)\n", STRUDEX_VERSION, EngineProtocol::kProtocolVersion);
            return 0;
        }
#if !defined(_WIN32)
        if (std::string_view(argv[i]) == "--fork-per-database") {
            forkPerDatabase = true;
            continue;
        }
#endif
        Option option = numberOption(argc, argv, i, "--memory-limit-mb", memoryLimitMb, kMaxMemoryLimitMb);
        if (option == Option::Absent)
            option = numberOption(argc, argv, i, "--heartbeat-ms", heartbeatMs, kMaxHeartbeatMs);
        if (option != Option::Taken) {
            printUsage();
            return 2;
        }
    }

    const int protocol = protectProtocolChannel();
    if (protocol < 0) {
        std::perror("strudex-engine");
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    limitMemory(memoryLimitMb);
    Engine::CrashGuard::install(protocol);

    if (forkPerDatabase)
        return Engine::ForkServer::run(protocol, std::chrono::milliseconds(heartbeatMs), memoryLimitMb);

    Engine::Channel channel(STDIN_FILENO, protocol, std::chrono::milliseconds(heartbeatMs));
    // The worker is not taken apart on the way out: the parent waits for the exit, and freeing a
    // big database's tables one by one only makes it wait longer. Nothing is buffered.
    auto *worker = new Engine::Worker(channel, memoryLimitMb);
    const int status = worker->run();
    std::fflush(nullptr);
    ::_exit(status);
}
