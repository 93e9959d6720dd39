#include "ui/ActiveResize.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <cmath>

ActiveResize::ActiveResize(QWidget *client, QSize designSize)
    : QObject(client), m_client(client), m_designSize(designSize)
{
    client->installEventFilter(this);
}

void ActiveResize::add(QWidget *control)
{
    m_entries.push_back({control, control->geometry()});
}

void ActiveResize::apply()
{
    if (m_designSize.isEmpty())
        return;
    const double sx = double(m_client->width()) / m_designSize.width();
    const double sy = double(m_client->height()) / m_designSize.height();
    for (const Entry &e : std::as_const(m_entries)) {
        const int left = int(std::lround(e.design.x() * sx));
        const int top = int(std::lround(e.design.y() * sy));
        const int right = int(std::lround((e.design.x() + e.design.width()) * sx));
        const int bottom = int(std::lround((e.design.y() + e.design.height()) * sy));
        e.control->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
    }
}

bool ActiveResize::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        apply();
    return QObject::eventFilter(watched, event);
}
