#include "gui/Program.h"

#include "core/Dialogs.h"
#include "core/Failure.h"
#include "core/PathUtilities.h"
#include "core/Settings.h"
#include "core/db/Access.h"
#include "core/db/WorkerProcess.h"
#include "core/report/ReportFile.h"
#include "gui/Form1.h"
#include "gui/Form2.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

std::function<void(int)> endAction;

} // namespace

Program::Program(Dialogs &dialogs) : m_dialogs(dialogs)
{
    // While the engine works, the windows keep painting themselves.
    Ado::WorkerSettings::setWaitHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}

Program::~Program()
{
    Ado::WorkerSettings::setWaitHook({});
}

Form1 &Program::form1()
{
    if (!m_form1)
        m_form1 = std::make_unique<Form1>(*this);
    return *m_form1;
}

Form2 &Program::form2()
{
    if (!m_form2) {
        m_form2 = std::make_unique<Form2>(*this);
        m_form2->Form_Load();
    }
    return *m_form2;
}

void Program::listTables(const Access::ConnectionParameters &database)
{
    form2().listTables(database);
}

void Program::showExportWindow()
{
    form2().show();
}

void Program::showSelectionWindow()
{
    form1().show();
}

Access::ConnectionParameters Program::connectionParameters()
{
    // Before the selection window exists its boxes are empty.
    return m_form1 ? m_form1->connectionParameters() : Access::ConnectionParameters{};
}

bool Program::start()
{
    Form1 &selection = form1();
    selection.Form_Load();
    if (m_ended)
        return false;
    if (!(m_form2 && m_form2->isVisible()))
        selection.show();
    return true;
}

void Program::end(int exitCode)
{
    if (m_ended)
        return;
    m_ended = true;
    ReportFile::abandonActive();
    if (m_form1)
        m_form1->hide();
    if (m_form2)
        m_form2->hide();
    if (endAction) {
        endAction(exitCode);
        return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exitCode);
}

void Program::setEndAction(std::function<void(int)> action)
{
    endAction = std::move(action);
}

void Program::saveSetting(const QString &key, const QString &value)
{
    try {
        Settings::SaveSetting(key, value);
    } catch (const Failure &failure) {
        if (m_toldSettingsFailure)
            return;
        m_toldSettingsFailure = true;
        m_dialogs.message(Main::AppTitle(),
                          failure.description() +
                              QStringLiteral("\r\n\r\nStrudex goes on working, but it cannot remember your choices "
                                             "until the settings can be saved again."),
                          Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
    }
}
