#include "exchange/WeekPlan.h"

#include "ui/Regional.h"

#include <QDir>
#include <QRegularExpression>
#include <QTextDocument>

namespace exchange {
namespace {

constexpr int kDays = 7;
constexpr int kDescriptionLines = 3;
constexpr int kLineLength = 90;
constexpr int kTitleLength = 200;
// Room left for what printing adds around each page.
constexpr qreal kPageReserve = 40;

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
    QString text = QStringLiteral("<p class='head_title'>Week Plan</p><p class='all_headline'>")
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
            + QStringLiteral("<br>") + day.toString(QStringLiteral("M/d")) + QStringLiteral("</th>");
    }
    return text + QStringLiteral("</tr>\r\n");
}

QString pageHtml(const WeekPlanOptions &o, int page, const QStringList &rows)
{
    QString html = heading(o, page);
    for (const QString &row : rows)
        html += row;
    return html + QStringLiteral("</table>\r\n");
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
    qsizetype depth = 0;
    for (const QStringList &day : days)
        depth = std::max(depth, day.size());

    // Row r holds each day's r-th event.
    QStringList rows;
    for (qsizetype r = 0; r < depth; ++r) {
        QString row = QStringLiteral("<tr>");
        for (const QStringList &day : days)
            row += QStringLiteral("<td width='14%' valign='top' class='text_all'>") + day.value(r, QStringLiteral("&nbsp;"))
                + QStringLiteral("</td>");
        rows.append(row + QStringLiteral("</tr>\r\n"));
    }
    if (rows.isEmpty())
        rows.append(QStringLiteral("<tr><td colspan='7' class='text_all'>No events.</td></tr>\r\n"));

    QString body;
    int page = 0;
    QStringList onPage;
    for (const QString &row : rows) {
        QStringList candidate = onPage;
        candidate.append(row);
        if (!onPage.isEmpty() && !fitsOnePage(o, pageHtml(o, page, candidate))) {
            body += pageHtml(o, page, onPage);
            ++page;
            body += QStringLiteral("<p class='breakhere'></p>\r\n");
            candidate = QStringList{row};
        }
        onPage = candidate;
    }
    body += pageHtml(o, page, onPage);
    return document(body);
}

QString weekPlanPathIn(const QString &programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("weekPlan.html"));
}

} // namespace exchange
