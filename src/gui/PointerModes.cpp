#include "gui/PointerModes.h"

#include "core/Failure.h"

#include <QEvent>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>
#include <QtEndian>

PointerModes::PointerModes(QWidget &window) : QObject(&window), m_window(window)
{
    switchToDefaultOver(&window);
}

void PointerModes::setMode(Mode mode)
{
    m_mode = mode;
    apply();
}

void PointerModes::setCustomCursor(const QCursor &cursor)
{
    m_custom = cursor;
    apply();
}

void PointerModes::switchToCustomOver(QWidget *widget)
{
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
    m_customOver.insert(widget);
}

void PointerModes::switchToDefaultOver(QWidget *widget)
{
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
    m_defaultOver.insert(widget);
}

bool PointerModes::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        // A move that a control inside did not take comes on to its parent; it belongs to the
        // control under the mouse, not to the parent.
        const auto *widget = static_cast<QWidget *>(watched);
        if (widget->childAt(static_cast<QMouseEvent *>(event)->position().toPoint()))
            return QObject::eventFilter(watched, event);
    }
    if ((event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) && m_mode != Busy) {
        if (m_customOver.contains(watched) && m_mode != Custom)
            setMode(Custom);
        else if (m_defaultOver.contains(watched) && m_mode != Default)
            setMode(Default);
    }
    return QObject::eventFilter(watched, event);
}

void PointerModes::apply()
{
    switch (m_mode) {
    case Default:
        m_window.unsetCursor();
        break;
    case Busy:
        m_window.setCursor(Qt::WaitCursor);
        break;
    case Custom:
        m_window.setCursor(m_custom ? *m_custom : QCursor(Qt::PointingHandCursor));
        break;
    }
}

QCursor LoadCursorFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure::fileAccess(path, file.errorString());
    const QByteArray bytes = file.readAll();
    const QImage image = QImage::fromData(bytes, "CUR");
    // A cursor file: reserved 0, type 2, at least one image; its first entry holds the hot spot.
    if (image.isNull() || bytes.size() < 22 || qFromLittleEndian<quint16>(bytes.constData() + 2) != 2)
        throw Failure(481, QStringLiteral("Invalid picture"));
    const int hotX = qFromLittleEndian<quint16>(bytes.constData() + 10);
    const int hotY = qFromLittleEndian<quint16>(bytes.constData() + 12);
    return QCursor(QPixmap::fromImage(image), std::min(hotX, image.width() - 1), std::min(hotY, image.height() - 1));
}
