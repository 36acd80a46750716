#include "engine/AccessStorage.h"

#include "engine/PropertyBlock.h"
#include "engine/StoredText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace Engine {

namespace {

constexpr std::int64_t kStorage = 1;
constexpr std::int64_t kStream = 2;

// The rows by their parent, each storage's children in the order they are stored.
class StorageTree
{
public:
    explicit StorageTree(const std::vector<StorageRow> &rows)
    {
        for (const StorageRow &row : rows) {
            if (!row.id || !row.parentId || !row.name)
                continue;
            if (*row.id == *row.parentId) {
                if (*row.name == "MSysAccessStorage_ROOT" && !m_hasRoot) {
                    m_root = *row.id;
                    m_hasRoot = true;
                }
                continue;
            }
            m_children[*row.parentId].push_back(&row);
        }
    }

    // The child of that name and type: of several (a damaged tree), the first.
    const StorageRow *child(std::int64_t parent, std::string_view name, std::int64_t type) const
    {
        const auto found = m_children.find(parent);
        if (found == m_children.end())
            return nullptr;
        for (const StorageRow *row : found->second)
            if (row->type == type && *row->name == name)
                return row;
        return nullptr;
    }

    // The storage at the end of a path of storage names.
    std::optional<std::int64_t> storage(std::initializer_list<std::string_view> path) const
    {
        if (!m_hasRoot)
            return std::nullopt;
        std::int64_t at = m_root;
        for (std::string_view name : path) {
            const StorageRow *row = child(at, name, kStorage);
            if (!row)
                return std::nullopt;
            at = *row->id;
        }
        return at;
    }

private:
    std::int64_t m_root = 0;
    bool m_hasRoot = false;
    std::map<std::int64_t, std::vector<const StorageRow *>> m_children;
};

// A module's source: decompressed from where the directory says it starts.
ProjectModule readModule(const StorageTree &tree, std::int64_t vba, const Vba::Module &stored, std::uint32_t codePage)
{
    ProjectModule module;
    module.name = stored.unicodeName.empty() ? codePageToUtf8(stored.name, codePage) : stored.unicodeName;
    module.kind = stored.kind;
    const std::string streamName =
        stored.unicodeStreamName.empty() ? codePageToUtf8(stored.streamName, codePage) : stored.unicodeStreamName;
    const StorageRow *stream = tree.child(vba, streamName, kStream);
    if (!stream) {
        module.note = "its stream is not in the project";
        return module;
    }
    if (!stream->bytes) {
        module.note = "its stream could not be read";
        return module;
    }
    const std::vector<std::uint8_t> &bytes = *stream->bytes;
    if (stored.sourceOffset >= bytes.size()) {
        // A compiled-only file (.mde, .accde) keeps no source after the compiled code.
        module.note = "the file keeps only its compiled code";
        return module;
    }
    std::string problem;
    const auto source = Vba::decompress(std::span<const std::uint8_t>(bytes).subspan(stored.sourceOffset), problem);
    if (!source) {
        module.note = "its source could not be read: " + problem;
        return module;
    }
    module.source = codePageToUtf8(std::string(source->begin(), source->end()), codePage);
    return module;
}

// A compiled-only file's project: its text stream (PROJECT) still names the modules, one a line
// ("Module=", "Class=", "BaseClass=", or "DocClass=" for the code of a form or a report).
std::optional<Project> compiledProject(const StorageTree &tree, std::int64_t vbaProject, std::string &problem)
{
    const StorageRow *text = tree.child(vbaProject, "PROJECT", kStream);
    if (!text || !text->bytes) {
        problem = "the VBA project's directory could not be read";
        return std::nullopt;
    }
    Project project;
    project.compiledOnly = true;
    const std::string stream(text->bytes->begin(), text->bytes->end());
    std::size_t at = 0;
    while (at < stream.size()) {
        std::size_t end = stream.find('\n', at);
        if (end == std::string::npos)
            end = stream.size();
        std::string line = stream.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        std::string value = codePageToUtf8(line.substr(equals + 1), 1252);
        if (key == "Name" && value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            project.name = value.substr(1, value.size() - 2);
            continue;
        }
        const bool standard = key == "Module";
        if (!standard && key != "Class" && key != "BaseClass" && key != "DocClass")
            continue;
        if (key == "DocClass")
            value = value.substr(0, value.find('/'));
        project.modules.push_back(ProjectModule{value, standard ? Vba::ModuleKind::Standard : Vba::ModuleKind::Class,
                                                std::nullopt, "the file keeps only its compiled code"});
    }
    return project;
}

} // namespace

std::optional<Project> readStorageProject(const std::vector<StorageRow> &rows, std::string &problem)
{
    const StorageTree tree(rows);
    const auto vbaProject = tree.storage({"VBA", "VBAProject"});
    const auto vba = tree.storage({"VBA", "VBAProject", "VBA"});
    if (!vbaProject || !vba) {
        problem = "the database has no VBA project";
        return std::nullopt;
    }
    const StorageRow *dirStream = tree.child(*vba, "dir", kStream);
    if (!dirStream)
        return compiledProject(tree, *vbaProject, problem);
    if (!dirStream->bytes) {
        problem = "the VBA project's directory could not be read";
        return std::nullopt;
    }
    const auto dirBytes = Vba::decompress(*dirStream->bytes, problem);
    if (!dirBytes)
        return std::nullopt;
    const auto directory = Vba::readDirectory(*dirBytes, problem);
    if (!directory)
        return std::nullopt;
    Project project;
    // Empty projects made by Access say code page 0; their names are ASCII.
    project.codePage = directory->codePage;
    const std::uint32_t codePage = directory->codePage ? directory->codePage : 1252;
    project.name = codePageToUtf8(directory->projectName, codePage);
    for (const Vba::Reference &reference : directory->references)
        project.references.push_back(ProjectReference{
            reference.unicodeName.empty() ? codePageToUtf8(reference.name, codePage) : reference.unicodeName,
            codePageToUtf8(reference.libid, codePage), reference.project});
    for (const Vba::Module &module : directory->modules)
        project.modules.push_back(readModule(tree, *vba, module, codePage));
    return project;
}

namespace {

// A container's directory (its "\x03DirData" stream): a u32, then per object a byte 04, the
// size of what follows, the name in UTF-16 and the u32 number of the object's storage.
std::optional<std::vector<std::pair<std::string, std::uint32_t>>>
containerDirectory(const std::vector<std::uint8_t> &bytes)
{
    std::vector<std::pair<std::string, std::uint32_t>> entries;
    std::size_t at = 4;
    while (at + 2 <= bytes.size()) {
        if (bytes[at] != 0x04)
            return std::nullopt;
        const std::size_t size = bytes[at + 1];
        at += 2;
        if (size < 4 || size > bytes.size() - at)
            return std::nullopt;
        const std::size_t nameBytes = size - 4;
        std::string name =
            utf16leToUtf8(std::span<const std::uint8_t>(bytes).subspan(at, nameBytes), nameBytes * 2 + 1);
        while (!name.empty() && name.back() == '\0')
            name.pop_back();
        const std::size_t number = at + nameBytes;
        entries.emplace_back(std::move(name), std::uint32_t(bytes[number]) | std::uint32_t(bytes[number + 1]) << 8 |
                                                  std::uint32_t(bytes[number + 2]) << 16 |
                                                  std::uint32_t(bytes[number + 3]) << 24);
        at += size;
    }
    return entries;
}

// The XML definition in a macro's Blob: Access keeps it in pieces, each UTF-16 text after an
// "_AXL:" mark, to its end or its first NUL; the pieces joined make the document.
std::optional<std::string> macroDefinition(const std::vector<std::uint8_t> &blob)
{
    static const std::u16string_view marker = u"_AXL:";
    std::string definition;
    bool found = false;
    for (std::size_t at = 0; at + marker.size() * 2 <= blob.size(); ++at) {
        bool here = true;
        for (std::size_t k = 0; k < marker.size() && here; ++k)
            here = blob[at + 2 * k] == std::uint8_t(marker[k]) && blob[at + 2 * k + 1] == 0;
        if (!here)
            continue;
        const std::size_t from = at + marker.size() * 2;
        std::size_t end = from;
        while (end + 1 < blob.size() && (blob[end] != 0 || blob[end + 1] != 0))
            end += 2;
        definition +=
            utf16leToUtf8(std::span<const std::uint8_t>(blob).subspan(from, end - from), (end - from) * 2 + 1);
        found = true;
        at = end;
    }
    if (!found)
        return std::nullopt;
    return definition;
}

} // namespace

std::optional<std::vector<StoredMacro>> readStorageMacros(const std::vector<StorageRow> &rows, std::string &problem)
{
    const StorageTree tree(rows);
    const auto scripts = tree.storage({"Scripts"});
    if (!scripts)
        return std::vector<StoredMacro>();
    const StorageRow *directory = tree.child(*scripts,
                                             "\x03"
                                             "DirData",
                                             kStream);
    // A container that never held a macro has no directory.
    if (!directory)
        return std::vector<StoredMacro>();
    const auto entries = directory->bytes ? containerDirectory(*directory->bytes) : std::nullopt;
    if (!entries) {
        problem = "the directory of the macros could not be read";
        return std::nullopt;
    }
    std::vector<StoredMacro> macros;
    for (const auto &[name, number] : *entries) {
        StoredMacro macro{name, std::nullopt, {}};
        const auto storage = tree.storage({"Scripts", std::to_string(number)});
        const StorageRow *blob = storage ? tree.child(*storage, "Blob", kStream) : nullptr;
        if (!blob || !blob->bytes)
            macro.note = "its definition could not be read";
        else if (!(macro.definition = macroDefinition(*blob->bytes)))
            macro.note = "a macro of an earlier Access, kept in a binary form that is not read";
        macros.push_back(std::move(macro));
    }
    return macros;
}

std::optional<std::string> blobModuleSource(std::span<const std::uint8_t> blob, const std::string &name,
                                            std::uint32_t codePage)
{
    const std::string first = "Attribute VB_Name = \"" + name + "\"";
    for (std::size_t at = 0; at + 3 <= blob.size(); ++at) {
        // A container's signature byte and a compressed chunk's header.
        if (blob[at] != 0x01 || (blob[at + 2] & 0xF0) != 0xB0)
            continue;
        const auto text = Vba::decompressText(blob.subspan(at));
        if (!text)
            continue;
        std::string source = codePageToUtf8(std::string(text->begin(), text->end()), codePage);
        if (source.starts_with(first))
            return source;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> joinObjectChunks(const std::vector<ObjectChunk> &chunks, std::size_t chunkSize,
                                                          std::size_t maxBytes, std::string &problem)
{
    const auto header =
        std::find_if(chunks.begin(), chunks.end(), [](const ObjectChunk &chunk) { return chunk.id == 0; });
    if (header == chunks.end() || header->data.size() < 8) {
        problem = "the application's compound file has no header";
        return std::nullopt;
    }
    const std::size_t length = std::size_t(header->data[4]) | std::size_t(header->data[5]) << 8 |
                               std::size_t(header->data[6]) << 16 | std::size_t(header->data[7]) << 24;
    if (length > maxBytes || chunkSize == 0) {
        problem = "the application's compound file is larger than any Access makes";
        return std::nullopt;
    }
    std::vector<std::uint8_t> file(length, 0);
    for (const ObjectChunk &chunk : chunks) {
        if (chunk.id < 1 || std::size_t(chunk.id - 1) >= (length + chunkSize - 1) / chunkSize)
            continue;
        const std::size_t from = std::size_t(chunk.id - 1) * chunkSize;
        const std::size_t size = std::min({chunk.data.size(), chunkSize, length - from});
        std::copy_n(chunk.data.begin(), size, file.begin() + std::ptrdiff_t(from));
    }
    return file;
}

std::optional<std::string> accessDateText(std::span<const std::uint8_t> stored)
{
    if (stored.size() != 8)
        return std::nullopt;
    double value = 0;
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | stored[std::size_t(i)];
    std::memcpy(&value, &bits, sizeof value);
    // 0001-01-01 and 9999-12-31 lie at these; anything beyond is no date (nor a NaN).
    if (!(value > -657434.0 && value < 2958466.0))
        return std::nullopt;
    // The property blocks' own reading, with the date and the time joined as ISO 8601 does; a
    // time that rounds up to the next midnight can still pass the last year.
    std::string text = dateTimeText(value);
    if (text.size() != 19)
        return std::nullopt;
    text[10] = 'T';
    return text;
}

std::string codePageToUtf8(const std::string &bytes, std::uint32_t codePage)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return bytes;
#ifdef _WIN32
    const int units = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(std::size_t(std::max(units, 0)), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), wide.data(), units);
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), size, nullptr, nullptr);
    return out;
#else
    const std::string name = codePage == 65001 ? std::string("UTF-8") : "CP" + std::to_string(codePage);
    iconv_t convert = iconv_open("UTF-8", name.c_str());
    if (convert == iconv_t(-1))
        convert = iconv_open("UTF-8", "CP1252");
    if (convert == iconv_t(-1)) {
        std::string out;
        for (char c : bytes)
            out += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : std::string("\xEF\xBF\xBD");
        return out;
    }
    std::string out;
    out.reserve(bytes.size() * 2);
    char *in = const_cast<char *>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[4096];
    while (inLeft > 0) {
        char *to = buffer;
        std::size_t toLeft = sizeof buffer;
        const std::size_t done = iconv(convert, &in, &inLeft, &to, &toLeft);
        out.append(buffer, std::size_t(to - buffer));
        if (done == std::size_t(-1) && errno != E2BIG) {
            // A byte the code page does not have.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
        }
    }
    iconv_close(convert);
    return out;
#endif
}

} // namespace Engine
