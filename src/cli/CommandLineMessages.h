#pragma once

#include <QString>

// The exporter's messages in the words of a command line: which file, what failed and why, on a
// line that starts with the program's name. The desktop program's messages (its routine tags and
// line numbers, its request for a screenshot, its advice to pick another folder) are the windows'
// and stay there; the exporter says the same things without them.
namespace CommandLineMessages {

// The files a message of one run can be about.
struct Files
{
    QString database;
    QString report;
    QString folder;
};

// "strudex-export: <file>: <text>", as the terminal is given it: control characters escaped, and
// the text's own line breaks kept (see ConsoleDialogs::forTerminal).
QString aboutFile(const QString &file, const QString &text);

// A message of the shared routines (an error report, the missing engine, the folder check, the
// empty table list, the end of a run with failures) for the command line: the file it concerns,
// what failed, and the failure's own description. `table` is the table being exported when the
// message came, if any: a name from the database, shown on one line.
QString fromDesktop(const QString &title, const QString &text, const Files &files, const QString &table);

} // namespace CommandLineMessages
