#include "engine/VbaProject.h"

#include "engine/StoredText.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace Engine::Vba {

namespace {

std::uint16_t u16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t u32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

constexpr std::size_t kChunkBytes = 4096;

// Decompresses one compressed chunk's tokens, data[from, end), onto `out`. False with the reason
// when a token reaches outside the chunk.
bool decompressTokens(std::span<const std::uint8_t> data, std::size_t from, std::size_t end,
                      std::vector<std::uint8_t> &out, std::string &problem)
{
    // The chunk is made in a buffer of its own size, then added to the output at once.
    // (With room for a copy's last eight bytes to run past the end.)
    std::array<std::uint8_t, kChunkBytes + 8> chunk;
    std::size_t done = 0;
    std::size_t at = from;
    while (at < end) {
        const std::uint8_t flags = data[at++];
        if (flags == 0 && end - at >= 8 && done + 8 <= kChunkBytes) {
            // Eight literal bytes, as plain text mostly is.
            std::memcpy(chunk.data() + done, data.data() + at, 8);
            done += 8;
            at += 8;
            continue;
        }
        for (int bit = 0; bit < 8 && at < end; ++bit) {
            if (done >= kChunkBytes) {
                problem = "a compressed chunk holds more than 4096 bytes";
                return false;
            }
            if (!(flags & (1 << bit))) {
                chunk[done++] = data[at++];
                continue;
            }
            if (end - at < 2) {
                problem = "a copy token is cut short";
                return false;
            }
            const std::uint16_t token = u16(data, at);
            at += 2;
            // How many bits say where to copy from depends on how far into the chunk it is: enough
            // to count back to its start, at least 4.
            const unsigned bitCount = std::max(4u, unsigned(std::bit_width(done - (done > 0 ? 1 : 0))));
            const std::uint16_t lengthMask = static_cast<std::uint16_t>(0xFFFF >> bitCount);
            const std::size_t length = std::size_t(token & lengthMask) + 3;
            const std::size_t offset = std::size_t(token >> (16 - bitCount)) + 1;
            if (offset > done) {
                problem = "a copy token reaches before the start of its chunk";
                return false;
            }
            if (done + length > kChunkBytes) {
                problem = "a compressed chunk holds more than 4096 bytes";
                return false;
            }
            std::uint8_t *to = chunk.data() + done;
            const std::uint8_t *from = to - offset;
            if (offset >= 8) {
                // Eight bytes at a time: each eight are made before they are copied again.
                for (std::size_t k = 0; k < length; k += 8)
                    std::memcpy(to + k, from + k, 8);
            } else {
                // Byte by byte: the copy repeats what it makes.
                for (std::size_t k = 0; k < length; ++k)
                    to[k] = from[k];
            }
            done += length;
        }
    }
    out.insert(out.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(done));
    return true;
}

} // namespace

std::optional<std::vector<std::uint8_t>> decompress(std::span<const std::uint8_t> container, std::string &problem,
                                                    std::size_t limit)
{
    if (container.empty() || container[0] != 0x01) {
        problem = "the stream does not start a compressed container";
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    std::size_t at = 1;
    while (at < container.size()) {
        if (container.size() - at < 2) {
            problem = "a chunk header is cut short";
            return std::nullopt;
        }
        const std::uint16_t header = u16(container, at);
        if (((header >> 12) & 0x7) != 0x3) {
            problem = "a chunk header has the wrong signature";
            return std::nullopt;
        }
        const std::size_t chunkEnd = std::min(container.size(), at + std::size_t(header & 0x0FFF) + 3);
        const std::size_t data = at + 2;
        if (header & 0x8000) {
            if (!decompressTokens(container, data, chunkEnd, out, problem))
                return std::nullopt;
        } else {
            // A chunk stored as it is: always a whole 4096 bytes.
            if (container.size() - data < kChunkBytes) {
                problem = "an uncompressed chunk is cut short";
                return std::nullopt;
            }
            out.insert(out.end(), container.begin() + std::ptrdiff_t(data),
                       container.begin() + std::ptrdiff_t(data + kChunkBytes));
        }
        if (out.size() > limit) {
            problem = "the stream would expand beyond " + std::to_string(limit >> 20) + " MB";
            return std::nullopt;
        }
        at = (header & 0x8000) ? chunkEnd : data + kChunkBytes;
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> decompressText(std::span<const std::uint8_t> bytes, std::size_t limit)
{
    if (bytes.empty() || bytes[0] != 0x01)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    std::size_t at = 1;
    while (bytes.size() - at >= 3 && out.size() <= limit) {
        const std::uint16_t header = u16(bytes, at);
        // Only compressed chunks: a stored one cannot be told from the data after the container.
        if (((header >> 12) & 0x7) != 0x3 || !(header & 0x8000))
            break;
        const std::size_t chunkEnd = at + std::size_t(header & 0x0FFF) + 3;
        if (chunkEnd > bytes.size())
            break;
        std::vector<std::uint8_t> chunk;
        std::string problem;
        if (!decompressTokens(bytes, at + 2, chunkEnd, chunk, problem) ||
            std::find(chunk.begin(), chunk.end(), std::uint8_t(0)) != chunk.end())
            break;
        out.insert(out.end(), chunk.begin(), chunk.end());
        at = chunkEnd;
    }
    if (out.empty() || out.size() > limit)
        return std::nullopt;
    return out;
}

namespace {

std::string text(std::span<const std::uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// A name in its UTF-16 form, as UTF-8.
std::string utf16(std::span<const std::uint8_t> bytes)
{
    return utf16leToUtf8(bytes, bytes.size() * 2 + 1);
}

// A counted string inside a record: a u32 length, then that many bytes. Empty when it runs out.
std::string countedText(std::span<const std::uint8_t> data, std::size_t &at)
{
    if (data.size() - std::min(at, data.size()) < 4)
        return {};
    const std::uint32_t size = u32(data, at);
    at += 4;
    if (size > data.size() - at)
        return {};
    std::string out = text(data.subspan(at, size));
    at += size;
    return out;
}

namespace Id {
constexpr std::uint16_t CodePage = 0x0003;
constexpr std::uint16_t ProjectName = 0x0004;
constexpr std::uint16_t Version = 0x0009;
constexpr std::uint16_t ReferenceRegistered = 0x000D;
constexpr std::uint16_t ReferenceProject = 0x000E;
constexpr std::uint16_t DirEnd = 0x0010;
constexpr std::uint16_t ReferenceName = 0x0016;
constexpr std::uint16_t ModuleName = 0x0019;
constexpr std::uint16_t ModuleStreamName = 0x001A;
constexpr std::uint16_t ModuleProcedural = 0x0021;
constexpr std::uint16_t ModuleClass = 0x0022;
constexpr std::uint16_t ReferenceControl = 0x002F;
constexpr std::uint16_t ReferenceControlExtended = 0x0030;
constexpr std::uint16_t ModuleOffset = 0x0031;
constexpr std::uint16_t ModuleStreamNameUnicode = 0x0032;
constexpr std::uint16_t ReferenceOriginal = 0x0033;
constexpr std::uint16_t ReferenceNameUnicode = 0x003E;
constexpr std::uint16_t ModuleNameUnicode = 0x0047;
} // namespace Id

// What the records of one reference or one module say, in the order they come.
class DirectoryReader
{
public:
    void take(std::uint16_t id, std::span<const std::uint8_t> data)
    {
        switch (id) {
        case Id::CodePage:
            if (data.size() >= 2)
                m_directory.codePage = u16(data, 0);
            break;
        case Id::ProjectName:
            m_directory.projectName = text(data);
            break;
        case Id::ReferenceName:
        case Id::ReferenceNameUnicode:
            takeReferenceName(id, data);
            break;
        case Id::ReferenceRegistered:
        case Id::ReferenceProject:
        case Id::ReferenceOriginal:
        case Id::ReferenceControl:
        case Id::ReferenceControlExtended:
            takeReference(id, data);
            break;
        case Id::ModuleName:
            m_directory.modules.push_back(Module{text(data), {}, {}, {}, 0, ModuleKind::Standard});
            break;
        default:
            takeModuleRecord(id, data);
        }
    }

    Directory finish() { return std::move(m_directory); }

private:
    void takeReferenceName(std::uint16_t id, std::span<const std::uint8_t> data)
    {
        // A name between a control reference's two parts is that reference's own, extended one.
        if (m_inControl)
            return;
        if (id == Id::ReferenceName) {
            m_directory.references.push_back(Reference{text(data), {}, {}, false});
            m_named = true;
        } else if (!m_directory.references.empty()) {
            m_directory.references.back().unicodeName = utf16(data);
        }
    }

    Reference &current()
    {
        // A reference without a name record of its own.
        if (!m_named || m_directory.references.empty())
            m_directory.references.push_back(Reference{});
        m_named = false;
        return m_directory.references.back();
    }

    void takeReference(std::uint16_t id, std::span<const std::uint8_t> data)
    {
        std::size_t at = 0;
        switch (id) {
        case Id::ReferenceRegistered:
            current().libid = countedText(data, at);
            break;
        case Id::ReferenceProject: {
            Reference &reference = current();
            reference.libid = countedText(data, at);
            reference.project = true;
            break;
        }
        case Id::ReferenceOriginal:
            // The library a control reference was made from; its control part follows.
            current().libid = text(data);
            m_original = true;
            break;
        case Id::ReferenceControl:
            if (!m_original)
                current().libid = countedText(data, at);
            m_original = false;
            m_inControl = true;
            break;
        case Id::ReferenceControlExtended:
            m_inControl = false;
            break;
        }
    }

    void takeModuleRecord(std::uint16_t id, std::span<const std::uint8_t> data)
    {
        if (m_directory.modules.empty())
            return;
        Module &module = m_directory.modules.back();
        switch (id) {
        case Id::ModuleNameUnicode:
            module.unicodeName = utf16(data);
            break;
        case Id::ModuleStreamName:
            module.streamName = text(data);
            break;
        case Id::ModuleStreamNameUnicode:
            module.unicodeStreamName = utf16(data);
            break;
        case Id::ModuleOffset:
            if (data.size() >= 4)
                module.sourceOffset = u32(data, 0);
            break;
        case Id::ModuleProcedural:
            module.kind = ModuleKind::Standard;
            break;
        case Id::ModuleClass:
            module.kind = ModuleKind::Class;
            break;
        default:
            break;
        }
    }

    Directory m_directory;
    bool m_named = false;
    bool m_original = false;
    bool m_inControl = false;
};

} // namespace

std::optional<Directory> readDirectory(std::span<const std::uint8_t> dir, std::string &problem)
{
    DirectoryReader reader;
    std::size_t at = 0;
    bool ended = false;
    while (!ended && dir.size() - at >= 6) {
        const std::uint16_t id = u16(dir, at);
        std::size_t size = u32(dir, at + 2);
        at += 6;
        // The version record says 4 bytes and holds 6.
        if (id == Id::Version)
            size = 6;
        if (size > dir.size() - at) {
            problem = "the project's directory is cut short";
            return std::nullopt;
        }
        reader.take(id, dir.subspan(at, size));
        at += size;
        ended = id == Id::DirEnd;
    }
    Directory directory = reader.finish();
    if (!ended && directory.modules.empty()) {
        problem = "the project's directory names no modules";
        return std::nullopt;
    }
    for (const Module &module : directory.modules) {
        if (module.streamName.empty() && module.unicodeStreamName.empty()) {
            problem = "the project's directory names a module without its stream";
            return std::nullopt;
        }
    }
    return directory;
}

} // namespace Engine::Vba
