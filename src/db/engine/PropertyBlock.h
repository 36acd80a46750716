#pragma once

// The property blocks ("KKD" / "MR2") that MSysObjects keeps in its LvProp column: the
// descriptions, formats and other properties of every object and column.
//
// libmdb parses every one of them inside mdb_read_catalog, and its parser never stops on some
// damaged blocks (a record length of zero) while it allocates on every turn. So the worker reads
// each block first and checks that libmdb's parser will walk it to the end; a database with a
// block that fails is refused instead of being handed to libmdb.

#include <cstdint>
#include <span>

namespace Engine {

// True when libmdb's parser (mdb_kkd_to_props, 1.0.0) finishes on this block without reading
// outside it. Blocks it rejects outright (no "KKD"/"MR2" signature) are safe too.
bool propertyBlockIsSafe(std::span<const std::uint8_t> block);

} // namespace Engine
