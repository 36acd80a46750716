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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::withDatabase(std::span(data, size), [](Engine::MdbDatabase &database) {
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
        if (Fuzz::verbose())
            std::fprintf(stderr, "%zu records\n", records);
    });
    return 0;
}
