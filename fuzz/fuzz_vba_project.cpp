// A VBA project's bytes, read in-process: the input as a compressed container (strictly, and as
// text that other data may follow), as a directory, its decompression as a directory, and as an
// Access 97 module blob. Nothing may read outside its input, and no output may pass its limit.

#include "engine/AccessStorage.h"
#include "engine/VbaProject.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A copy of exactly the input's size, so that a read past the end is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    constexpr std::size_t limit = 1u << 20;
    std::string problem;
    const auto whole = Engine::Vba::decompress(bytes, problem, limit);
    if (whole && whole->size() > limit)
        __builtin_trap();
    if (const auto text = Engine::Vba::decompressText(bytes, limit); text && text->size() > limit)
        __builtin_trap();
    Engine::Vba::readDirectory(bytes, problem);
    if (whole) {
        if (const auto directory = Engine::Vba::readDirectory(*whole, problem))
            for (const Engine::Vba::Module &module : directory->modules)
                if (module.name.size() > whole->size())
                    __builtin_trap();
    }
    Engine::blobModuleSource(bytes, "Module1", 1252);
    return 0;
}
