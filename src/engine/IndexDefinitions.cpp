#include "engine/IndexDefinitions.h"

#include "engine/Bytes.h"

namespace Engine {

namespace {

using Raw::u16;
using Raw::u32;

// Access allows 32 indexes a table; a count far beyond that is damage, not a table.
constexpr std::uint32_t kMaxIndexes = 1000;
constexpr std::size_t kColumnSlots = 10;
constexpr unsigned int kEmptySlot = 0xFFFF;

// Flags of a physical index.
constexpr std::uint8_t kUnique = 0x01;
constexpr std::uint8_t kIgnoreNulls = 0x02;
constexpr std::uint8_t kRequired = 0x08;
// Kinds of a logical index.
constexpr std::uint8_t kPrimaryKey = 1;
constexpr std::uint8_t kForeignKey = 2;

struct Physical
{
    std::vector<IndexColumn> columns;
    std::uint8_t flags = 0;
};

struct Logical
{
    std::uint32_t physical = 0;
    std::uint8_t kind = 0;
};

} // namespace

IndexBlock readIndexDefinitions(std::span<const std::uint8_t> definition, bool jet3, std::size_t start,
                                std::uint32_t physicalCount, std::uint32_t logicalCount, const TextDecoder &decodeName,
                                std::size_t nameBufferSize)
{
    IndexBlock block;
    if (physicalCount > kMaxIndexes || logicalCount > kMaxIndexes) {
        block.problem = "the table definition gives an impossible number of indexes";
        return block;
    }
    const std::size_t physicalSize = jet3 ? 39 : 52;
    const std::size_t logicalSize = jet3 ? 20 : 28;
    const std::size_t slotsAt = jet3 ? 0 : 4;
    const std::size_t flagsAt = jet3 ? 38 : 46;
    const std::size_t shift = jet3 ? 0 : 4; // Jet 4 puts four unknown bytes before each logical entry

    const auto has = [&](std::size_t pos, std::size_t size) {
        return pos <= definition.size() && size <= definition.size() - pos;
    };
    std::size_t pos = start;
    std::vector<Physical> physical(physicalCount);
    for (Physical &entry : physical) {
        if (!has(pos, physicalSize)) {
            block.problem = "the index entries run past the end of the table definition";
            return block;
        }
        const auto bytes = definition.subspan(pos, physicalSize);
        for (std::size_t slot = 0; slot < kColumnSlots; ++slot) {
            const unsigned int number = u16(bytes, slotsAt + 3 * slot);
            if (number == kEmptySlot)
                continue;
            // Bit 0x01 of the order byte means ascending.
            entry.columns.push_back({number, (bytes[slotsAt + 3 * slot + 2] & 0x01) == 0});
        }
        entry.flags = bytes[flagsAt];
        pos += physicalSize;
    }
    std::vector<Logical> logical(logicalCount);
    for (Logical &entry : logical) {
        if (!has(pos, logicalSize)) {
            block.problem = "the index entries run past the end of the table definition";
            return block;
        }
        const auto bytes = definition.subspan(pos, logicalSize);
        entry.physical = u32(bytes, shift + 4);
        entry.kind = bytes[shift + 19];
        pos += logicalSize;
    }
    const std::size_t lengthSize = jet3 ? 1 : 2;
    for (const Logical &entry : logical) {
        IndexDefinition index;
        if (!has(pos, lengthSize)) {
            block.problem = "the index names run past the end of the table definition";
            return block;
        }
        const std::size_t length = jet3 ? definition[pos] : u16(definition, pos);
        pos += lengthSize;
        if (!has(pos, length)) {
            block.problem = "the index names run past the end of the table definition";
            return block;
        }
        index.name = decodeName(definition.subspan(pos, length), nameBufferSize);
        pos += length;
        index.primary = entry.kind == kPrimaryKey;
        index.foreignKey = entry.kind == kForeignKey;
        if (entry.physical >= physical.size()) {
            index.problem = "the index names a physical index that the table does not have";
        } else {
            const Physical &behind = physical[entry.physical];
            index.columns = behind.columns;
            // A primary key is unique and required whatever its flags say.
            index.unique = (behind.flags & kUnique) != 0 || index.primary;
            index.ignoreNulls = (behind.flags & kIgnoreNulls) != 0;
            index.required = (behind.flags & kRequired) != 0 || index.primary;
            if (index.columns.empty())
                index.problem = "the index has no fields";
        }
        block.indexes.push_back(std::move(index));
    }
    return block;
}

} // namespace Engine
