#pragma once

// One engine process for many databases, each still read by a process of its own.
//
// Starting strudex-engine costs more than reading a small database: the dynamic loader maps and
// relocates libmdb, libgsf, glib, ICU and OpenSSL every time. A fork server pays that once and
// forks a child per database; the child inherits everything already loaded, serves exactly one
// conversation, and ends, so that a damaged file that crashes or corrupts its reader harms no
// other file. Unix only.

#include <chrono>

namespace Engine::ForkServer {

// Exit status of a child whose input ended, rather than a conversation ended by Close: the server
// ends too, since nobody will talk to it again.
inline constexpr int kInputEndedExitCode = 4;

// Serves conversations on standard input and protocolFd until the input ends; returns the
// server's exit status. The process must be set up as for a single worker (protocol channel,
// memory limit, crash guard) before.
int run(int protocolFd, std::chrono::milliseconds heartbeatInterval, unsigned long memoryLimitMb);

} // namespace Engine::ForkServer
