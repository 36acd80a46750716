// The program's reading of the structure the worker sends (the records of a Structure answer's
// parts), on any bytes: a record is read whole or refused, without reading past the bytes or
// allocating what a count claims.

#include "protocol/StructureProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A copy of exactly the input's size, so that a read past the end is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    EngineProtocol::Reader part(bytes);
    const auto records = EngineProtocol::decodeStructurePart(part);
    if (records && records->size() > size)
        __builtin_trap();
    EngineProtocol::Reader single(bytes);
    while (single.ok() && !single.atEnd())
        if (!EngineProtocol::readStructureRecord(single))
            break;
    // A record read back is written the same way.
    if (records) {
        EngineProtocol::Writer again;
        for (const auto &record : *records)
            EngineProtocol::appendStructureRecord(again, record);
        if (again.bytes().size() + 4 != bytes.size())
            __builtin_trap();
    }
    return 0;
}
