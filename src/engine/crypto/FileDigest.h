#pragma once

// The SHA-256 of a database file as it lies on disk, so that a catalogue of many databases can
// tell copies of one file apart from files that only share a name.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace Engine {

// Reads the file at path from its start to its end, a chunk at a time, calling alive() after
// every chunk (a big file takes longer than the program waits in silence). A file that cannot be
// opened or read to its end throws an EngineFailure that says why.
std::array<std::uint8_t, 32> sha256OfFile(const std::string &path, const std::function<void()> &alive);

// Loads what OpenSSL needs for SHA-256 (its provider, its tables of names) ahead of time: the fork
// server does it once, and each child takes it over instead of loading it for its one file.
void prepareDigests();

} // namespace Engine
