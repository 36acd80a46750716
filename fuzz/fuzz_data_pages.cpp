// Counting rows on data pages, in-process: entry tables longer than the page, offsets outside it,
// deleted and overflow flags, rows that end before they start. Each page is counted on its own
// (in a buffer of exactly its size) and then through a usage map naming every page; both counts
// must agree, and no row found on a page may lie outside it.
//
// Input: a format byte (FuzzSupport.h), then pages 1, 2, ... of an image; the table is the one that
// owns page 1.

#include "fuzz/FuzzSupport.h"

#include "engine/Bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const Engine::DefinitionLayout layout = Fuzz::definitionLayout(data[0] & 1);
    const std::size_t pageSize = layout.page.pageSize;
    const std::span<const std::uint8_t> pages(data + 1, size - 1);
    const std::size_t count = (pages.size() + pageSize - 1) / pageSize;

    std::uint32_t table = 0;
    std::int64_t expected = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // A page of exactly its size, a short last one padded with zeros as the page reader does.
        const auto bytes = pages.subspan(i * pageSize, std::min(pageSize, pages.size() - i * pageSize));
        std::vector<std::uint8_t> page(bytes.begin(), bytes.end());
        page.resize(pageSize, 0);
        page.shrink_to_fit();
        if (i == 0)
            table = Engine::Raw::u32(page, 4);
        const std::size_t live = Engine::liveRowsOnPage(page, layout.page);
        const std::size_t listed = Engine::Raw::u16(page, layout.page.rowCountOffset);
        if (live > listed || live > pageSize / 2)
            __builtin_trap();
        if (page[0] == Engine::kDataPageType && Engine::Raw::u32(page, 4) == table)
            expected += static_cast<std::int64_t>(live);
        for (unsigned int row = 0; row < 300; ++row) {
            const auto found = Engine::rowOnPage(page, layout.page, row);
            if (found && (found->data() < page.data() || found->data() + found->size() > page.data() + page.size()))
                __builtin_trap();
        }
    }

    // A usage map naming pages 1 to count (and a few beyond the end).
    std::vector<std::uint8_t> map = {0, 0, 0, 0, 0};
    map.resize(5 + (count + 1 + 8) / 8 + 1, 0);
    for (std::size_t page = 1; page <= count + 8; ++page)
        map[5 + page / 8] |= static_cast<std::uint8_t>(1u << (page % 8));
    Fuzz::Image image(pages, pageSize);
    const std::int64_t rows = Engine::countLiveRows(map, table, image.reader(), layout.page, {});
    if (rows != expected)
        __builtin_trap();
    return 0;
}
