// A whole database image through the worker's reading path, in-process (FuzzDatabase.h): any bytes
// end in a report's worth of answers or in EngineFailure. Where libmdb is on the path, its crashes
// count too; the worker's checks before libmdb are what must keep them away.

#include "fuzz/FuzzDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::readWholeDatabase(std::span(data, size));
    return 0;
}
