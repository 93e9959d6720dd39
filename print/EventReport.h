#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace store { struct Event; }

// Building the report text of printEvent.html, free of files and windows.
namespace eventReport {

// The values of one event as the report prints them.
struct ReportEvent
{
    QString title;
    QString description;
    QString notes;
    QDateTime eventTime;
    QDateTime eventTimeEnd;
    QString pocName;
    QString pocDescription;
};

// The event as store::Events::readForReport reads it, with its staff member.
[[nodiscard]] ReportEvent reportEvent(const store::Event &event);

// Every CR LF pair becomes "<P>"; lone CRs and LFs stay.
[[nodiscard]] QString convertLineBreaks(const QString &text);
// Long date, one blank, long time.
[[nodiscard]] QString dateTimeText(const QDateTime &value);

[[nodiscard]] QString headText();      // ends without a line end
[[nodiscard]] QString tailText();
[[nodiscard]] QString bodyOpening();   // a fresh body
[[nodiscard]] QString pageSeparator(); // before every block but the first
[[nodiscard]] QString eventBlock(const ReportEvent &event);

// The file's bytes: the text and one final CR LF in ISO-8859-1. A character
// outside that set becomes a numeric character reference.
[[nodiscard]] QByteArray fileBytes(const QString &reportText);

} // namespace eventReport
