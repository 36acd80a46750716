#pragma once

#include <QString>

class Dialogs;

namespace Access {
struct ConnectionParameters;
}

// What the two windows need from the running program. Program is the host; a window never knows
// the other window, only asks its host, so each can be tried on its own with a stand-in.
class WindowHost
{
public:
    virtual ~WindowHost() = default;

    virtual Dialogs &dialogs() = 0;

    // Fills the export window's table list with the user tables of the database (creating the
    // window first when needed); a database that cannot be listed is reported and the list kept.
    virtual void listTables(const Access::ConnectionParameters &database) = 0;
    virtual void showExportWindow() = 0;
    virtual void showSelectionWindow() = 0;

    // Ends the program at once.
    virtual void end(int exitCode) = 0;

    // Stores a setting as its box changes.
    virtual void saveSetting(const QString &key, const QString &value) = 0;

    // The database path and password as the selection window's boxes hold them now: read at the
    // moment a connection is made, never kept.
    virtual Access::ConnectionParameters connectionParameters() = 0;

protected:
    WindowHost() = default;
    WindowHost(const WindowHost &) = default;
    WindowHost &operator=(const WindowHost &) = default;
};
