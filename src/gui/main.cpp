#include "gui/Program.h"
#include "gui/QtDialogs.h"
#include "gui/WindowLook.h"

#include <QApplication>

#include <QIcon>
#include <csignal>

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A report that outgrows the file size allowed must fail as a write, with a message, not end
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setWindowIcon(Main::ProgramIcon());
    QtDialogs dialogs;
    Program program(dialogs);
    if (!program.start())
        return 1;
    return QApplication::exec();
}
