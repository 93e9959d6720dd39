#include "store/StoreError.h"

#include "store/Engine.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlError>

namespace store {
namespace {

QString driverTextOf(const QSqlError &error)
{
    QString text = error.driverText();
    const QString db = error.databaseText();
    if (!db.isEmpty() && db != text)
        text = text.isEmpty() ? db : text + QStringLiteral(": ") + db;
    return text.isEmpty() ? QStringLiteral("Unknown database error.") : text;
}

// The server driver's words, on one line and without the status code it
// appends in brackets, which is empty when the connection itself failed.
QString serverTextOf(const QSqlError &error)
{
    static const QRegularExpression status(QStringLiteral("\\([0-9A-Z]*\\)\\s*$"));
    QString database = error.databaseText();
    database.remove(status);
    return driverTextOf(QSqlError(error.driverText(), database.simplified(), error.type()));
}

// SQLite's primary result codes; the driver may hand on extended ones.
enum : int {
    kSqliteBusy = 5,
    kSqliteLocked = 6,
    kSqliteReadOnly = 8,
    kSqliteCorrupt = 11,
    kSqliteFull = 13,
    kSqliteNotADb = 26,
};

// A calendar named at the start of a sentence.
QString calendar(const QString &path)
{
    return isServerUrl(path) ? QStringLiteral("The shared calendar %1").arg(path)
                             : QStringLiteral("The calendar file %1").arg(QDir::toNativeSeparators(path));
}

} // namespace

// Every message about the store passes here, so no address in one keeps its password.
StoreError::StoreError(Reason reason, const QString &path, const QString &driverText)
    : std::runtime_error(withoutPassword(driverText).toStdString()),
      m_reason(reason),
      m_path(withoutPassword(path)),
      m_driverText(withoutPassword(driverText))
{
}

QString StoreError::description() const
{
    const QString plain = plainReason(m_reason, m_path);
    return plain.isEmpty() ? m_driverText : plain;
}

QString StoreError::details() const
{
    return m_reason == Reason::Other ? QString() : m_driverText;
}

QString plainReason(StoreError::Reason reason, const QString &path)
{
    const QString file = QDir::toNativeSeparators(path);
    switch (reason) {
    case StoreError::Reason::ReadOnly:
        if (isServerUrl(path))
            return QStringLiteral("Your login may only read the shared calendar %1, so nothing was saved. Ask whoever "
                                  "keeps the server for a login that may make changes.").arg(path);
        return QStringLiteral("The calendar file %1 is read-only, so nothing can be saved. Make the file and its "
                              "folder writable, then try again.").arg(file);
    case StoreError::Reason::Locked:
        if (isServerUrl(path))
            return QStringLiteral("Another copy of Orvenna was changing the same rows of the shared calendar %1 at the "
                                  "same moment, so nothing was saved. Try again.").arg(path);
        return QStringLiteral("Another program holds the calendar file %1 locked. Close that program or wait until "
                              "it has finished, then try again.").arg(file);
    case StoreError::Reason::Missing:
        return QStringLiteral("The calendar file %1 is missing. Put it back, or make a new one with "
                              "orvenna-newdb.").arg(file);
    case StoreError::Reason::DiskFull:
        if (isServerUrl(path))
            return QStringLiteral("The disk of the server of the shared calendar %1 is full, so nothing was saved. Ask "
                                  "whoever keeps the server to free some space, then try again.").arg(path);
        return QStringLiteral("The disk that holds the calendar file %1 is full. Free some space on it, then try "
                              "again.").arg(file);
    case StoreError::Reason::NotCalendar:
        return QStringLiteral("The file %1 is not a calendar database: its tables are missing. Replace it with a "
                              "calendar file, or make a new one with orvenna-newdb.").arg(file);
    case StoreError::Reason::Damaged:
        return QStringLiteral("The calendar file %1 is damaged. Put back a copy from a backup, or make a new one "
                              "with orvenna-newdb.").arg(file);
    case StoreError::Reason::ServerLost:
        return QStringLiteral("The connection to the server of the shared calendar %1 was lost. Check that the server "
                              "is running and that this computer can reach it, then try again.").arg(path);
    case StoreError::Reason::Newer:
        return QStringLiteral("%1 was made by a newer version of Orvenna, which this one cannot use, so it was left "
                              "as it is. Open it with that newer Orvenna.").arg(calendar(path));
    case StoreError::Reason::Outdated:
        return isServerUrl(path)
            ? QStringLiteral("%1 comes from an older Orvenna and could not be brought up to date when it was opened, "
                             "so it cannot take imports yet. Open it once with a login that may create tables, then "
                             "try again.").arg(calendar(path))
            : QStringLiteral("%1 comes from an older Orvenna and could not be brought up to date when it was opened, "
                             "so it cannot take imports yet. Make the file and its folder writable, then try again.")
                  .arg(calendar(path));
    case StoreError::Reason::Standby:
        return QStringLiteral("The server of the shared calendar %1 takes no changes at the moment (it is a standby, or "
                              "set to read-only), so nothing was saved. Ask whoever keeps the server, then try again.")
            .arg(path);
    case StoreError::Reason::Duplicate:
        return QStringLiteral("The shared calendar %1 already holds a row with the key this one would get, so nothing "
                              "was saved. Ask whoever keeps the server to check the calendar's key counters.")
            .arg(path);
    case StoreError::Reason::Other:
        break;
    }
    return {};
}

StoreError::Reason reasonOfSqlState(const QString &sqlState)
{
    using R = StoreError::Reason;
    // 08: connection exceptions; 57P01-57P03: the server shuts down, crashed, or is not taking sessions yet.
    if (sqlState.startsWith(QLatin1String("08")) || sqlState == QLatin1String("57P01")
        || sqlState == QLatin1String("57P02") || sqlState == QLatin1String("57P03"))
        return R::ServerLost;
    if (sqlState == QLatin1String("42501"))
        return R::ReadOnly;
    // Serialization failure, deadlock, a lock not had in time.
    if (sqlState == QLatin1String("40001") || sqlState == QLatin1String("40P01") || sqlState == QLatin1String("55P03"))
        return R::Locked;
    if (sqlState == QLatin1String("25006"))
        return R::Standby;
    if (sqlState == QLatin1String("23505"))
        return R::Duplicate;
    if (sqlState == QLatin1String("53100"))
        return R::DiskFull;
    return R::Other;
}

StoreError errorFrom(const QSqlError &error, const QString &path)
{
    // The server's words are in its own language; its SQLSTATE is not.
    if (isServerUrl(path))
        return StoreError(reasonOfSqlState(error.nativeErrorCode()), path, serverTextOf(error));
    const QString text = driverTextOf(error);
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric) & 0xff;
    StoreError::Reason reason = StoreError::Reason::Other;
    if (numeric) {
        switch (code) {
        case kSqliteBusy:
        case kSqliteLocked: reason = StoreError::Reason::Locked; break;
        case kSqliteReadOnly: reason = StoreError::Reason::ReadOnly; break;
        case kSqliteFull: reason = StoreError::Reason::DiskFull; break;
        case kSqliteNotADb: reason = StoreError::Reason::NotCalendar; break;
        case kSqliteCorrupt: reason = StoreError::Reason::Damaged; break;
        default: break;
        }
    }
    // A failed COMMIT comes without SQLite's code, only with its words.
    if (reason == StoreError::Reason::Other && !numeric) {
        if (text.contains(QLatin1String("database or disk is full")))
            reason = StoreError::Reason::DiskFull;
        else if (text.contains(QLatin1String("database is locked")))
            reason = StoreError::Reason::Locked;
        else if (text.contains(QLatin1String("attempt to write a readonly database")))
            reason = StoreError::Reason::ReadOnly;
    }
    // A database without the calendar's tables (an empty file is one).
    if (reason == StoreError::Reason::Other && text.contains(QLatin1String("no such table"), Qt::CaseInsensitive))
        reason = StoreError::Reason::NotCalendar;
    return StoreError(reason, path, text);
}

} // namespace store
