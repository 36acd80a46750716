// Catalogue rows, decoded in-process: the rows of MSysObjects (names, types, flags, table pages,
// property blocks kept in the row or on other pages) as libmdb cracks them and the worker takes
// them over, then everything the worker reads from what they point at (FuzzDatabase.h).
//
// Input: one catalogue data page. It replaces the catalogue's data page in a template database
// (tests/data/empty.mdb), whose catalogue definition names that page.

#include "fuzz/FuzzDatabase.h"

#include "engine/Bytes.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#ifndef STRUDEX_FUZZ_TEMPLATE
#error "STRUDEX_FUZZ_TEMPLATE names the template database"
#endif

namespace {

constexpr std::size_t kPageSize = 4096;
constexpr std::uint32_t kCatalogueDefinitionPage = 2;

struct Template
{
    std::vector<std::uint8_t> image;
    std::size_t cataloguePage = 0;
};

const Template &loadTemplate()
{
    static const Template loaded = [] {
        Template result;
        std::ifstream in(STRUDEX_FUZZ_TEMPLATE, std::ios::binary);
        result.image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        for (std::size_t page = 1; (page + 1) * kPageSize <= result.image.size(); ++page) {
            const auto bytes = std::span(result.image).subspan(page * kPageSize, kPageSize);
            if (bytes[0] == Engine::kDataPageType && Engine::Raw::u32(bytes, 4) == kCatalogueDefinitionPage) {
                result.cataloguePage = page;
                break;
            }
        }
        if (result.cataloguePage == 0) {
            std::fprintf(stderr, "no catalogue data page in %s\n", STRUDEX_FUZZ_TEMPLATE);
            std::abort();
        }
        return result;
    }();
    return loaded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const Template &base = loadTemplate();
    std::vector<std::uint8_t> image = base.image;
    auto page = std::span(image).subspan(base.cataloguePage * kPageSize, kPageSize);
    std::fill(page.begin(), page.end(), 0);
    std::copy(data, data + std::min(size, kPageSize), page.begin());
    Fuzz::readWholeDatabase(image);
    return 0;
}
