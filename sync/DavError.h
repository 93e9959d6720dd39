#pragma once

#include <QString>
#include <QUrl>

#include <stdexcept>

// What went wrong talking to a CalDAV server, sorted so that the caller can
// act on it (ask for the password again, offer another calendar, fetch and
// retry) and tell the reason in one plain line.
namespace caldav {

enum class Fault {
    Network,             // no connection: server down, refused, name unknown, connection dropped
    Timeout,             // no answer in time
    Tls,                 // the certificate is not trusted (see fingerprint()) or TLS failed
    Insecure,            // plain http:// to another machine than this one
    Unauthorized,        // 401: wrong user name or password
    Forbidden,           // 403
    NotFound,            // 404 or 410: the calendar or the event is gone
    PreconditionFailed,  // 412: changed on the server meanwhile
    InsufficientStorage, // 507: the server is full
    Redirect,            // 3xx where none is followed; location() says where to
    InvalidSyncToken,    // the sync token is no longer valid: list the calendar afresh
    BadAnswer,           // malformed XML, or an answer the protocol does not allow
    Http,                // any other status
};

class DavError : public std::runtime_error
{
public:
    DavError(Fault fault, const QString &reason, int status = 0)
        : std::runtime_error(reason.toStdString()), m_fault(fault), m_reason(reason), m_status(status) {}

    [[nodiscard]] Fault fault() const { return m_fault; }
    [[nodiscard]] QString reason() const { return m_reason; }
    [[nodiscard]] int status() const { return m_status; } // the HTTP status, 0 when there was none
    // The untrusted certificate's SHA-256 fingerprint, lower-case hex, for Fault::Tls.
    [[nodiscard]] QString fingerprint() const { return m_fingerprint; }
    // Where a redirect points, for Fault::Redirect.
    [[nodiscard]] QUrl location() const { return m_location; }

    DavError &withFingerprint(const QString &fingerprint)
    {
        m_fingerprint = fingerprint;
        return *this;
    }
    DavError &withLocation(const QUrl &location)
    {
        m_location = location;
        return *this;
    }

private:
    Fault m_fault;
    QString m_reason;
    int m_status;
    QString m_fingerprint;
    QUrl m_location;
};

} // namespace caldav
