#include "gui/ProgramWindow.h"

#include "gui/Program.h"
#include "gui/WindowLook.h"

#include <QCloseEvent>

ProgramWindow::ProgramWindow(Program &program) : m_program(program)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
}

void ProgramWindow::showEvent(QShowEvent *event)
{
    if (!m_shownBefore) {
        m_shownBefore = true;
        Main::CentreOnScreen(*this);
    }
    QWidget::showEvent(event);
}

void ProgramWindow::closeEvent(QCloseEvent *event)
{
    // Form_Unload: the program ends at once, whichever window is closed.
    event->accept();
    m_program.end();
}
