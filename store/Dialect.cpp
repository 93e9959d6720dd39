#include "store/Dialect.h"

#include "store/StoreError.h"

#include <QDateTime>

namespace store {
namespace {

// Reads a run of 1..maxDigits digits at pos; -1 when there is none.
int readNumber(const QString &s, int &pos, int maxDigits)
{
    int value = 0;
    int digits = 0;
    while (pos < s.size() && s.at(pos).isDigit() && s.at(pos).unicode() < 128 && digits < maxDigits) {
        value = value * 10 + (s.at(pos).unicode() - '0');
        ++pos;
        ++digits;
    }
    return digits == 0 ? -1 : value;
}

bool expect(const QString &s, int &pos, QChar c)
{
    if (pos < s.size() && s.at(pos) == c) {
        ++pos;
        return true;
    }
    return false;
}

QString convertLiteral(const QString &body)
{
    auto malformed = [&body]() {
        return StoreError(QStringLiteral("Syntax error in date in query expression '#%1#'.").arg(body));
    };
    int pos = 0;
    const int month = readNumber(body, pos, 2);
    if (month < 0 || !expect(body, pos, QLatin1Char('/')))
        throw malformed();
    const int day = readNumber(body, pos, 2);
    if (day < 0 || !expect(body, pos, QLatin1Char('/')))
        throw malformed();
    const int yearStart = pos;
    const int year = readNumber(body, pos, 4);
    if (year < 0 || pos - yearStart != 4)
        throw malformed();
    int hour = 0, minute = 0, second = 0;
    if (pos < body.size()) {
        if (!expect(body, pos, QLatin1Char(' ')))
            throw malformed();
        hour = readNumber(body, pos, 2);
        if (hour < 0 || !expect(body, pos, QLatin1Char(':')))
            throw malformed();
        const int minuteStart = pos;
        minute = readNumber(body, pos, 2);
        if (minute < 0 || pos - minuteStart != 2)
            throw malformed();
        if (expect(body, pos, QLatin1Char(':'))) {
            const int secondStart = pos;
            second = readNumber(body, pos, 2);
            if (second < 0 || pos - secondStart != 2)
                throw malformed();
        }
        if (pos != body.size())
            throw malformed();
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        throw malformed();
    return QLatin1Char('\'') + storedText(date, time) + QLatin1Char('\'');
}

} // namespace

QString storedText(const QDate &date, const QTime &time)
{
    return date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + time.toString(QStringLiteral("HH:mm:ss"));
}

QString toSqlite(const QString &statement)
{
    return toEngine(statement, Engine::Sqlite);
}

QString toPostgres(const QString &statement)
{
    return toEngine(statement, Engine::Postgres);
}

QString toEngine(const QString &statement, Engine engine)
{
    // PostgreSQL types the literal, so it compares as a timestamp, not as text.
    const QLatin1String typeName = engine == Engine::Postgres ? QLatin1String("TIMESTAMP ") : QLatin1String();
    if (!statement.contains(QLatin1Char('#')))
        return statement;
    QString out;
    out.reserve(statement.size() + 16);
    bool inText = false;
    for (int i = 0; i < statement.size(); ++i) {
        const QChar c = statement.at(i);
        if (c == QLatin1Char('\'')) {
            inText = !inText; // a doubled quote toggles twice and stays inside
            out.append(c);
        } else if (c == QLatin1Char('#') && !inText) {
            const int close = statement.indexOf(QLatin1Char('#'), i + 1);
            if (close < 0)
                throw StoreError(QStringLiteral("Syntax error in date in query expression '%1'.").arg(statement.mid(i)));
            out.append(typeName);
            out.append(convertLiteral(statement.mid(i + 1, close - i - 1)));
            i = close;
        } else {
            out.append(c);
        }
    }
    return out;
}

QString toStored(const QDateTime &value)
{
    return storedText(value.date(), value.time());
}

QDateTime fromStored(const QString &text)
{
    // Wall-clock values: carried as UTC so no daylight-saving gap can move them.
    const QString t = text.trimmed();
    const QDate date = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
    QTime time(0, 0);
    bool ok = date.isValid();
    if (ok && t.size() > 10) {
        const QChar sep = t.at(10);
        const QString rest = t.mid(11);
        ok = sep == QLatin1Char(' ') || sep == QLatin1Char('T');
        if (ok) {
            time = QTime::fromString(rest, rest.size() == 5 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
            ok = time.isValid() && (rest.size() == 5 || rest.size() == 8);
        }
    }
    if (!ok)
        throw StoreError(QStringLiteral("Type mismatch: '%1' is not a date and time.").arg(text));
    return QDateTime(date, time, Qt::UTC);
}

} // namespace store
