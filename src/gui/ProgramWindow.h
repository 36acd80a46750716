#pragma once

#include <QWidget>

class FocusFrame;
class WindowHost;

// What both windows of the program share: they are first shown centred on the screen, and
// closing either one ends the program.
class ProgramWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ProgramWindow(WindowHost &host);

    // Enter or keypad Enter with no modifier (whether it is held down is the caller's question).
    static bool isPlainEnter(const QEvent *event);

    // Shows which control has the keyboard focus.
    FocusFrame *focusFrame() const { return m_focusFrame; }

protected:
    // Called by each window once its controls exist: Enter (and keypad Enter) presses the push
    // button that has the focus, as Space does; there is no default button that would catch Enter
    // everywhere. The focused control always shows that it has the focus, and the window opens
    // with the focus on the first control of its tab order.
    void setUpKeyboard(QWidget &firstControl);

    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

    WindowHost &m_host;

private:
    bool m_shownBefore = false;
    FocusFrame *m_focusFrame = nullptr;
    QWidget *m_firstControl = nullptr;
};
