#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// The user's regional long forms, shared by the day titles, the heading and the report.
[[nodiscard]] QString longDateText(const QDate &date);
[[nodiscard]] QString longTimeText(const QTime &time);
