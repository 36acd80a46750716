#pragma once

// The application around the tables, read whichever way the file's Access kept it: the forms,
// reports, macros and modules MSysObjects lists, the VBA project with every module's source, and
// the macros' definitions. Access 2002 and later keep a storage tree in MSysAccessStorage, Access
// 2000 a compound file in MSysAccessObjects' rows, Access 97 each module in a blob of MSysModules2.

#include "engine/AccessStorage.h"
#include "engine/DataPages.h"
#include "engine/Mdb.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Engine {

struct Application
{
    std::vector<ApplicationObject> objects;
    // Nothing when the file has no VBA project.
    std::optional<Project> project;
    std::vector<StoredMacro> macros;
    // What could not be read, each a sentence's worth.
    std::vector<std::string> notes;
};

// objects are MSysObjects' forms, reports, macros and modules (applicationObjects); tablePage gives
// where a system table's definition starts (0 when the file has no such table).
Application readApplication(MdbHandle *mdb, std::vector<ApplicationObject> objects,
                            const std::function<std::uint32_t(std::string_view)> &tablePage, PageReader &pages,
                            const PageLayout &layout);

} // namespace Engine
