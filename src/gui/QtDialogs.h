#pragma once

#include "core/Dialogs.h"

// The desktop program's dialogs: Qt message boxes, file dialog and folder browser, owned by the
// active window of the program.
class QtDialogs : public Dialogs
{
public:
    Answer message(const QString &title, const QString &text, Buttons buttons, Icon icon) override;
    std::optional<QString> openFile(const OpenFileRequest &request) override;
    QString browseForFolder(const QString &prompt, const QString &initialFolder) override;
    bool openUrl(const QUrl &url) override;
};
