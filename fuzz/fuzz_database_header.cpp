// The first page of a database and its stored password, read before libmdb sees the file: any
// bytes give a verdict, never a read outside them.

#include "engine/DatabaseHeader.h"
#include "engine/PropertyBlock.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    // The claimed file size may be anything, larger or smaller than what is at hand.
    const std::uint64_t claimed =
        size >= 8 ? (std::uint64_t(data[size - 1]) << 16 | data[size - 2]) * 512 + size : size;
    const Engine::DatabaseHeader header = Engine::readDatabaseHeader(bytes, claimed);
    if (header.valid()) {
        Engine::passwordAccepted(header, std::string_view());
        Engine::passwordAccepted(header, header.password);
        if (!header.password.empty() && !Engine::passwordAccepted(header, header.password))
            __builtin_trap();
    }
    std::vector<std::uint8_t> page(data, data + size);
    Engine::applyHeaderMask(page, size > 0 ? data[0] % 8 : 0);
    Engine::propertyBlockIsSafe(bytes);
    return 0;
}
