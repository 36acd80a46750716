#pragma once

#include "core/Dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

// Dialogs for tests: records every message and answers from a script, so no test ever waits.
// Without a scripted answer a Yes/No box answers No, a file dialog and a folder browser cancel.
class ScriptedDialogs : public Dialogs
{
public:
    struct Message
    {
        QString title;
        QString text;
        Buttons buttons;
        Icon icon;
    };

    Answer message(const QString &title, const QString &text, Buttons buttons, Icon icon) override;
    std::optional<QString> openFile(const OpenFileRequest &request) override;
    QString browseForFolder(const QString &prompt, const QString &initialFolder) override;
    bool openUrl(const QUrl &url) override;

    void setNextAnswer(Answer answer) { answers.enqueue(answer); }
    void setNextFileName(const std::optional<QString> &fileName) { fileNames.enqueue(fileName); }
    void setNextFolder(const QString &folder) { folders.enqueue(folder); }

    // Texts of the messages shown so far, in order.
    QStringList texts() const;

    QList<Message> messages;
    QList<OpenFileRequest> fileRequests;
    QStringList folderPrompts;
    QStringList folderStarts;
    QList<QUrl> openedUrls;

private:
    QQueue<Answer> answers;
    QQueue<std::optional<QString>> fileNames;
    QQueue<QString> folders;
};
