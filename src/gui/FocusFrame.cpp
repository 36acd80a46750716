#include "gui/FocusFrame.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace {

bool isList(const QWidget *widget)
{
    return qobject_cast<const QAbstractItemView *>(widget) != nullptr;
}

bool needsFrame(const QWidget *widget)
{
    return isList(widget) || qobject_cast<const QAbstractButton *>(widget) != nullptr;
}

} // namespace

FocusFrame::FocusFrame(QWidget &window) : QWidget(&window), m_window(window)
{
    setObjectName(QStringLiteral("FocusFrame"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { follow(now); });
}

void FocusFrame::follow(QWidget *focused)
{
    QWidget *target = focused && m_window.isAncestorOf(focused) && needsFrame(focused) ? focused : nullptr;
    if (target == m_target)
        return;
    if (m_target)
        m_target->removeEventFilter(this);
    m_target = target;
    if (!target) {
        hide();
        return;
    }
    target->installEventFilter(this);
    setParent(target);
    setGeometry(target->rect());
    raise();
    show();
    update();
}

bool FocusFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_target && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        setGeometry(m_target->rect());
        raise();
    }
    return QWidget::eventFilter(watched, event);
}

void FocusFrame::paintEvent(QPaintEvent *)
{
    if (!m_target)
        return;
    QPainter painter(this);
    if (isList(m_target)) {
        QPen pen(palette().color(QPalette::Active, QPalette::Highlight), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    } else {
        QPen pen(palette().color(QPalette::Active, QPalette::ButtonText), 1, Qt::DotLine);
        painter.setPen(pen);
        painter.drawRect(rect().adjusted(4, 4, -5, -5));
    }
}
