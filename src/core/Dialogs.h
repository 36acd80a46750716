#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Every modal thing the program shows goes through this interface: the desktop program uses real
// Qt dialogs, the command-line exporter writes to the terminal, and tests answer from a script so
// that nothing ever waits for a person.
class Dialogs
{
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Information, Warning, Question, Critical };
    enum class Answer { Ok, Yes, No };

    struct OpenFileRequest
    {
        QString title;
        // Pairs of description and pattern separated by "|", as in
        // "Microsoft Database (*.mdb)|*.mdb|".
        QString filter;
        // The file name the dialog starts with (the one chosen last time).
        QString fileName;
        // The read-only box starts ticked; only honoured where the platform dialog has one.
        bool readOnlyTicked = false;
    };

    virtual ~Dialogs() = default;

    // A message box; returns the button that closed it.
    virtual Answer message(const QString &title, const QString &text, Buttons buttons, Icon icon) = 0;
    // A file-open dialog; the chosen path, or nothing when the user cancels.
    virtual std::optional<QString> openFile(const OpenFileRequest &request) = 0;
    // A folder browser; the chosen folder without a trailing separator (a root keeps its own), or
    // the empty text when the user cancels.
    virtual QString browseForFolder(const QString &prompt, const QString &initialFolder) = 0;
    // Opens a web address with the desktop's default handler.
    virtual bool openUrl(const QUrl &url) = 0;
};

// Pattern list of a "description|pattern|..." filter, in the form QFileDialog expects
// ("description (pattern);;..."). A description that ends without a pattern is dropped.
QString qtFileDialogFilter(const QString &filter);
