#include "model/Calendar.h"

#include <algorithm>

namespace model {

Calendar::Calendar(const QString &connectionString, QObject *parent)
    : QObject(parent), m_connectionString(connectionString)
{
    connect(&m_listener, &store::ChangeListener::changed, this, &Calendar::heard);
}

void Calendar::listen()
{
    m_listener.listen(m_connectionString);
}

void Calendar::tellEvents(const QDate &first, const QDate &last)
{
    emit eventsChanged(first, last, Origin::ThisCopy);
}

void Calendar::tellTemplates()
{
    emit templatesChanged(Origin::ThisCopy);
}

void Calendar::tellStaff()
{
    emit staffChanged(Origin::ThisCopy);
}

bool Calendar::touches(const QDate &first, const QDate &last, const QDate &from, const QDate &to)
{
    if (!first.isValid() || !last.isValid())
        return true;
    return std::min(first, last) <= to && std::max(first, last) >= from;
}

void Calendar::heard(const QString &table)
{
    // The announcement names a table only; an empty one: changes were missed.
    const bool any = table.isEmpty();
    if (any || table == QLatin1String("tblscheduledevents"))
        emit eventsChanged(QDate(), QDate(), Origin::OtherCopy);
    if (any || table == QLatin1String("tblpredefinedevents"))
        emit templatesChanged(Origin::OtherCopy);
    if (any || table == QLatin1String("tblpocs"))
        emit staffChanged(Origin::OtherCopy);
}

} // namespace model
