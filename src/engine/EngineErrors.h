#pragma once

// The failures the worker reports, worded and numbered as the Jet engine and ADO word them, so
// that the reports read the same as on Windows.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Engine {

class EngineFailure : public std::runtime_error
{
public:
    EngineFailure(std::int32_t number, const std::string &description)
        : std::runtime_error(description), m_number(number)
    {
    }
    std::int32_t number() const noexcept { return m_number; }

private:
    std::int32_t m_number;
};

namespace Errors {

inline constexpr std::int32_t kOutOfMemory = 7;
inline constexpr std::int32_t kFileNotFound = 3024;
inline constexpr std::int32_t kBadPassword = 3031;
inline constexpr std::int32_t kNoPermission = 3051;
inline constexpr std::int32_t kNoSuchTable = 3078;
inline constexpr std::int32_t kItemNotFound = 3265;
inline constexpr std::int32_t kUnrecognizedFormat = 3343;
inline constexpr std::int32_t kObjectClosed = 3704;
inline constexpr std::int32_t kObjectOpen = 3705;

inline EngineFailure fileNotFound(const std::string &path)
{
    return {kFileNotFound, "Could not find file '" + path + "'."};
}

inline EngineFailure noPermission(const std::string &path)
{
    return {kNoPermission, "The Microsoft Jet database engine cannot open the file '" + path +
                               "'.  It is already opened exclusively by another user, or you need permission "
                               "to view its data."};
}

inline EngineFailure unrecognizedFormat(const std::string &path)
{
    return {kUnrecognizedFormat, "Unrecognized database format '" + path + "'."};
}

inline EngineFailure badPassword()
{
    return {kBadPassword, "Not a valid password."};
}

inline EngineFailure officeEncrypted(const std::string &path)
{
    return {0, "The database '" + path +
                   "' is encrypted with a password (Access 2007 or later encryption), which cannot be read on this "
                   "system."};
}

// An Access 2007+ encryption that is recognised but not read, named in the message.
inline EngineFailure unsupportedEncryption(const std::string &path, const std::string &scheme)
{
    return {0, "The database '" + path + "' is encrypted with " + scheme + ", which Strudex cannot read."};
}

// Encryption information that cannot be what Access wrote.
inline EngineFailure damagedEncryption(const std::string &path, const std::string &detail)
{
    return {kUnrecognizedFormat,
            "Unrecognized database format '" + path + "'. Its encryption information is damaged (" + detail + ")."};
}

inline EngineFailure noSuchTable(const std::string &name)
{
    return {kNoSuchTable, "The Microsoft Jet database engine cannot find the input table or query '" + name +
                              "'.  Make sure it exists and that its name is spelled correctly."};
}

inline EngineFailure itemNotFound()
{
    return {kItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal."};
}

inline EngineFailure objectClosed()
{
    return {kObjectClosed, "Operation is not allowed when the object is closed."};
}

inline EngineFailure objectOpen()
{
    return {kObjectOpen, "Operation is not allowed when the object is open."};
}

inline EngineFailure outOfMemory(const std::string &path = {}, unsigned long limitMb = 0)
{
    std::string text = "Out of memory";
    if (!path.empty())
        text += " while reading '" + path + "'";
    if (limitMb > 0)
        text += " (the database engine may use " + std::to_string(limitMb) + " MB)";
    return {kOutOfMemory, text + ". The file may be damaged."};
}

// What the parent hears when libmdb brings the worker down: a crash, or, since libmdb's
// allocator aborts rather than fail, the memory limit.
inline EngineFailure engineFailed(const std::string &path, unsigned long limitMb)
{
    std::string text = "Unrecognized database format '" + path + "'. The database engine stopped while reading it";
    if (limitMb > 0)
        text += " (it crashed, or used up the " + std::to_string(limitMb) + " MB of memory it may use)";
    return {kUnrecognizedFormat, text + "."};
}

} // namespace Errors
} // namespace Engine
