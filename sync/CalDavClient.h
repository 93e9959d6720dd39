#pragma once

#include "sync/DavError.h"
#include "sync/DavXml.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class QNetworkAccessManager;

// A CalDAV client (RFC 4791, with WebDAV sync, RFC 6578) over Qt Network,
// without windows. Every call waits for its answer in a local event loop, so
// a client belongs to the thread that made it and may run on a worker thread;
// failures throw DavError.
namespace caldav {

struct Account
{
    QUrl url;                   // the server's root, a principal or a calendar collection
    QString user;
    QString password;           // never shown, never kept by the client beyond its life
    QString trustedFingerprint; // SHA-256 (hex) of a certificate the system does not trust but the user does
    int timeoutMs = 30000;      // for each request
};

// A calendar collection on the server.
struct Calendar
{
    QUrl url; // ends in '/'
    QString displayName;
    QStringList components; // what it may hold (VEVENT, VTODO...); empty when the server does not say
    QString ctag;           // changes with every change inside (CalendarServer's getctag)
    QString syncToken;      // empty when the server offers no WebDAV sync

    [[nodiscard]] bool holdsEvents() const
    {
        return components.isEmpty() || components.contains(QStringLiteral("VEVENT"));
    }
};

struct Discovery
{
    QUrl principal;             // empty when the address was a calendar itself
    QUrl home;                  // where new calendars go; empty likewise
    QList<Calendar> calendars; // those that hold events
};

// One calendar object resource: one event.
struct Resource
{
    QUrl url;
    QString etag;      // as the server sent it, quotes included
    QByteArray data;   // iCalendar text, from get and multiget only
};

// What changed since a sync token.
struct SyncReport
{
    QString token;           // for the next report
    QList<Resource> changed; // new or changed, with their ETags
    QList<QUrl> removed;
};

class CalDavClient
{
public:
    explicit CalDavClient(const Account &account);
    ~CalDavClient();
    CalDavClient(const CalDavClient &) = delete;
    CalDavClient &operator=(const CalDavClient &) = delete;

    // The calendars behind the account's address: from a root through
    // /.well-known/caldav and current-user-principal, from a principal through
    // calendar-home-set, or the one calendar the address names.
    [[nodiscard]] Discovery discover();
    // The properties of one calendar collection.
    [[nodiscard]] Calendar calendar(const QUrl &url);
    // A new calendar for events in `home`, named `displayName`.
    Calendar makeCalendar(const QUrl &home, const QString &displayName);

    // Every resource of the calendar with its ETag.
    [[nodiscard]] QList<Resource> list(const QUrl &calendar);
    // What changed since `token`; an empty token gives every resource. A token
    // the server no longer knows throws Fault::InvalidSyncToken (RFC 6578);
    // Xandikos answers 500 instead, so a failed report is best followed by a
    // listing, which is always safe.
    [[nodiscard]] SyncReport syncCollection(const QUrl &calendar, const QString &token);
    // The resources with their text, in one request; one no longer there is left out.
    [[nodiscard]] QList<Resource> multiget(const QUrl &calendar, const QList<QUrl> &resources);
    [[nodiscard]] Resource get(const QUrl &resource);

    // Writes the resource: a new one when `etag` is empty (If-None-Match: *),
    // else only over that version (If-Match). Returns the new ETag, empty when
    // the server did not send one. Fault::PreconditionFailed when the server
    // holds another version (or, for a new one, any).
    QString put(const QUrl &resource, const QByteArray &icalendar, const QString &etag);
    struct PutRequest
    {
        QUrl resource;
        QByteArray icalendar;
        QString etag; // empty: a new resource
    };
    struct PutResult
    {
        QString etag;                  // the new one, when written
        std::optional<DavError> error; // why not
    };
    // Several writes as put() each, up to `inFlight` of them on the wire at
    // once, so the server's time for one overlaps the next. One result per
    // write, in order; a failure of one leaves the others.
    [[nodiscard]] QList<PutResult> putMany(const QList<PutRequest> &writes, int inFlight);
    // Deletes the resource if the server still holds that version.
    void remove(const QUrl &resource, const QString &etag);

    // Where a new event's resource goes: named after its UID, made safe for a
    // path, the same for the same UID.
    [[nodiscard]] static QUrl resourceUrl(const QUrl &calendar, const QString &uid);
    // Plain http:// is accepted only for this machine.
    [[nodiscard]] static bool isAllowed(const QUrl &url);

    // Requests sent so far.
    [[nodiscard]] int requests() const { return m_requests; }

    struct Reply;

private:
    struct Pending;
    std::unique_ptr<Pending> start(const QByteArray &method, const QUrl &url, const QByteArray &body,
                                   const QList<QPair<QByteArray, QByteArray>> &headers);
    Reply finish(Pending &pending) const;
    Reply send(const QByteArray &method, const QUrl &url, const QByteArray &body,
               const QList<QPair<QByteArray, QByteArray>> &headers);
    Reply sendFollowing(const QByteArray &method, QUrl url, const QByteArray &body,
                        const QList<QPair<QByteArray, QByteArray>> &headers);
    Multistatus propfind(const QUrl &url, int depth, const QList<QPair<QString, QString>> &properties,
                         bool followRedirects = false, QUrl *answeredAt = nullptr);

    Account m_account;
    std::unique_ptr<QNetworkAccessManager> m_network;
    int m_requests = 0;
};

} // namespace caldav
