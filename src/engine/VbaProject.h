#pragma once

// What a VBA project's streams say, from their bytes alone: the compressed containers that hold
// the `dir` stream and each module's source, and the `dir` stream's records (the project's name,
// code page and references, and each module's name, stream and kind).
//
// Every byte here comes from the database file: a container that does not follow the format, or
// that would expand beyond the limit given, gives a problem and no text, never a partial one.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Engine::Vba {

// The most a decompressed stream may take unless the caller says otherwise: far more than any
// module's source, far less than a container of a few kilobytes could otherwise claim.
inline constexpr std::size_t kDefaultLimit = 64u << 20;

// The bytes a compressed container holds. Nothing, with the reason in `problem`, when the
// container is not one or its bytes would pass `limit`.
std::optional<std::vector<std::uint8_t>> decompress(std::span<const std::uint8_t> container, std::string &problem,
                                                    std::size_t limit = kDefaultLimit);

// The chunks of a compressed container that starts at the start of `bytes` and may be followed by
// other data: decoded up to the first chunk that is not one, or that holds a byte no text has (a
// NUL). Nothing when not even the first chunk is one. For stores that keep a container inside
// other data without saying where it ends (Access 97's module blobs).
std::optional<std::vector<std::uint8_t>> decompressText(std::span<const std::uint8_t> bytes,
                                                        std::size_t limit = kDefaultLimit);

enum class ModuleKind {
    Standard,
    // A class module, or the code behind a form or a report: the `dir` stream does not tell them
    // apart; their names do (Form_X, Report_X).
    Class,
};

struct Module
{
    // The name in the project's code page, as stored, and in UTF-8 from its UTF-16 form when the
    // file has one.
    std::string name;
    std::string unicodeName;
    // The stream that holds the module, and where its compressed source starts in it.
    std::string streamName;
    std::string unicodeStreamName;
    std::uint32_t sourceOffset = 0;
    ModuleKind kind = ModuleKind::Standard;
};

struct Reference
{
    std::string name;
    std::string unicodeName;
    // The type library's or the project's identifier as stored ("*\G{GUID}#2.0#0#path#description"
    // for a registered library, a path for a project).
    std::string libid;
    bool project = false;
};

struct Directory
{
    std::uint32_t codePage = 0;
    std::string projectName;
    std::vector<Reference> references;
    std::vector<Module> modules;
};

// The records of a decompressed `dir` stream. Nothing, with the reason, when they do not follow
// the format far enough to name the modules.
std::optional<Directory> readDirectory(std::span<const std::uint8_t> dir, std::string &problem);

} // namespace Engine::Vba
