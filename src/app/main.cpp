#include "Main.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QString::fromLatin1(Main::ProductName));
    window.show();
    return app.exec();
}
