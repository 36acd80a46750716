#pragma once

#include <QPointer>
#include <QWidget>

// Shows which control of a window has the keyboard focus, whether it came there by Tab or by a
// click: a frame in the highlight colour around the table list, a dotted rectangle inside a push
// button. Text boxes show their caret and are left alone. The frame is drawn by a transparent
// child laid over the focused control, so the controls keep their own look.
class FocusFrame : public QWidget
{
    Q_OBJECT

public:
    explicit FocusFrame(QWidget &window);

    // The control the frame is drawn on; null when none of the window's controls has the focus or
    // the focused one needs no frame.
    QWidget *target() const { return m_target; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void follow(QWidget *focused);

    QWidget &m_window;
    QPointer<QWidget> m_target;
};
