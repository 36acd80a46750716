// An application's storage tree, read in-process: the input as a compound file (libgsf), then as
// the chunks of MSysAccessObjects joined into one, and each tree read for its VBA project and its
// macros. Nothing may read outside its input, and no stream may pass its limit.

#include "engine/AccessStorage.h"
#include "engine/CompoundFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void readTree(std::span<const std::uint8_t> file)
{
    constexpr std::size_t limit = 1u << 20;
    std::string problem;
    const auto rows = Engine::compoundFileRows(file, limit, problem);
    if (!rows)
        return;
    for (const Engine::StorageRow &row : *rows)
        if (row.bytes && row.bytes->size() > limit)
            __builtin_trap();
    Engine::readStorageProject(*rows, problem);
    Engine::readStorageMacros(*rows, problem);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A copy of exactly the input's size, so that a read past the end is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    readTree(bytes);
    // The same bytes as the rows of MSysAccessObjects: a header row, then chunks of 512 bytes with
    // their numbers, one left out when the input's first byte says so.
    std::vector<Engine::ObjectChunk> chunks;
    std::vector<std::uint8_t> header(8, 0);
    for (int i = 0; i < 4; ++i)
        header[4 + std::size_t(i)] = std::uint8_t(size >> (8 * i));
    chunks.push_back({0, header});
    for (std::size_t at = 0, id = 1; at < size; at += 512, ++id)
        if (size == 0 || id != std::size_t(data[0]))
            chunks.push_back({std::int64_t(id), std::vector<std::uint8_t>(data + at, data + std::min(size, at + 512))});
    std::string problem;
    if (const auto joined = Engine::joinObjectChunks(chunks, 512, 4u << 20, problem)) {
        if (joined->size() != size)
            __builtin_trap();
        readTree(*joined);
    }
    return 0;
}
