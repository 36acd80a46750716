#pragma once

// The tree of storages and streams in MSysAccessStorage, in which Access 2002 and later keep
// forms, reports, macros and the VBA project, and the VBA project read from it: its name, code
// page, references, and every module with its source in UTF-8.

#include "engine/VbaProject.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Engine {

// A row of MSysAccessStorage.
struct StorageRow
{
    std::optional<std::int64_t> id;       // Id
    std::optional<std::int64_t> parentId; // ParentId: the root is its own parent
    std::optional<std::string> name;      // Name
    std::optional<std::int64_t> type;     // Type: 1 a storage, 2 a stream
    // Lv: the stream's bytes; nothing for a storage, and nothing with `damaged` when they are
    // stored but could not be read.
    std::optional<std::vector<std::uint8_t>> bytes;
    bool damaged = false;
};

// A row of MSysAccessObjects: one chunk of the compound file of an Access 2000 database.
struct ObjectChunk
{
    std::int64_t id = 0; // ID: 0 the header, k the chunk from (k - 1) * chunk size
    std::vector<std::uint8_t> data;
};

// The compound file the chunks make up: the header row gives its length, each chunk its place,
// and a chunk that is not there reads as zeros. Nothing, with the reason, without a header or
// beyond maxBytes.
std::optional<std::vector<std::uint8_t>> joinObjectChunks(const std::vector<ObjectChunk> &chunks, std::size_t chunkSize,
                                                          std::size_t maxBytes, std::string &problem);

// A form, report, macro or module as MSysObjects lists it.
struct ApplicationObject
{
    std::string name;
    std::int64_t type = 0; // -32768 form, -32764 report, -32766 macro, -32761 module
    // "2020-05-01T10:00:00"; nothing when the row has no date, or one no calendar has.
    std::optional<std::string> created;
    std::optional<std::string> updated;
};

inline constexpr std::int64_t kFormObject = -32768;
inline constexpr std::int64_t kReportObject = -32764;
inline constexpr std::int64_t kMacroObject = -32766;
inline constexpr std::int64_t kModuleObject = -32761;

// A stored date and time (8 bytes: days since 1899-12-30, the time of day as the fraction) as
// "YYYY-MM-DDThh:mm:ss"; nothing for anything else, or a date before year 100 or after 9999.
std::optional<std::string> accessDateText(std::span<const std::uint8_t> stored);

struct ProjectReference
{
    std::string name;
    // As stored: "*\G{GUID}#version#lcid#path#description" for a library, a path for a project.
    std::string libid;
    bool project = false;
};

struct ProjectModule
{
    std::string name;
    Vba::ModuleKind kind = Vba::ModuleKind::Standard;
    // The source as stored, in UTF-8; nothing when it could not be read (`note` says why).
    std::optional<std::string> source;
    std::string note;
};

struct Project
{
    std::string name;
    std::uint32_t codePage = 0;
    // A compiled-only file (.mde, .accde): its modules are listed, without their source.
    bool compiledOnly = false;
    std::vector<ProjectReference> references;
    std::vector<ProjectModule> modules;
};

// The project in the storage tree. Nothing, with the reason in `problem`, when the tree has no
// project or its directory cannot be read; a module that cannot be read is listed with its note.
// A compiled-only file has no directory: its modules come from the project's text stream.
std::optional<Project> readStorageProject(const std::vector<StorageRow> &rows, std::string &problem);

// A macro as its container keeps it: in ACE files its definition, the XML Access writes
// ("<?xml ...><UserInterfaceMacro ...>"); an older file's binary macro has none (`note` says so).
struct StoredMacro
{
    std::string name;
    std::optional<std::string> definition;
    std::string note;
};

// The macros of the storage tree's Scripts container, by the names its directory gives them.
// Nothing, with the reason, when the container has no directory that can be read.
std::optional<std::vector<StoredMacro>> readStorageMacros(const std::vector<StorageRow> &rows, std::string &problem);

// The source of an Access 97 module from its blob in MSysModules2. The blob's layout is not
// published: the source is the compressed container in it whose text starts with the module's own
// "Attribute VB_Name" line. Nothing when no such container is there.
std::optional<std::string> blobModuleSource(std::span<const std::uint8_t> blob, const std::string &name,
                                            std::uint32_t codePage);

// Text in a Windows code page as UTF-8; a byte the code page does not have becomes U+FFFD.
std::string codePageToUtf8(const std::string &bytes, std::uint32_t codePage);

} // namespace Engine
