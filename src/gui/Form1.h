#pragma once

#include "gui/PointerModes.h"
#include "gui/ProgramWindow.h"

#include <memory>

class WindowHost;

namespace Access {
struct ConnectionParameters;
}

namespace Ui {
class Form1;
}

// The database selection window: the database path, its password, and "Next >".
//
// The controls keep the names of the window's layout (Form1.ui); what each one says:
//   PushButton1  "Load Sample/Example Database"
//   PushButton3  "Next >"
//   PushButton5  "..."  (opens the file dialog)
//   Label5       "MDB or ACCDB File:"  (beside Text1)
//   lblPassword  "Password (if required):"  (beside Text2)
//   Text1        no caption: the database path
//   Text2        no caption: the password, shown as "*"
//   Frame1       "Access Database"  (around the boxes and their labels)
// Enter in either box presses "Next >".
class Form1 : public ProgramWindow
{
    Q_OBJECT

public:
    explicit Form1(WindowHost &host);
    ~Form1() override;

    // What the two boxes hold now: the parameters of every connection, read when it is made.
    Access::ConnectionParameters connectionParameters() const;

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
