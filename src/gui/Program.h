#pragma once

#include <QString>

#include <functional>
#include <memory>

class Dialogs;
class Form1;
class Form2;

// The running program: its two windows, created when first needed, and its end.
class Program
{
public:
    explicit Program(Dialogs &dialogs);
    ~Program();

    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // Loads the selection window and runs its start-up; shows it unless the start-up moved on to
    // the table list. False when the program ended during the start-up (no usable engine).
    bool start();

    Dialogs &dialogs() { return m_dialogs; }
    Form1 &form1();
    // The export window; the first reference creates and loads it.
    Form2 &form2();
    bool hasForm2() const { return m_form2 != nullptr; }

    // How the windows ask for each other. The export window lists the tables of the database at
    // the path (loading the window first when needed); a database that cannot be listed is
    // reported and the list kept.
    void listTables(const QString &path, const QString &password);
    void showExportWindow();
    void showSelectionWindow();

    // Ends the program at once: an unfinished report leaves nothing behind, no other window is
    // asked anything, no message follows.
    void end(int exitCode = 0);
    bool ended() const { return m_ended; }

    // What ending does; by default the process ends. Tests record it instead.
    static void setEndAction(std::function<void(int exitCode)> action);

    // Stores a setting as its box changes. A store that cannot be written is told once per run;
    // the program goes on without it.
    void saveSetting(const QString &key, const QString &value);

    // The program's icon: 32, 48, 128 and 256 pixels.
    static class QIcon icon();

private:
    Dialogs &m_dialogs;
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<Form2> m_form2;
    bool m_ended = false;
    bool m_toldSettingsFailure = false;
};
