#include "WindowLook.h"

#include "Failure.h"
#include "Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

namespace Main {

namespace {

void paintButtonFace(QWidget &widget, const QColor &face)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, face);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

} // namespace

void SetButtonFaceBackColors(QWidget &window)
{
    const QColor face = QApplication::palette().color(QPalette::Active, QPalette::Button);
    paintButtonFace(window, face);
    const auto children = window.findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (qobject_cast<QRadioButton *>(child) || qobject_cast<QCheckBox *>(child)
            || qobject_cast<QGroupBox *>(child) || qobject_cast<QLabel *>(child))
            paintButtonFace(*child, face);
    }
}

void ApplySkin(QWidget &form1)
{
    ApplySkin(form1, ProgramFolder());
}

void ApplySkin(QWidget &form1, const QString &programFolder)
{
    const QString skin = programFolder + separator() + QStringLiteral("x") + separator() + QStringLiteral("o.cjs");
    const QFileInfo info(skin);
    if (!info.isFile() || info.isHidden())
        return;
    SetButtonFaceBackColors(form1);
    QFile file(skin);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure::fileAccess(skin, file.errorString());
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure::fileAccess(skin, file.errorString());
    form1.setStyleSheet(QString::fromUtf8(content));
}

} // namespace Main
