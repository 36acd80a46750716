#include "gui/QtDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

QMessageBox::Icon qtIcon(Dialogs::Icon icon)
{
    switch (icon) {
    case Dialogs::Icon::Information:
        return QMessageBox::Information;
    case Dialogs::Icon::Warning:
        return QMessageBox::Warning;
    case Dialogs::Icon::Question:
        return QMessageBox::Question;
    case Dialogs::Icon::Critical:
        return QMessageBox::Critical;
    case Dialogs::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

Dialogs::Answer QtDialogs::message(const QString &title, const QString &text, Buttons buttons, Icon icon)
{
    // Message texts use CR LF and lone CRs as line breaks; the box wants plain line feeds.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QMessageBox box(qtIcon(icon), title, shown, QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (buttons == Buttons::YesNo)
        return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
    return Answer::Ok;
}

std::optional<QString> QtDialogs::openFile(const OpenFileRequest &request)
{
    QFileDialog dialog(QApplication::activeWindow(), request.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The user may name a file that does not exist yet; the caller decides what to do with it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qtFileDialogFilter(request.filter));
    if (!request.fileName.isEmpty()) {
        const QFileInfo previous(request.fileName);
        if (previous.absoluteDir().exists())
            dialog.setDirectory(previous.absoluteDir());
        dialog.selectFile(previous.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString QtDialogs::browseForFolder(const QString &prompt, const QString &initialFolder)
{
    const QString chosen = QFileDialog::getExistingDirectory(QApplication::activeWindow(), prompt, initialFolder,
                                                             QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return QString();
    return QDir::toNativeSeparators(chosen);
}

bool QtDialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}
