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
#include <QIcon>

#include <cstdio>
#include <cstdlib>

// Resources of a static library are registered by hand, from outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(strudex);
}

namespace {

std::function<void(int)> endAction;

} // namespace

Program::Program(Dialogs &dialogs) : m_dialogs(dialogs)
{
    initResources();
    // While the engine works, the windows keep painting themselves.
    Ado::WorkerSettings::setWaitHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}

Program::~Program()
{
    Ado::WorkerSettings::setWaitHook({});
    Access::SetConnectionParameters({}, {});
}

Form1 &Program::form1()
{
    if (!m_form1) {
        m_form1 = std::make_unique<Form1>(*this);
        // The selection window's two boxes are the connection parameters of every connection.
        Form1 *form = m_form1.get();
        Access::SetConnectionParameters([form] { return form->databasePath(); }, [form] { return form->password(); });
    }
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

void Program::listTables(const QString &path, const QString &password)
{
    form2().listTables(path, password);
}

void Program::showExportWindow()
{
    form2().show();
}

void Program::showSelectionWindow()
{
    form1().show();
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

QIcon Program::icon()
{
    initResources();
    QIcon icon;
    for (int size : {32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/strudex-%1.png").arg(size), QSize(size, size));
    return icon;
}
