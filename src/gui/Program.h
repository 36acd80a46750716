#pragma once

#include "gui/WindowHost.h"

#include <QString>

#include <functional>
#include <memory>

class Dialogs;
class Form1;
class Form2;

// The running program: its two windows, created when first needed, and its end. It is the host
// through which the windows reach each other.
class Program : public WindowHost
{
public:
    explicit Program(Dialogs &dialogs);
    ~Program() override;

    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // Loads the selection window and runs its start-up; shows it unless the start-up moved on to
    // the table list. False when the program ended during the start-up (no usable engine).
    bool start();

    Dialogs &dialogs() override { return m_dialogs; }
    Form1 &form1();
    // The export window; the first reference creates and loads it.
    Form2 &form2();
    bool hasForm2() const { return m_form2 != nullptr; }

    // How the windows ask for each other. Listing loads the export window first when needed.
    void listTables(const Access::ConnectionParameters &database) override;
    void showExportWindow() override;
    void showSelectionWindow() override;

    // Read from the selection window's two boxes, the one copy of the connection parameters.
    Access::ConnectionParameters connectionParameters() override;

    // Ends the program at once: an unfinished report leaves nothing behind, no other window is
    // asked anything, no message follows.
    void end(int exitCode) override;
    bool ended() const { return m_ended; }

    // What ending does; by default the process ends. Tests record it instead.
    static void setEndAction(std::function<void(int exitCode)> action);

    // Stores a setting as its box changes. A store that cannot be written is told once per run;
    // the program goes on without it.
    void saveSetting(const QString &key, const QString &value) override;

private:
    Dialogs &m_dialogs;
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<Form2> m_form2;
    bool m_ended = false;
    bool m_toldSettingsFailure = false;
};
