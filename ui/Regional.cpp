#include "ui/Regional.h"

#include <QLocale>
#include <QRegularExpression>

QString longDateText(const QDate &date)
{
    return QLocale().toString(date, QLocale::LongFormat);
}

QString longTimeText(const QTime &time)
{
    // Event times are wall-clock times without a zone; the long form of some
    // locales ends in the zone's name, which would be a guess here.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    format.remove(zone);
    return QLocale().toString(time, format.trimmed());
}
