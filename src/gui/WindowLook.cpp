#include "gui/WindowLook.h"

#include "core/Failure.h"
#include "core/PathUtilities.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QWidget>

// Resources of a static library are registered by hand, from outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(strudex);
}

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
        if (qobject_cast<QRadioButton *>(child) || qobject_cast<QCheckBox *>(child) ||
            qobject_cast<QGroupBox *>(child) || qobject_cast<QLabel *>(child))
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

void StyleWindow(QWidget &window, std::initializer_list<QWidget *> whiteControls,
                 std::initializer_list<QWidget *> pushButtons)
{
    auto paintWhite = [](QWidget &widget) {
        QPalette palette = widget.palette();
        palette.setColor(QPalette::Window, Qt::white);
        widget.setPalette(palette);
        widget.setAutoFillBackground(true);
    };
    paintWhite(window);
    for (QWidget *control : whiteControls)
        paintWhite(*control);

    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);
    for (QWidget *button : pushButtons) {
        button->setFont(buttonFont);
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, Qt::white);
        palette.setColor(QPalette::ButtonText, QApplication::palette().color(QPalette::ButtonText));
        button->setPalette(palette);
    }
}

void MaskWithAsterisks(QLineEdit &box)
{
    box.setEchoMode(QLineEdit::Password);
    box.setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

void CentreOnScreen(QWidget &window)
{
    const QScreen *screen = window.screen() ? window.screen() : QApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize frame = window.frameGeometry().size();
    window.move(available.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

QIcon ProgramIcon()
{
    initResources();
    QIcon icon;
    for (int size : {32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/strudex-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace Main
