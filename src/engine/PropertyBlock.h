#pragma once

// The property blocks ("KKD" / "MR2") that MSysObjects keeps in its LvProp column: the
// descriptions, formats and other properties of every object and column.
//
// libmdb parses every one of them inside mdb_read_catalog, and its parser never stops on some
// damaged blocks (a record length of zero) while it allocates on every turn. So the worker reads
// each block first and checks that libmdb's parser will walk it to the end; a database with a
// block that fails is refused instead of being handed to libmdb.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Engine {

// True when libmdb's parser (mdb_kkd_to_props, 1.0.0) finishes on this block without reading
// outside it. Blocks it rejects outright (no "KKD"/"MR2" signature) are safe too.
bool propertyBlockIsSafe(std::span<const std::uint8_t> block);

// A property value as stored: its type code (a column type) and its bytes.
struct PropertyValue
{
    int type = 0;
    std::vector<std::uint8_t> bytes;
};

// The wanted properties of one named block: the properties of the column of that name.
struct NamedProperties
{
    std::string name;
    std::vector<std::optional<PropertyValue>> values; // one per wanted property name
};

// Turns stored text (names of properties and of blocks) into UTF-8 the way libmdb does; maxBytes
// is the size of the buffer libmdb would decode into, terminator included.
using TextDecoder = std::function<std::string(std::span<const std::uint8_t> text, std::size_t maxBytes)>;

// The named blocks of a property list in their stored order, with the values of the wanted
// properties, read as mdb_kkd_to_props reads them: a list of names replaces the one before it, a
// block's values stop at one that names no property or runs past the block, and when a block gives
// a property twice the last value counts. libmdb attaches the first block of a column's name to
// the column. The table's own block (no name) is left out, unless withOwnBlock asks for its first
// list, which then comes with an empty name.
// Reads nothing outside the block and always ends, but gives libmdb's reading only for a block
// that propertyBlockIsSafe accepts.
std::vector<NamedProperties> readNamedProperties(std::span<const std::uint8_t> block,
                                                 std::span<const std::string_view> wanted, const TextDecoder &decode,
                                                 bool withOwnBlock = false);

// Every property of every list of a block, in stored order: the object's own list (an empty name)
// and one list per named part (a column). Read as readNamedProperties reads, with every name kept.
struct PropertyList
{
    std::string name;
    std::vector<std::pair<std::string, PropertyValue>> values;
};
// Where the reading stops short of the block's end (a part or a value running past the end of what
// holds it, a value naming no property, ...), the first such place is told in *problem (when
// given), which is left empty for a block read whole.
std::vector<PropertyList> readAllProperties(std::span<const std::uint8_t> block, const TextDecoder &decode,
                                            std::string *problem = nullptr);

// A table's data macros from its LvExtra block (Access 2010 and later), per event ("AfterUpdate")
// the value holding Access's XML. Where the block is not what it should be, what was read so far,
// and the reason in problem.
std::vector<std::pair<std::string, PropertyValue>> readDataMacros(std::span<const std::uint8_t> block,
                                                                  const TextDecoder &decode, std::string &problem);

// Days since 30 December 1899, the fraction the time of day, as YYYY-MM-DD hh:mm:ss. Access counts
// the day from the integer part and the time from the fraction, before 1899 too.
std::string dateTimeText(double days);

// A property's value as text: numbers in decimal, Yes/No for a Boolean, dates as
// YYYY-MM-DD hh:mm:ss, a 16-byte GUID in braces, other binary values in hexadecimal. decodeText
// turns stored text into UTF-8.
std::string propertyText(const PropertyValue &value, const TextDecoder &decodeText);

} // namespace Engine
