#include "engine/ApplicationReader.h"

#include "engine/CompoundFile.h"
#include "engine/SystemTables.h"

#include <algorithm>
#include <map>

namespace Engine {

namespace {

// The most a stream, a module's blob or the compound file may take: far beyond any application.
constexpr std::size_t kMostBytes = 256u << 20;
// MSysModules2's types: a module's blob, a form's and a report's code.
constexpr std::int64_t kModuleBlob = 32775;
constexpr std::int64_t kFormCode = 32768;
constexpr std::int64_t kReportCode = 32772;

void addNote(Application &application, const std::string &note)
{
    if (!note.empty())
        application.notes.push_back(note);
}

// The storage tree: Access 2002 and later keep it in rows, Access 2000 as a compound file in chunks.
std::optional<std::vector<StorageRow>> storageRows(MdbHandle *mdb,
                                                   const std::function<std::uint32_t(std::string_view)> &tablePage,
                                                   PageReader &pages, const PageLayout &layout,
                                                   Application &application)
{
    std::string problem;
    if (const std::uint32_t storage = tablePage("MSysAccessStorage")) {
        // Only the streams of the VBA project and of the macros are read: a row's path is known
        // when its parent came first, as Access stores them; a row whose parent comes later is read.
        // The project's compiled state (_VBA_PROJECT and the __SRP_ caches, more than half of a
        // big project's bytes) is not needed; no module can be named so, VBA names start with a
        // letter.
        std::map<std::int64_t, std::string> paths;
        const auto wanted = [&paths](const StorageRow &row) {
            if (!row.id || !row.parentId || !row.name)
                return true;
            if (*row.id == *row.parentId) {
                paths[*row.id] = std::string();
                return false;
            }
            const auto parent = paths.find(*row.parentId);
            if (parent == paths.end())
                return true;
            const std::string path = parent->second + '/' + *row.name;
            paths[*row.id] = path;
            if (*row.name == "_VBA_PROJECT" || row.name->starts_with("__SRP_"))
                return false;
            return path.starts_with("/VBA/") || path.starts_with("/Scripts/");
        };
        SystemTable<StorageRow> rows = readStorageRows(mdb, storage, pages, layout, kMostBytes, wanted);
        addNote(application, rows.problem);
        return std::move(rows.rows);
    }
    const std::uint32_t objects = tablePage("MSysAccessObjects");
    if (!objects)
        return std::nullopt;
    const SystemTable<ObjectChunk> chunks = readObjectChunks(mdb, objects);
    addNote(application, chunks.problem);
    const auto file = joinObjectChunks(chunks.rows, IS_JET3(mdb) ? 241 : 3992, kMostBytes, problem);
    auto rows = file ? compoundFileRows(*file, kMostBytes, problem) : std::nullopt;
    if (!rows)
        addNote(application, problem);
    return rows;
}

// Access 97: each module's source is in its own blob; the project has no directory to read.
std::optional<Project> blobProject(MdbHandle *mdb, std::uint32_t modulesPage, PageReader &pages,
                                   const PageLayout &layout, Application &application)
{
    const SystemTable<ModuleRow> rows = readModuleRows(mdb, modulesPage, pages, layout, kMostBytes);
    addNote(application, rows.problem);
    Project project;
    project.codePage = 1252;
    for (const ModuleRow &row : rows.rows) {
        if (!row.name || !row.type || (*row.type != kModuleBlob && *row.type != kFormCode && *row.type != kReportCode))
            continue;
        ProjectModule module;
        module.name = *row.name;
        module.kind = *row.type == kModuleBlob && !row.name->starts_with("Form_") && !row.name->starts_with("Report_")
                          ? Vba::ModuleKind::Standard
                          : Vba::ModuleKind::Class;
        if (row.bytes)
            module.source = blobModuleSource(*row.bytes, *row.name, project.codePage);
        if (!module.source)
            module.note =
                row.bytes ? "its source was not found in the blob Access 97 keeps it in" : "its blob could not be read";
        project.modules.push_back(std::move(module));
    }
    return project;
}

// A macro that MSysObjects lists and the macros' container does not: listed, without a definition.
void addUnreadMacros(Application &application)
{
    for (const ApplicationObject &object : application.objects) {
        if (object.type != kMacroObject)
            continue;
        const bool read = std::any_of(application.macros.begin(), application.macros.end(),
                                      [&](const StoredMacro &macro) { return macro.name == object.name; });
        if (!read)
            application.macros.push_back(
                StoredMacro{object.name, std::nullopt, "its definition is not kept where it could be read"});
    }
}

} // namespace

Application readApplication(MdbHandle *mdb, std::vector<ApplicationObject> objects,
                            const std::function<std::uint32_t(std::string_view)> &tablePage, PageReader &pages,
                            const PageLayout &layout)
{
    Application application;
    application.objects = std::move(objects);
    std::string problem;
    if (const auto rows = storageRows(mdb, tablePage, pages, layout, application)) {
        application.project = readStorageProject(*rows, problem);
        // A database without code has no project, and that is no gap.
        if (!application.project && problem != "the database has no VBA project")
            addNote(application, problem);
        problem.clear();
        if (auto macros = readStorageMacros(*rows, problem))
            application.macros = std::move(*macros);
        addNote(application, problem);
    } else if (const std::uint32_t modules = tablePage("MSysModules2")) {
        application.project = blobProject(mdb, modules, pages, layout, application);
    }
    addUnreadMacros(application);
    return application;
}

} // namespace Engine
