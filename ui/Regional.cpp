#include "ui/Regional.h"

#include <QLocale>

QString longDateText(const QDate &date)
{
    return QLocale().toString(date, QLocale::LongFormat);
}

QString longTimeText(const QTime &time)
{
    return QLocale().toString(time, QLocale::LongFormat);
}
