// The whole structure of a database image, read in-process as the worker reads it for the full
// documents: the catalogue through libmdb, every local table with its fields, properties and
// indexes, then the rows of MSysRelationships, MSysQueries and MSysComplexColumns and the linked
// tables' Connect and Database values. Any bytes end in records (with notes for what could not be
// read) or in EngineFailure. Every record the worker would send is one the program reads back.
//
// Input: a database image, as for whole_image.

#include "fuzz/FuzzDatabase.h"

#include "protocol/StructureProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <new>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string password;
    const std::string path = Fuzz::imagePath(std::span(data, size), password);
    // STRUDEX_FUZZ_VERBOSE=1 tells what became of each input (to check that seeds get far).
    static const bool verbose = std::getenv("STRUDEX_FUZZ_VERBOSE") != nullptr;
    Engine::MdbDatabase database;
    try {
        database.open(path, password);
        std::size_t records = 0;
        database.structure(
            {},
            [&](EngineProtocol::StructureRecord &&record) {
                ++records;
                EngineProtocol::Writer out;
                EngineProtocol::appendStructureRecord(out, record);
                EngineProtocol::Reader in(out.bytes());
                if (!EngineProtocol::readStructureRecord(in) || !in.atEnd())
                    __builtin_trap();
            },
            [] {});
        // The database's own record comes first, whatever follows.
        if (records == 0)
            __builtin_trap();
        if (verbose)
            std::fprintf(stderr, "%zu records\n", records);
    } catch (const Engine::EngineFailure &failure) {
        if (verbose)
            std::fprintf(stderr, "refused: %s\n", failure.what());
    } catch (const std::bad_alloc &) {
    }
    return 0;
}
