#include "store/ChangeHistory.h"

#include "store/Connection.h"
#include "store/Statements.h"

#include <sqlite3.h>

#include <pwd.h>
#include <unistd.h>

#include <mutex>

namespace store {
namespace {

const char *tableName(ChangeHistory::Table table)
{
    switch (table) {
    case ChangeHistory::Table::Events:
        return "tblscheduledevents";
    case ChangeHistory::Table::Templates:
        return "tblpredefinedevents";
    case ChangeHistory::Table::Staff:
        return "tblpocs";
    }
    return "";
}

QString shown(const QDateTime &utc)
{
    const QDateTime local = utc.toLocalTime();
    return statements::dateText(local.date()) + QLatin1Char(' ') + statements::timeText(local.time());
}

QString line(const char *what, const QString &who, const QDateTime &when)
{
    QString text = QStringLiteral("%1 by %2").arg(QLatin1String(what), who);
    if (when.isValid())
        text += QStringLiteral(" on ") + shown(when);
    return text;
}

QDateTime optionalTime(const RowSet &row, const QString &column)
{
    return row.value(column).isNull() ? QDateTime() : row.dateTime(column);
}

const QByteArray &userNameUtf8()
{
    static const QByteArray name = systemUserName().toUtf8();
    return name;
}

void orvennaUser(sqlite3_context *context, int, sqlite3_value **)
{
    const QByteArray &name = userNameUtf8();
    sqlite3_result_text(context, name.constData(), int(name.size()), SQLITE_STATIC);
}

// Runs for every SQLite connection the process opens, the driver's and any other.
int addFunctions(sqlite3 *db, const char **, const sqlite3_api_routines *)
{
    return sqlite3_create_function_v2(db, "orvenna_user", 0, SQLITE_UTF8 | SQLITE_INNOCUOUS, nullptr, orvennaUser,
                                      nullptr, nullptr, nullptr);
}

} // namespace

QString systemUserName()
{
    // The account, not what the environment claims: sudo and su keep USER.
    if (const passwd *pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    const QString fromEnvironment = qEnvironmentVariable("USER");
    return fromEnvironment.isEmpty() ? QStringLiteral("uid %1").arg(geteuid()) : fromEnvironment;
}

void registerFileFunctions()
{
    static std::once_flag once;
    std::call_once(once, []() {
        (void)userNameUtf8();
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(addFunctions));
    });
}

std::optional<RowHistory> ChangeHistory::read(Connection &conn, Table table, int id)
{
    RowSet row = conn.execute(QStringLiteral("SELECT createdBy, createdAt, changedBy, changedAt FROM tblChangeHistory"
                                             " WHERE tableName = '%1' AND idRow = %2")
                                  .arg(QLatin1String(tableName(table)), statements::id(id)));
    if (row.eof())
        return std::nullopt;
    RowHistory h;
    h.createdBy = row.optionalText(QStringLiteral("createdBy"));
    h.createdAt = optionalTime(row, QStringLiteral("createdAt"));
    h.changedBy = row.optionalText(QStringLiteral("changedBy"));
    h.changedAt = optionalTime(row, QStringLiteral("changedAt"));
    return h;
}

QString ChangeHistory::latest(const RowHistory &history)
{
    if (!history.changedBy.isEmpty())
        return line("Changed", history.changedBy, history.changedAt);
    if (!history.createdBy.isEmpty())
        return line("Created", history.createdBy, history.createdAt);
    return QString();
}

QString ChangeHistory::full(const RowHistory &history)
{
    QStringList lines;
    if (!history.createdBy.isEmpty())
        lines << line("Created", history.createdBy, history.createdAt);
    if (!history.changedBy.isEmpty())
        lines << line("Changed", history.changedBy, history.changedAt);
    return lines.join(QLatin1Char('\n'));
}

} // namespace store
