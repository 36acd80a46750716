#include "Program.h"
#include "QtDialogs.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(Program::icon());
    QtDialogs dialogs;
    Program program(dialogs);
    if (!program.start())
        return 1;
    return QApplication::exec();
}
