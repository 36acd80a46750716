#include "support/DefinitionFormats.h"

namespace TestSupport {

AccessFormat accessFormat(int version)
{
    switch (version) {
    case 0:
        return AccessFormat::Jet3;
    case 1:
        return AccessFormat::Jet4;
    default:
        return AccessFormat::Ace;
    }
}

DefinitionFormat definitionFormat(AccessFormat format)
{
    DefinitionFormat f;
    if (format == AccessFormat::Jet3) {
        f.jet3 = true;
        f.pageSize = 2048;
        f.rowCountOffset = 0x08;
        f.numColumnsOffset = 25;
        f.numRealIndexesOffset = 31;
        f.usageMapOffset = 35;
        f.freeMapOffset = 39;
        f.columnsStartOffset = 43;
        f.realIndexEntrySize = 8;
        f.columnEntrySize = 18;
        f.columnNumberOffset = 1;
        f.columnSizeOffset = 16;
        f.columnFlagsOffset = 13;
        f.variableIndexOffset = 3;
        return f;
    }
    // Jet 4 and every ACE version.
    f.pageSize = 4096;
    f.rowCountOffset = 0x0C;
    f.numColumnsOffset = 45;
    f.numRealIndexesOffset = 51;
    f.usageMapOffset = 55;
    f.freeMapOffset = 59;
    f.columnsStartOffset = 63;
    f.realIndexEntrySize = 12;
    f.columnEntrySize = 25;
    f.columnNumberOffset = 5;
    f.columnSizeOffset = 23;
    f.columnFlagsOffset = 15;
    f.variableIndexOffset = 7;
    return f;
}

} // namespace TestSupport
