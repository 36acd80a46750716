#pragma once

// Turns a crash inside libmdb into an answer the parent can read.
//
// libmdb 1.0.0 can still fault on damaged files in ways no check beforehand catches, and under
// the memory limit glib aborts when an allocation fails. Instead of leaving the parent with a
// pipe that just closes, the signal handler writes one prepared Error frame and exits. The frame
// is prepared before each request, because a signal handler may not allocate.

#include <cstdint>
#include <string_view>

namespace Engine::CrashGuard {

// Installs the handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT and SIGTRAP; frames go to
// outputFd. Exit status after a crash: kCrashExitCode.
void install(int outputFd);

inline constexpr int kCrashExitCode = 70;

// Prepares the answer for a crash during the work that follows.
void prepare(std::int32_t number, std::string_view description);

// Brackets every frame write: a crash in the middle of one must not append a second frame to
// half of the first.
void beginWrite() noexcept;
void endWrite() noexcept;

} // namespace Engine::CrashGuard
