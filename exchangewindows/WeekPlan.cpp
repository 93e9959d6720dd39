#include "exchangewindows/WeekPlan.h"

#include "ui/Regional.h"

#include <QDir>
#include <QRegularExpression>
#include <QTextDocument>

#include <algorithm>

namespace exchange {
namespace {

constexpr int kDays = 7;
constexpr int kDescriptionLines = 3;
constexpr int kLineLength = 90;
constexpr int kTitleLength = 200;
// The print view pages the same document at the same size; what is left is
// rounding.
constexpr qreal kPageReserve = 4;

QString elided(const QString &text, int length)
{
    return text.size() > length ? text.left(length - 3) + QStringLiteral("...") : text;
}

QString timeRange(const statements::EventValues &v)
{
    QString end = statements::timeText(v.endTime);
    if (v.endDate != v.startDate)
        end = v.endDate.toString(QStringLiteral("M/d ")) + end;
    return statements::timeText(v.startTime) + QStringLiteral("-") + end;
}

QString eventCell(const StoredEvent &e)
{
    QString cell = QStringLiteral("<b>") + timeRange(e.values) + QStringLiteral("</b><br>")
        + QStringLiteral("<span class='plan_title'>") + elided(e.values.title, kTitleLength).toHtmlEscaped()
        + QStringLiteral("</span>");
    if (!e.staffName.isEmpty())
        cell += QStringLiteral("<br><i>") + e.staffName.toHtmlEscaped() + QStringLiteral("</i>");
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    int shown = 0;
    for (const QString &line : e.values.description.split(lineBreak, Qt::SkipEmptyParts)) {
        if (line.trimmed().isEmpty())
            continue;
        if (shown == kDescriptionLines) {
            cell += QStringLiteral(" ...");
            break;
        }
        cell += (shown == 0 ? QStringLiteral("<br><small>") : QStringLiteral("<br>"))
            + elided(line.trimmed(), kLineLength).toHtmlEscaped();
        ++shown;
    }
    if (shown > 0)
        cell += QStringLiteral("</small>");
    return cell;
}

QString heading(const WeekPlanOptions &o, int page)
{
    // One line for the title and the week: the room goes to the events.
    QString text = QStringLiteral("<p class='all_headline'>Week Plan &nbsp; ")
        + longDateText(o.firstDay).toHtmlEscaped() + QStringLiteral(" - ")
        + longDateText(o.firstDay.addDays(kDays - 1)).toHtmlEscaped();
    if (o.staffId != 0)
        text += QStringLiteral(" &middot; ") + o.staffName.toHtmlEscaped();
    if (page > 0)
        text += QStringLiteral(" (continued)");
    text += QStringLiteral("</p>\r\n<table width='100%' border='1' cellspacing='0' cellpadding='4' class='table_all'>\r\n<tr>");
    for (int d = 0; d < kDays; ++d) {
        const QDate day = o.firstDay.addDays(d);
        text += QStringLiteral("<th width='14%' class='bg_table_sab'>") + QLocale().dayName(day.dayOfWeek()).toHtmlEscaped()
            + QStringLiteral(" ") + day.toString(QStringLiteral("M/d")) + QStringLiteral("</th>");
    }
    return text + QStringLiteral("</tr>\r\n");
}

// One row: each day's events run down its own column.
QString pageHtml(const WeekPlanOptions &o, int page, const QList<QStringList> &columns)
{
    QString html = heading(o, page) + QStringLiteral("<tr>");
    for (const QStringList &column : columns) {
        html += QStringLiteral("<td width='14%' valign='top' class='text_all'>");
        if (column.isEmpty())
            html += QStringLiteral("&nbsp;");
        // A little space between events rather than a rule: a normal week's
        // events then fit one page.
        for (qsizetype i = 0; i < column.size(); ++i)
            html += QStringLiteral("<p style='margin-top: %1px; margin-bottom: 0px; font-size: 9pt'>").arg(i == 0 ? 0 : 4)
                + column.at(i) + QStringLiteral("</p>");
        html += QStringLiteral("</td>");
    }
    return html + QStringLiteral("</tr>\r\n</table>\r\n");
}

QString document(const QString &body)
{
    return QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n<html>\r\n<head>\r\n"
                          "<title>Week Plan</title>\r\n<link href=\"css/css.css\" rel=\"stylesheet\" type=\"text/css\">\r\n"
                          "</head>\r\n<body>\r\n")
        + body + QStringLiteral("</body>\r\n</html>");
}

bool fitsOnePage(const WeekPlanOptions &o, const QString &page)
{
    QTextDocument doc;
    doc.setDefaultStyleSheet(o.styleSheet);
    // Else the style sheet link is looked for in the current folder.
    doc.setBaseUrl(o.fileUrl);
    doc.setHtml(document(page));
    doc.setTextWidth(o.pageWidth);
    return doc.size().height() <= o.pageHeight - kPageReserve;
}

} // namespace

QString weekPlanHtml(const QList<StoredEvent> &events, const WeekPlanOptions &o)
{
    QList<QStringList> days(kDays);
    for (const StoredEvent &e : events) {
        const qint64 d = o.firstDay.daysTo(e.values.startDate);
        if (d < 0 || d >= kDays || (o.staffId != 0 && e.values.staffId != o.staffId))
            continue;
        days[d].append(eventCell(e));
    }
    const bool none = std::all_of(days.cbegin(), days.cend(), [](const QStringList &day) { return day.isEmpty(); });
    if (none) {
        return document(heading(o, 0)
                        + QStringLiteral("<tr><td colspan='7' class='text_all'>No events.</td></tr>\r\n</table>\r\n"));
    }

    // Each page takes, day by day, the next events of that day while the
    // page still fits; what is left goes on under the headings of the next.
    QList<qsizetype> next(kDays, 0);
    QString body;
    for (int page = 0;; ++page) {
        QList<QStringList> columns(kDays);
        bool placed = false;
        for (int d = 0; d < kDays; ++d) {
            while (next[d] < days[d].size()) {
                columns[d].append(days[d].at(next[d]));
                // An event taller than a page still gets a page of its own.
                if (placed && !fitsOnePage(o, pageHtml(o, page, columns))) {
                    columns[d].removeLast();
                    break;
                }
                placed = true;
                ++next[d];
            }
        }
        if (page > 0)
            body += QStringLiteral("<p class='breakhere'></p>\r\n");
        body += pageHtml(o, page, columns);
        bool left = false;
        for (int d = 0; d < kDays; ++d)
            left = left || next[d] < days[d].size();
        if (!left)
            break;
    }
    return document(body);
}

QString weekPlanPathIn(const QString &programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("weekPlan.html"));
}

} // namespace exchange
