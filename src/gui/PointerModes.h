#pragma once

#include <QCursor>
#include <QObject>
#include <QSet>

#include <optional>

class QWidget;

// A window's own mouse pointer: default, busy (the hourglass) or custom (the image of
// HAND-M.CUR). Moving over a push button switches the window to custom, over the background and
// the other pointer-aware controls back to default; neither ever touches busy.
class PointerModes : public QObject
{
    Q_OBJECT

public:
    enum Mode { Default = 0, Busy = 11, Custom = 99 };

    explicit PointerModes(QWidget &window);

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);

    // The custom pointer's image; without one the custom pointer is a pointing hand.
    void setCustomCursor(const QCursor &cursor);
    bool hasCustomImage() const { return m_custom.has_value(); }

    // Hovering over these switches to custom (buttons) or default (the rest) unless busy.
    void switchToCustomOver(QWidget *widget);
    void switchToDefaultOver(QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply();

    QWidget &m_window;
    Mode m_mode = Default;
    std::optional<QCursor> m_custom;
    QSet<QObject *> m_customOver;
    QSet<QObject *> m_defaultOver;
};

// Reads a Windows cursor file (.cur) as a pointer, with its hot spot; fails with "Invalid picture"
// (481) when the file is not a readable cursor.
QCursor LoadCursorFile(const QString &path);
