#include "exchange/Repeat.h"

namespace exchange {
namespace {

statements::EventValues shifted(statements::EventValues v, qint64 days)
{
    v.startDate = v.startDate.addDays(days);
    v.endDate = v.endDate.addDays(days);
    return v;
}

} // namespace

QList<statements::EventValues> weeklyCopies(const statements::EventValues &event, int weeks)
{
    QList<statements::EventValues> copies;
    for (int week = 1; week <= weeks; ++week)
        copies.append(shifted(event, 7 * qint64(week)));
    return copies;
}

QList<statements::EventValues> weeklyCopiesUntil(const statements::EventValues &event, const QDate &until)
{
    QList<statements::EventValues> copies;
    for (qint64 week = 1; event.startDate.addDays(7 * week) <= until; ++week)
        copies.append(shifted(event, 7 * week));
    return copies;
}

QList<statements::EventValues> shiftedCopies(const QList<statements::EventValues> &events, qint64 days)
{
    QList<statements::EventValues> copies;
    copies.reserve(events.size());
    for (const statements::EventValues &v : events)
        copies.append(shifted(v, days));
    return copies;
}

} // namespace exchange
