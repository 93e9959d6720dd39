#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

// The user's regional long forms, shared by the day titles, the heading and the report.
[[nodiscard]] QString longDateText(const QDate &date);
[[nodiscard]] QString longTimeText(const QTime &time);

// An event's start or end in a question: the long date and the 24-hour time.
[[nodiscard]] QString longDateTimeText(const QDateTime &t);
// An event's text in a question: on one line, at most 80 characters, quoted.
[[nodiscard]] QString quotedShort(QString text);
