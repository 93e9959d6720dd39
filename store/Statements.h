#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// The texts of every statement the program issues, built by concatenation from
// fixed pieces. Text values lose their apostrophes (each becomes one blank);
// nothing else is escaped.
namespace statements {

[[nodiscard]] QString cleanText(const QString &value);
[[nodiscard]] QString id(int value);
// Month/day/four-digit year, whatever the user's regional settings.
[[nodiscard]] QString dateText(const QDate &date);
// 24-hour hours and minutes.
[[nodiscard]] QString timeText(const QTime &time);

struct EventValues
{
    QString title;
    QString description;
    QString notes;
    QDate startDate;
    QTime startTime;
    QDate endDate;
    QTime endTime;
    int staffId = 0;
};

// Scheduled events
[[nodiscard]] QString eventsOfDay(const QDate &day);                       // S1
[[nodiscard]] QString eventById(int eventId);                              // S2
[[nodiscard]] QString insertEvent(const EventValues &v);                   // S3
[[nodiscard]] QString updateEvent(const EventValues &v, int eventId);      // S4
[[nodiscard]] QString deleteEvent(int eventId);                            // S5
[[nodiscard]] QString eventReport(int eventId);                            // S6
// Templates
[[nodiscard]] QString allTemplates();                                      // S7
[[nodiscard]] QString templateById(int templateId);                        // S8
[[nodiscard]] QString insertTemplate(const QString &title, const QString &description);              // S9
[[nodiscard]] QString updateTemplate(const QString &title, const QString &description, int templateId); // S10
[[nodiscard]] QString deleteTemplate(int templateId);                      // S11
// Staff members
[[nodiscard]] QString allStaff();                                          // S12
[[nodiscard]] QString staffById(int staffId);                              // S13
[[nodiscard]] QString insertStaff(const QString &name, const QString &notes);              // S14
[[nodiscard]] QString updateStaff(const QString &name, const QString &notes, int staffId);  // S15
[[nodiscard]] QString deleteStaff(int staffId);                            // S16

} // namespace statements
