#pragma once

#include <QString>
#include <stdexcept>

class QSqlError;

namespace store {

// Every store failure carries the text a user is shown after the fixed first
// line of a message ("An error occured while ..."). For the common causes that
// text is a plain reason with the file's path and what to do; the driver's own
// words stay available as details.
class StoreError : public std::runtime_error
{
public:
    // Why the store failed, where a person can do something about it.
    enum class Reason {
        Other, ReadOnly, Locked, Missing, DiskFull, NotCalendar, Damaged, ServerLost, Newer, Outdated,
        // The server takes no changes at the moment (a standby, or set to read-only).
        Standby,
        // The row's key is already taken (a restored calendar whose key counter lags).
        Duplicate,
    };

    // A failure of the store's own making (a NULL, a bad literal): its text is the reason.
    explicit StoreError(const QString &description)
        : StoreError(Reason::Other, QString(), description) {}
    StoreError(Reason reason, const QString &path, const QString &driverText);

    [[nodiscard]] Reason reason() const { return m_reason; }
    [[nodiscard]] QString path() const { return m_path; }
    // What the user reads: the plain reason, or the driver's text when there is none.
    [[nodiscard]] QString description() const;
    // The driver's text when the description says it in plain words, else empty.
    [[nodiscard]] QString details() const;
    [[nodiscard]] QString driverText() const { return m_driverText; }

private:
    Reason m_reason;
    QString m_path;
    QString m_driverText;
};

// The plain words for a reason, naming the file at `path` (for ServerLost the
// shared calendar's address); empty for Other.
[[nodiscard]] QString plainReason(StoreError::Reason reason, const QString &path);

// The failure of a statement or an open on the database file at `path`, or on
// the server when `path` is a shared calendar's address.
[[nodiscard]] StoreError errorFrom(const QSqlError &error, const QString &path);

// What a PostgreSQL SQLSTATE means for the user; Other when nothing plainer can
// be said. ServerLost for every code that ends the session.
[[nodiscard]] StoreError::Reason reasonOfSqlState(const QString &sqlState);

} // namespace store
