#include "support/ScriptedDialogs.h"

Dialogs::Answer ScriptedDialogs::message(const QString &title, const QString &text, Buttons buttons, Icon icon)
{
    messages.append({title, text, buttons, icon});
    if (!answers.isEmpty())
        return answers.dequeue();
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

std::optional<QString> ScriptedDialogs::openFile(const OpenFileRequest &request)
{
    fileRequests.append(request);
    if (!fileNames.isEmpty())
        return fileNames.dequeue();
    return std::nullopt;
}

QString ScriptedDialogs::browseForFolder(const QString &prompt, const QString &initialFolder)
{
    folderPrompts.append(prompt);
    folderStarts.append(initialFolder);
    if (!folders.isEmpty())
        return folders.dequeue();
    return QString();
}

bool ScriptedDialogs::openUrl(const QUrl &url)
{
    openedUrls.append(url);
    return true;
}

QStringList ScriptedDialogs::texts() const
{
    QStringList result;
    for (const Message &m : messages)
        result << m.text;
    return result;
}
