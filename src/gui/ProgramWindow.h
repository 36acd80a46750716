#pragma once

#include <QWidget>

class Program;

// What both windows of the program share: they are first shown centred on the screen, and
// closing either one ends the program.
class ProgramWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ProgramWindow(Program &program);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    Program &m_program;

private:
    bool m_shownBefore = false;
};
