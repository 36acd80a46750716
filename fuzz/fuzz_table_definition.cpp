// A table's definition pages, read in-process: whatever the pages say (column counts, descriptor
// and name lengths, continuation pages that loop or leave the file, usage and free-space maps
// pointing anywhere), the reader ends with a definition or a refusal, never a read outside a page.
// What it accepts is then used as the worker uses it: the ADO types and Access's own types, the
// indexes after the column names, and the rows counted through the usage map.
//
// Input: a format byte (FuzzSupport.h), then pages 1, 2, ... of an image; the definition starts on
// page 1.

#include "fuzz/FuzzSupport.h"

#include "engine/AccessTypes.h"
#include "engine/AdoTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const Engine::DefinitionLayout layout = Fuzz::definitionLayout(data[0] & 1);
    Fuzz::Image image(std::span(data + 1, size - 1), layout.page.pageSize);
    const auto definition = Engine::readTableDefinition(image.reader(), layout, 1, Fuzz::decodeName, true);
    if (!definition)
        return 0;
    // What the reader promises to the worker.
    if (definition->columns.size() > 256 || definition->usageMap.empty())
        __builtin_trap();
    for (const Engine::DefinedColumn &column : definition->columns) {
        if (column.name.size() >= layout.nameBufferSize)
            __builtin_trap();
        Engine::adoFieldFor(column.stored);
        Engine::accessFieldType({column.stored, column.flags, column.precision, column.scale, std::nullopt});
    }
    // Ten fields at most in a key; names no longer than libmdb's buffer.
    for (const Engine::IndexDefinition &index : definition->indexes.indexes)
        if (index.columns.size() > 10 || index.name.size() >= layout.nameBufferSize)
            __builtin_trap();
    std::uint64_t visited = 0;
    const std::int64_t rows =
        Engine::countLiveRows(definition->usageMap, 1, image.reader(), layout.page, [&] { ++visited; });
    // Each page visited at most once, each with at most as many rows as its entry table can list.
    const std::uint64_t pages = image.reader().pageCount();
    if (rows < 0 || visited > pages || std::uint64_t(rows) > visited * (layout.page.pageSize / 2))
        __builtin_trap();
    return 0;
}
