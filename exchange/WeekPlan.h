#pragma once

#include "exchange/CalendarStore.h"

#include <QDate>
#include <QList>
#include <QString>

// The week plan: seven days side by side on landscape pages, each day's
// events in order. Built as HTML for the print window.
namespace exchange {

struct WeekPlanOptions
{
    QDate firstDay;
    int staffId = 0;    // 0: every staff member
    QString staffName;  // named in the heading when one is chosen
    QString styleSheet; // what the print view applies, to measure pages with
    // The printed page in layout pixels: the print view lays a page out 1040
    // wide; A4 landscape within 20 mm margins is then 688 high (Letter more).
    qreal pageWidth = 1040;
    qreal pageHeight = 688;
};

// Rows of events fill a page while they fit whole; the next row starts a new
// page with the headings again, so no event is cut between pages.
[[nodiscard]] QString weekPlanHtml(const QList<StoredEvent> &events, const WeekPlanOptions &options);

// weekPlan.html in the program's folder, beside printEvent.html.
[[nodiscard]] QString weekPlanPathIn(const QString &programFolder);

} // namespace exchange
