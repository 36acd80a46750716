#include "gui/ProgramWindow.h"

#include "gui/FocusFrame.h"
#include "gui/WindowHost.h"
#include "gui/WindowLook.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

ProgramWindow::ProgramWindow(WindowHost &host) : m_host(host)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
}

void ProgramWindow::setUpKeyboard(QWidget &firstControl)
{
    m_firstControl = &firstControl;
    for (QPushButton *button : findChildren<QPushButton *>())
        button->installEventFilter(this);
    m_focusFrame = new FocusFrame(*this);
}

bool ProgramWindow::isPlainEnter(const QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<const QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier;
}

bool ProgramWindow::eventFilter(QObject *watched, QEvent *event)
{
    auto *button = qobject_cast<QPushButton *>(watched);
    if (button && isPlainEnter(event)) {
        if (!static_cast<QKeyEvent *>(event)->isAutoRepeat() && button->isEnabled())
            button->animateClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ProgramWindow::showEvent(QShowEvent *event)
{
    if (!m_shownBefore) {
        m_shownBefore = true;
        Main::CentreOnScreen(*this);
    }
    // A window opens with the focus on the first control of its tab order, so the keyboard has a
    // place to start and the user sees where it is. Coming back to a window keeps its focus.
    if (!focusWidget() && m_firstControl)
        m_firstControl->setFocus(Qt::TabFocusReason);
    QWidget::showEvent(event);
}

void ProgramWindow::closeEvent(QCloseEvent *event)
{
    // Form_Unload: the program ends at once, whichever window is closed.
    event->accept();
    m_host.end(0);
}
