#pragma once

// A compound file ([MS-CFB]) read with libgsf, as the rows of a storage tree: the form in which
// Access 2002 and later keep their application in MSysAccessStorage, so that one reader serves
// both. Access 2000 keeps the same tree in a compound file cut into MSysAccessObjects' rows.

#include "engine/AccessStorage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Engine {

// The storages and streams of the compound file, the root named MSysAccessStorage_ROOT. Nothing,
// with the reason, when libgsf cannot read it; a stream longer than maxStreamBytes, or one that
// cannot be read, comes without its bytes and with `damaged`.
std::optional<std::vector<StorageRow>> compoundFileRows(std::span<const std::uint8_t> file, std::size_t maxStreamBytes,
                                                        std::string &problem);

} // namespace Engine
