// Property blocks ("KKD" / "MR2"), read in-process: the check that decides whether a block is safe
// and the reading of the wanted properties, on any bytes. Neither may read outside the block, and
// the reading must give one value slot per wanted property. Every property of every list is read
// too, and each value turned into text, and the block read as a table's data macros.

#include "engine/PropertyBlock.h"

#include "fuzz/FuzzSupport.h"

#include <array>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A copy of exactly the input's size, so that a read past the end is caught.
    const std::vector<std::uint8_t> block(data, data + size);
    Engine::propertyBlockIsSafe(block);
    static constexpr std::array<std::string_view, 4> wanted = {"Description", "ResultType", "Format", "Caption"};
    const auto named = Engine::readNamedProperties(block, wanted, Fuzz::decodeName);
    for (const Engine::NamedProperties &properties : named) {
        if (properties.values.size() != wanted.size())
            __builtin_trap();
        for (const auto &value : properties.values)
            if (value && value->bytes.size() > size)
                __builtin_trap();
    }
    std::string problem;
    for (const auto &[event, value] : Engine::readDataMacros(block, Fuzz::decodeName, problem))
        if (value.bytes.size() > size)
            __builtin_trap();
    for (const Engine::PropertyList &list : Engine::readAllProperties(block, Fuzz::decodeName))
        for (const auto &[name, value] : list.values) {
            if (value.bytes.size() > size)
                __builtin_trap();
            Engine::propertyText(value, Fuzz::decodeName);
        }
    return 0;
}
