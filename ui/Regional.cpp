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

QString longDateTimeText(const QDateTime &t)
{
    return longDateText(t.date()) + QLatin1Char(' ') + t.time().toString(QStringLiteral("HH:mm"));
}

QString quotedShort(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" / "));
    text.replace(QLatin1Char('\n'), QLatin1String(" / "));
    if (text.size() > 80)
        text = text.left(77) + QStringLiteral("...");
    return QLatin1Char('"') + text + QLatin1Char('"');
}
