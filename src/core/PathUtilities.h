#pragma once

#include <QChar>
#include <QString>

#include <optional>

// Small shared routines of the windows and the database module. None keeps state (except the
// application title), none shows a message; failures they do not absorb reach the calling step,
// which reports them under its own name.
//
// Paths are plain texts with the platform's separator ('/' here, '\' on Windows).
namespace Main {

inline constexpr auto ProductName = "Strudex Software";

// The platform's path separator.
QChar separator();

// True when something of that name exists (a file, or a folder); never fails.
bool FileExists(const QString &path);

// True for an existing folder, false for anything else that exists, nothing when the path cannot
// be examined (missing, empty, not a valid name). Callers treat nothing as false.
std::optional<bool> IsFolder(const QString &path);

// Everything after the last separator; the whole text when there is none.
QString FileNameFromPath(const QString &path);

// The text before the last "." when that dot stands after the first character; otherwise the
// text unchanged. The dot is looked for in the whole text, folders included. A dot beyond
// position 32,767 fails with the runtime's overflow (6).
QString StripExtension(const QString &name);

// Turns every doubled separator into one, in one left-to-right pass. On Windows a leading run of
// backslashes becomes exactly two, which keeps network paths intact; on other platforms a leading
// separator is an ordinary one, so the root folder stays "/".
QString RemoveDoubleBackslashes(const QString &path);

// The folder's path as the shell gives it: the path, one NUL character and blank fill up to 512
// characters (longer paths are not cut). Only folder 0, the desktop, is known; anything else, or a
// desktop that cannot be found, gives the empty text.
QString GetSpecialFolderPath(int folder);

// The user's desktop folder followed by a separator. The buffer is overwritten with the raw
// result of GetSpecialFolderPath(0). When no desktop can be found, fails with the runtime's
// invalid argument (5).
QString GetDesktopFolder(QString &buffer);

// The text before the last NUL of a raw folder buffer, followed by a separator; fails with
// invalid argument (5) when the buffer holds no NUL.
QString FolderFromShellBuffer(const QString &buffer);

// The product name cut at its last blank, again and again, until at most 40 characters remain;
// always cut at least once. A text without a blank to cut at fails with invalid argument (5).
QString TitleFromProductName(const QString &productName);

// Sets the application title ("Strudex"): the title of every message box that names none and the
// name under which the desktop lists the program.
void SetAppTitle();
QString AppTitle();

// Folder that holds the program file, without a trailing separator.
QString ProgramFolder();

} // namespace Main
