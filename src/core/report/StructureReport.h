#pragma once

#include <QString>

#include <optional>

class Dialogs;
class ExportView;

namespace Access {
struct ConnectionParameters;
}

// The structure report: for every ticked row of the table list, the table's name, its field and
// record counts and one line per field with name, type and description.
namespace StructureReport {

inline constexpr auto RestingCaption = "Progress Bar";

// One field's line. Names of 25 characters or more are followed directly by the type code; shorter
// ones fill a 25-character name column and a 12-character type column (a longer type text is
// followed by a single blank) before the description.
QString FieldLine(const QString &name, qint32 typeCode, const QString &typeText, const QString &description);

// A table's heading line: its name, then the field count and the record count, each only when it
// was read. A count that was not read is left out, never written as 0.
QString TableHeading(const QString &name, std::optional<qint16> fieldCount, std::optional<qint32> recordCount);

// The line that closes the block of a table not read whole: what could not be read and the
// engine's description of why, on one line. Empty when both counts were read.
QString UnreadLine(bool fieldsRead, bool recordsRead, const QString &why);

// The type text of a field: its type name, and for text fields the defined size in brackets.
QString TypeText(qint32 typeCode, qint64 definedSize);

// "<folder><separator><base name>_Structure.txt", where the base name is the database path
// without its extension and folders. A separator is put between folder and name only when the
// folder text does not end in one.
QString ReportFileName(const QString &folderText, const QString &databasePath);

// Writes the report of the ticked rows into fileName, replacing any earlier report only when the
// run finishes. The database is read over one connection, opened with its parameters. Every
// failure is reported and the run goes on; a table that could not be read keeps its heading
// without the counts that were not read, and a line saying why. When the report was saved the run
// ends with "Done.", or "Done, with errors." when anything failed on the way; when it was not
// saved, neither follows. A call made while a run is in progress does nothing.
void generateStructure(Dialogs &dialogs, ExportView &view, const Access::ConnectionParameters &database,
                       const QString &fileName, const qint32 &tickedCount);

// Whether a run is in progress.
bool Running();

// "Start Exporting": checks the folder and the ticks, names the report after the database and runs
// generateStructure on it.
void StartExporting(Dialogs &dialogs, ExportView &view, const Access::ConnectionParameters &database,
                    const QString &folderText);

} // namespace StructureReport
