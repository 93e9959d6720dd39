#pragma once

#include "exchange/CalendarStore.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QUrl>

// The week plan: seven days side by side on landscape pages, each day's
// events in order. Built as HTML for the print window.
namespace exchange {

struct WeekPlanOptions
{
    QDate firstDay;
    int staffId = 0;    // 0: every staff member
    QString staffName;  // named in the heading when one is chosen
    QString styleSheet; // what the print view applies, to measure pages with
    QUrl fileUrl;       // of the plan's file: its css/css.css is read from beside it, as the print view does
    // The printed page in layout pixels: the print view lays a page out at its
    // own width in screen pixels, A4 landscape within 12 mm margins at 96 dpi.
    qreal pageWidth = 1032;
    qreal pageHeight = 703;
};

// Each day's events run down its own column and fill a page while they fit
// whole; the rest go on a next page under the headings again, marked
// "(continued)", so no event is cut between pages.
[[nodiscard]] QString weekPlanHtml(const QList<StoredEvent> &events, const WeekPlanOptions &options);

// weekPlan.html in the program's folder, beside printEvent.html.
[[nodiscard]] QString weekPlanPathIn(const QString &programFolder);

} // namespace exchange
