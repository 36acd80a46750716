#pragma once

#include "gui/PointerModes.h"
#include "gui/ProgramWindow.h"

#include <memory>

class Program;

namespace Ui {
class Form1;
}

// The database selection window: the database path, its password, and "Next >".
class Form1 : public ProgramWindow
{
    Q_OBJECT

public:
    explicit Form1(Program &program);
    ~Form1() override;

    // What the two boxes hold: the parameters of every connection.
    QString databasePath() const;
    QString password() const;

    PointerModes &pointer() { return *m_pointer; }
    // The file name the open dialog remembers between openings.
    const QString &dialogFileName() const { return m_dialogFileName; }

public slots:
    // The start-up sequence.
    void Form_Load();
    void PushButton1_Click();
    void PushButton3_Click();
    void PushButton5_Click();
    void Text1_Change();
    void Text2_Change();
    void Text1_GotFocus();
    void Text2_GotFocus();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::Form1> ui;
    PointerModes *m_pointer;
    QString m_dialogFileName;
};
