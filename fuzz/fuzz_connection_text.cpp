// The connection text as the engine reads it: any text ends in a target or a Failure.

#include "core/Failure.h"
#include "core/db/ConnectionText.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const Ado::ConnectionTarget target = Ado::ParseConnectionText(text);
        // Whatever was read must have come from the text itself.
        if (!text.contains(target.dataSource) || !text.contains(target.password) || !text.contains(target.provider))
            __builtin_trap();
    } catch (const Failure &) {
    }
    return 0;
}
