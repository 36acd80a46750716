#pragma once

#include <QString>

// What the report writer drives while it works: the table list (rows numbered from 1, each with
// its text and tick), the progress display and the window's pointer. The export window implements
// it with widgets, the command-line exporter with a progress bar on the terminal.
class ExportView
{
public:
    enum class Pointer { Default, Busy };

    virtual ~ExportView() = default;

    virtual int rowCount() const = 0;
    virtual QString rowText(int row) const = 0;
    virtual bool rowTicked(int row) const = 0;

    // Value from 0 to 100.
    virtual void setProgressValue(double value) = 0;
    virtual void setProgressCaption(const QString &caption) = 0;
    virtual void setPointer(Pointer pointer) = 0;

    // Lets the program breathe: repaint, answer clicks.
    virtual void yield() = 0;
};
