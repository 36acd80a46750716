// Long values (memo and OLE, and the property blocks stored as them), read in-process: a chain of
// pages that loops, points outside the file or at rows that are not there ends with an error or
// with what could be read, never a read outside a page, and never more than the limit.
//
// Input: a format byte (FuzzSupport.h), the 12-byte long-value header, a byte giving the length of
// the value kept in the row, those bytes, then pages 1, 2, ... of an image.

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    constexpr std::size_t kHeader = 12;
    if (size < 2 + kHeader)
        return 0;
    const Engine::DefinitionLayout layout = Fuzz::definitionLayout(data[0] & 1);
    const std::vector<std::uint8_t> header(data + 1, data + 1 + kHeader);
    std::size_t at = 1 + kHeader;
    const std::size_t inlineLength = std::min<std::size_t>(data[at], size - at - 1);
    ++at;
    const std::vector<std::uint8_t> inlineValue(data + at, data + at + inlineLength);
    at += inlineLength;
    Fuzz::Image image(std::span(data + at, size - at), layout.page.pageSize);

    constexpr std::size_t kLimit = 1u << 16;
    const auto value = Engine::readLongValue(header, inlineValue, image.reader(), layout.page, kLimit);
    if (value && value->size() > kLimit)
        __builtin_trap();
    // A header cut short reads as nothing.
    const auto shortValue = Engine::readLongValue(std::span(header).first(data[0] % kHeader), inlineValue,
                                                  image.reader(), layout.page, kLimit);
    if (data[0] % kHeader < 8 && (!shortValue || !shortValue->empty()))
        __builtin_trap();
    return 0;
}
