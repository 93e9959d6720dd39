#include "store/Dialect.h"

#include "store/StoreError.h"

#include <QDateTime>
#include <QRegularExpression>

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

QDateTime parseLiteral(const QString &body)
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
    return QDateTime(date, time, Qt::UTC);
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// The text just above every text that begins with `prefix` (its last
// character raised by one), so `< bound` takes in every such text.
QString pastPrefix(QString prefix)
{
    prefix.back() = QChar(prefix.back().unicode() + 1);
    return prefix;
}

// Where "<column> BETWEEN " ends `out`: the column's extent, and where the
// BETWEEN begins. An empty column when the text ends otherwise.
struct Between
{
    qsizetype columnAt = 0;
    qsizetype columnEnd = 0;
    qsizetype keywordAt = 0;
    [[nodiscard]] bool found() const { return columnEnd > columnAt; }
};

Between betweenBefore(const QString &out)
{
    auto isName = [](QChar c) {
        return c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('.'));
    };
    Between b;
    qsizetype end = out.size();
    while (end > 0 && out.at(end - 1).isSpace())
        --end;
    const QLatin1String keyword("BETWEEN");
    const qsizetype at = end - keyword.size();
    if (at < 1 || QStringView(out).mid(at, keyword.size()).compare(keyword, Qt::CaseInsensitive) != 0
        || !out.at(at - 1).isSpace())
        return b;
    qsizetype nameEnd = at;
    while (nameEnd > 0 && out.at(nameEnd - 1).isSpace())
        --nameEnd;
    qsizetype nameStart = nameEnd;
    while (nameStart > 0 && isName(out.at(nameStart - 1)))
        --nameStart;
    // "x NOT BETWEEN" keeps its plain form.
    if (QStringView(out).mid(nameStart, nameEnd - nameStart).compare(QLatin1String("NOT"), Qt::CaseInsensitive) == 0)
        return b;
    b.columnAt = nameStart;
    b.columnEnd = nameEnd;
    b.keywordAt = at;
    return b;
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
            const QDateTime value = parseLiteral(statement.mid(i + 1, close - i - 1));
            i = close;
            // Whole days (midnight to 23:59:59) run up to the next midnight: on
            // SQLite every stored text that begins with those dates, so a start
            // written by another tool in an accepted form other than ours is
            // found on its day too; on the server a start with a fraction of a
            // second after 23:59:59. Either way the range runs on the index.
            static const QRegularExpression upper(QStringLiteral("\\s+AND\\s+#([^#]*)#"),
                                                  QRegularExpression::CaseInsensitiveOption);
            const Between between = value.time() == QTime(0, 0) ? betweenBefore(out) : Between();
            const QRegularExpressionMatch hi = between.found()
                ? upper.match(statement, i + 1, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption)
                : QRegularExpressionMatch();
            if (hi.hasMatch()) {
                const QDateTime last = parseLiteral(hi.captured(1));
                if (last.time() == QTime(23, 59, 59) && last.date() >= value.date()) {
                    const QString column = out.mid(between.columnAt, between.columnEnd - between.columnAt);
                    out.truncate(between.keywordAt);
                    out.insert(between.columnAt, QLatin1Char('('));
                    const QString from = engine == Engine::Sqlite
                        ? quoted(value.date().toString(QStringLiteral("yyyy-MM-dd")))
                        : typeName + quoted(storedText(value.date(), QTime(0, 0)));
                    const QString to = engine == Engine::Sqlite
                        ? quoted(pastPrefix(last.date().toString(QStringLiteral("yyyy-MM-dd"))))
                        : typeName + quoted(storedText(last.date().addDays(1), QTime(0, 0)));
                    out += QStringLiteral(">= ") + from + QStringLiteral(" AND ") + column + QStringLiteral(" < ") + to
                        + QLatin1Char(')');
                    i = int(hi.capturedEnd(0)) - 1;
                    continue;
                }
            }
            out.append(typeName);
            out.append(quoted(storedText(value.date(), value.time())));
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
    // 'YYYY-MM-DD HH:MM:SS' as the program writes it; also what other tools
    // write for the same value: no seconds, or a fraction of them, a 'T'
    // instead of the blank, a one-digit hour, or the date alone (midnight).
    // Every accepted form begins with the date, which the day query relies on;
    // blanks may follow.
    int pos = 0;
    int end = int(text.size());
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    int year = -1, month = -1, day = -1, hour = 0, minute = 0, second = 0, msec = 0;
    bool ok = (year = readNumber(text, pos, 4)) >= 0 && pos == 4 && expect(text, pos, QLatin1Char('-'))
        && (month = readNumber(text, pos, 2)) >= 0 && pos == 7 && expect(text, pos, QLatin1Char('-'))
        && (day = readNumber(text, pos, 2)) >= 0 && pos == 10;
    if (ok && pos < end) {
        ok = expect(text, pos, QLatin1Char(' ')) || expect(text, pos, QLatin1Char('T'));
        ok = ok && (hour = readNumber(text, pos, 2)) >= 0 && expect(text, pos, QLatin1Char(':'));
        const int minuteStart = pos;
        ok = ok && (minute = readNumber(text, pos, 2)) >= 0 && pos - minuteStart == 2;
        if (ok && expect(text, pos, QLatin1Char(':'))) {
            const int secondStart = pos;
            ok = (second = readNumber(text, pos, 2)) >= 0 && pos - secondStart == 2;
            if (ok && expect(text, pos, QLatin1Char('.'))) {
                const int fractionStart = pos;
                const int digits = readNumber(text, pos, 3);
                ok = digits >= 0;
                msec = ok ? digits * (pos - fractionStart == 1 ? 100 : pos - fractionStart == 2 ? 10 : 1) : 0;
                while (pos < text.size() && text.at(pos).unicode() >= '0' && text.at(pos).unicode() <= '9')
                    ++pos;
            }
        }
        ok = ok && pos == end;
    }
    const QDate date = ok ? QDate(year, month, day) : QDate();
    const QTime time = ok ? QTime(hour, minute, second, msec) : QTime();
    if (!date.isValid() || !time.isValid())
        throw StoreError(QStringLiteral("Type mismatch: '%1' is not a date and time.").arg(text));
    // Wall-clock values: carried as UTC so no daylight-saving gap can move them.
    return QDateTime(date, time, Qt::UTC);
}

} // namespace store
