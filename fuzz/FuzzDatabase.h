#pragma once

// The worker's reading paths, in-process, on a database image in memory: open (header, password,
// catalogue through libmdb), then what a report or the whole structure reads. libmdb reads a path,
// so the image goes into a memory-only file.

#include "engine/DatabaseHeader.h"
#include "engine/EngineErrors.h"
#include "engine/MdbDatabase.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <span>
#include <string>

namespace Fuzz {

// STRUDEX_FUZZ_VERBOSE=1 tells what became of each input (to check that seeds get far).
inline bool verbose()
{
    static const bool on = std::getenv("STRUDEX_FUZZ_VERBOSE") != nullptr;
    return on;
}

// The path of a memory-only file that holds image, the same file for every input.
inline std::string imageFile(std::span<const std::uint8_t> image)
{
    static const int fd = [] {
        // libmdb looks for a file along MDBPATH; an empty entry makes it search for ever.
        ::unsetenv("MDBPATH");
        return ::memfd_create("strudex-fuzz-image", MFD_CLOEXEC);
    }();
    if (fd < 0)
        std::abort();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, image.data(), image.size(), 0) != static_cast<ssize_t>(image.size()))
        std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
}

// Opens image as the worker opens a file (with its stored Jet password, so that a protected image
// is read too) and hands the open database to read. A refusal (EngineFailure) or running out of
// memory ends it, as it ends a request in the worker.
template <class Read> void withDatabase(std::span<const std::uint8_t> image, Read read)
{
    const std::string path = imageFile(image);
    const Engine::DatabaseHeader header =
        Engine::readDatabaseHeader(image.first(std::min(image.size(), Engine::kHeaderBytes)), image.size());
    Engine::MdbDatabase database;
    try {
        database.open(path, header.password);
        read(database);
    } catch (const Engine::EngineFailure &failure) {
        if (verbose())
            std::fprintf(stderr, "refused: %s\n", failure.what());
    } catch (const std::bad_alloc &) {
    }
}

// What the worker reads for a report: the list of tables, and for every local table its fields,
// row count and descriptions.
inline void readWholeDatabase(std::span<const std::uint8_t> image)
{
    withDatabase(image, [](Engine::MdbDatabase &database) {
        const auto tables = database.tables();
        std::size_t read = 0;
        for (const EngineProtocol::TableRow &table : tables) {
            if (++read > 64)
                break;
            try {
                const auto fields = database.fields(table.name, {});
                if (verbose())
                    std::fprintf(stderr, "  %s: %zu fields, %lld rows\n", table.name.c_str(), fields.fields.size(),
                                 static_cast<long long>(fields.recordCount));
                EngineProtocol::DescriptionResult own;
                database.columnDescriptions(table.name, own);
                if (!fields.fields.empty())
                    database.description(table.name, fields.fields.front().name);
            } catch (const Engine::EngineFailure &failure) {
                // A table that cannot be read (a link, a query, a damaged definition).
                if (verbose())
                    std::fprintf(stderr, "  %s: %s\n", table.name.c_str(), failure.what());
            }
        }
        if (verbose())
            std::fprintf(stderr, "%zu tables\n", tables.size());
    });
}

} // namespace Fuzz
