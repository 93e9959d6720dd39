#include "sync/CalDavClient.h"

#include "sync/DavXml.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <vector>

namespace caldav {

struct CalDavClient::Reply
{
    QByteArray method;
    QUrl url;
    int status = 0;
    QByteArray body;
    QString etag;
    QUrl location; // of a redirect, resolved
};

namespace {

// Redirects followed while looking for the calendars (RFC 6764 sends
// /.well-known/caldav elsewhere); more is a loop.
constexpr int kMostRedirects = 5;

using Properties = QList<QPair<QString, QString>>;

const Properties kCollectionProperties{
    {kDav, QStringLiteral("resourcetype")},
    {kDav, QStringLiteral("displayname")},
    {kCalDav, QStringLiteral("supported-calendar-component-set")},
    {kCalendarServer, QStringLiteral("getctag")},
    {kDav, QStringLiteral("sync-token")},
};

QString shown(const QUrl &url)
{
    return url.toDisplayString(QUrl::RemoveUserInfo);
}

QUrl withSlash(QUrl url)
{
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

bool samePath(const QUrl &a, const QUrl &b)
{
    return withSlash(a).path() == withSlash(b).path() && a.host() == b.host() && a.port() == b.port();
}

QUrl resolveHref(const QUrl &base, const QString &href)
{
    const QUrl ref(href, QUrl::TolerantMode);
    if (!ref.isValid() || href.isEmpty())
        throw DavError(Fault::BadAnswer, QStringLiteral("'%1' is no resource address").arg(href));
    return base.resolved(ref);
}

bool isCalendar(const DavResponse &r)
{
    const XmlElement *type = r.prop(kDav, QStringLiteral("resourcetype"));
    return type && type->child(kCalDav, QStringLiteral("calendar"));
}

bool isCollection(const DavResponse &r)
{
    const XmlElement *type = r.prop(kDav, QStringLiteral("resourcetype"));
    return type && type->child(kDav, QStringLiteral("collection"));
}

// The href inside a property such as current-user-principal.
QString hrefIn(const DavResponse &r, const QString &ns, const QString &name)
{
    const XmlElement *p = r.prop(ns, name);
    const XmlElement *href = p ? p->child(kDav, QStringLiteral("href")) : nullptr;
    return href ? href->text.trimmed() : QString();
}

Calendar calendarOf(const DavResponse &r, const QUrl &base)
{
    Calendar c;
    c.url = withSlash(resolveHref(base, r.href));
    c.displayName = r.propText(kDav, QStringLiteral("displayname"));
    if (const XmlElement *set = r.prop(kCalDav, QStringLiteral("supported-calendar-component-set")))
        for (const XmlElement *comp : set->childrenNamed(kCalDav, QStringLiteral("comp")))
            c.components << comp->attribute(QStringLiteral("name")).toUpper();
    c.ctag = r.propText(kCalendarServer, QStringLiteral("getctag"));
    c.syncToken = r.propText(kDav, QStringLiteral("sync-token"));
    return c;
}

// The failure an answer of this status stands for.
DavError faultOf(const CalDavClient::Reply &r)
{
    const QString what = QStringLiteral("%1 %2").arg(QString::fromLatin1(r.method), shown(r.url));
    switch (r.status) {
    case 401:
        return DavError(Fault::Unauthorized, QStringLiteral("The server refused the user name or password (%1).").arg(what), 401);
    case 403:
        return DavError(Fault::Forbidden, QStringLiteral("The server does not allow %1.").arg(what), 403);
    case 404:
    case 410:
        return DavError(Fault::NotFound, QStringLiteral("%1 is not on the server.").arg(shown(r.url)), r.status);
    case 412:
        return DavError(Fault::PreconditionFailed,
                        QStringLiteral("%1 was changed on the server meanwhile.").arg(shown(r.url)), 412);
    case 507:
        return DavError(Fault::InsufficientStorage, QStringLiteral("The server is full (%1).").arg(what), 507);
    default:
        break;
    }
    if (r.status / 100 == 3)
        return DavError(Fault::Redirect,
                        QStringLiteral("The server sends %1 elsewhere: %2.").arg(what, shown(r.location)), r.status)
            .withLocation(r.location);
    return DavError(Fault::Http, QStringLiteral("The server answered %1 to %2.").arg(r.status).arg(what), r.status);
}

void expect(const CalDavClient::Reply &r, std::initializer_list<int> statuses)
{
    for (int s : statuses)
        if (r.status == s)
            return;
    throw faultOf(r);
}

Multistatus multistatusOf(const CalDavClient::Reply &r)
{
    expect(r, {207});
    try {
        return parseMultistatus(r.body);
    } catch (const DavError &e) {
        throw DavError(Fault::BadAnswer, QStringLiteral("The server's answer to %1 %2 is no valid WebDAV: %3")
                                             .arg(QString::fromLatin1(r.method), shown(r.url), e.reason()));
    }
}

// A write only over the version known: none yet, or that ETag.
QPair<QByteArray, QByteArray> conditionFor(const QString &etag)
{
    return etag.isEmpty() ? QPair<QByteArray, QByteArray>{"If-None-Match", "*"}
                          : QPair<QByteArray, QByteArray>{"If-Match", etag.toLatin1()};
}

} // namespace

CalDavClient::CalDavClient(const Account &account)
    : m_account(account), m_network(std::make_unique<QNetworkAccessManager>())
{
}

CalDavClient::~CalDavClient() = default;

bool CalDavClient::isAllowed(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    const QString host = url.host().toLower();
    return scheme == QLatin1String("http")
        && (host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") || host == QLatin1String("::1"));
}

// One request on the wire, with what its TLS check found.
struct CalDavClient::Pending
{
    QByteArray method;
    QUrl url;
    std::unique_ptr<QNetworkReply> reply;
    QTimer timer;
    bool timedOut = false;
    QString untrusted; // the fingerprint of a certificate refused
    QStringList tlsErrors;
};

std::unique_ptr<CalDavClient::Pending> CalDavClient::start(const QByteArray &method, const QUrl &url, const QByteArray &body,
                                                           const QList<QPair<QByteArray, QByteArray>> &headers)
{
    if (!url.isValid() || url.host().isEmpty())
        throw DavError(Fault::Network, QStringLiteral("'%1' is no server address.").arg(shown(url)));
    if (!isAllowed(url))
        throw DavError(Fault::Insecure, QStringLiteral("%1 is not encrypted; plain http:// serves only this machine "
                                                       "(localhost). Use https://.")
                                           .arg(shown(url)));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Orvenna"));
    if (!m_account.user.isEmpty())
        request.setRawHeader("Authorization",
                             "Basic " + (m_account.user + QLatin1Char(':') + m_account.password).toUtf8().toBase64());
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/xml; charset=utf-8"));
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);

    ++m_requests;
    auto p = std::make_unique<Pending>();
    p->method = method;
    p->url = url;
    p->reply.reset(m_network->sendCustomRequest(request, method, body));
    Pending *pending = p.get();
    QNetworkReply *reply = p->reply.get();
    const QString trusted = m_account.trustedFingerprint.toLower().remove(QLatin1Char(':'));
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [pending, reply, trusted](const QList<QSslError> &errors) {
        QSslCertificate certificate = reply->sslConfiguration().peerCertificate();
        if (certificate.isNull() && !errors.isEmpty())
            certificate = errors.constFirst().certificate();
        const QString fingerprint = QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
        if (!trusted.isEmpty() && fingerprint == trusted) {
            reply->ignoreSslErrors(errors);
            return;
        }
        pending->untrusted = fingerprint;
        for (const QSslError &e : errors)
            pending->tlsErrors << e.errorString();
    });
    p->timer.setSingleShot(true);
    QObject::connect(&p->timer, &QTimer::timeout, reply, [pending, reply]() {
        pending->timedOut = true;
        reply->abort();
    });
    p->timer.start(m_account.timeoutMs);
    return p;
}

CalDavClient::Reply CalDavClient::finish(Pending &p) const
{
    p.timer.stop();
    const QUrl &url = p.url;
    if (p.timedOut)
        throw DavError(Fault::Timeout, QStringLiteral("%1 did not answer within %2 seconds.")
                                           .arg(url.host())
                                           .arg(m_account.timeoutMs / 1000.0));
    if (!p.untrusted.isEmpty())
        throw DavError(Fault::Tls, QStringLiteral("The certificate of %1 is not trusted (%2). Its SHA-256 fingerprint is %3.")
                                       .arg(url.host(), p.tlsErrors.join(QStringLiteral("; ")), p.untrusted))
            .withFingerprint(p.untrusted);
    QNetworkReply *reply = p.reply.get();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (reply->error() == QNetworkReply::SslHandshakeFailedError)
            throw DavError(Fault::Tls, QStringLiteral("No secure connection to %1: %2").arg(url.host(), reply->errorString()));
        throw DavError(Fault::Network, QStringLiteral("%1 could not be reached: %2").arg(url.host(), reply->errorString()));
    }
    Reply out;
    out.method = p.method;
    out.url = url;
    out.status = status.toInt();
    out.body = reply->readAll();
    out.etag = QString::fromLatin1(reply->rawHeader("ETag"));
    if (reply->hasRawHeader("Location"))
        out.location = url.resolved(QUrl(QString::fromLatin1(reply->rawHeader("Location")), QUrl::TolerantMode));
    return out;
}

CalDavClient::Reply CalDavClient::send(const QByteArray &method, const QUrl &url, const QByteArray &body,
                                       const QList<QPair<QByteArray, QByteArray>> &headers)
{
    const std::unique_ptr<Pending> p = start(method, url, body, headers);
    QEventLoop loop;
    QObject::connect(p->reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!p->reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return finish(*p);
}

CalDavClient::Reply CalDavClient::sendFollowing(const QByteArray &method, QUrl url, const QByteArray &body,
                                                const QList<QPair<QByteArray, QByteArray>> &headers)
{
    for (int hop = 0;; ++hop) {
        Reply r = send(method, url, body, headers);
        if (r.status / 100 != 3 || r.status == 304 || !r.location.isValid())
            return r;
        // The password goes only to the host it was given for, never downgraded.
        const bool sameHost = r.location.host().compare(url.host(), Qt::CaseInsensitive) == 0
            && r.location.port(-1) == url.port(-1) && r.location.scheme() == url.scheme();
        if (hop >= kMostRedirects || !sameHost)
            throw faultOf(r);
        url = r.location;
    }
}

Multistatus CalDavClient::propfind(const QUrl &url, int depth, const QList<QPair<QString, QString>> &properties,
                                   bool followRedirects, QUrl *answeredAt)
{
    const QList<QPair<QByteArray, QByteArray>> headers{{"Depth", QByteArray::number(depth)}};
    const QByteArray body = propfindBody(properties);
    const Reply r = followRedirects ? sendFollowing("PROPFIND", url, body, headers) : send("PROPFIND", url, body, headers);
    if (answeredAt)
        *answeredAt = r.url;
    Multistatus m = multistatusOf(r);
    // Some servers tell a missing collection inside the multistatus.
    if (m.responses.size() == 1 && m.responses[0].status != 0 && m.responses[0].status / 100 != 2) {
        Reply inner = r;
        inner.status = m.responses[0].status;
        throw faultOf(inner);
    }
    return m;
}

Discovery CalDavClient::discover()
{
    Properties asked = kCollectionProperties;
    asked << QPair<QString, QString>(kDav, QStringLiteral("current-user-principal"))
          << QPair<QString, QString>(kCalDav, QStringLiteral("calendar-home-set"));
    QUrl start = m_account.url;
    if (start.path().isEmpty())
        start.setPath(QStringLiteral("/"));

    QUrl at;
    Multistatus found;
    bool haveFound = false;
    if (start.path() == QLatin1String("/")) {
        // A server's root: where /.well-known/caldav leads, if anywhere.
        try {
            found = propfind(start.resolved(QUrl(QStringLiteral("/.well-known/caldav"))), 0, asked, true, &at);
            haveFound = !found.responses.isEmpty();
        } catch (const DavError &e) {
            if (e.fault() != Fault::NotFound && e.fault() != Fault::Http && e.fault() != Fault::Forbidden
                && e.fault() != Fault::BadAnswer)
                throw;
        }
    }
    if (!haveFound)
        found = propfind(start, 0, asked, true, &at);
    if (found.responses.isEmpty())
        throw DavError(Fault::BadAnswer, QStringLiteral("The server said nothing about %1.").arg(shown(at)));
    const DavResponse &self = found.responses.constFirst();

    Discovery d;
    if (isCalendar(self)) {
        d.calendars << calendarOf(self, at);
        return d;
    }
    QString home = hrefIn(self, kCalDav, QStringLiteral("calendar-home-set"));
    if (home.isEmpty()) {
        const QString principal = hrefIn(self, kDav, QStringLiteral("current-user-principal"));
        if (principal.isEmpty())
            throw DavError(Fault::NotFound, QStringLiteral("%1 leads to no calendars: it is no CalDAV principal or calendar.")
                                                .arg(shown(at)));
        d.principal = withSlash(resolveHref(at, principal));
        const Multistatus p = propfind(d.principal, 0, {{kCalDav, QStringLiteral("calendar-home-set")}});
        home = p.responses.isEmpty() ? QString() : hrefIn(p.responses.constFirst(), kCalDav, QStringLiteral("calendar-home-set"));
        if (home.isEmpty())
            throw DavError(Fault::NotFound, QStringLiteral("%1 has no calendar home.").arg(shown(d.principal)));
        at = d.principal;
    } else {
        d.principal = withSlash(at);
    }
    d.home = withSlash(resolveHref(at, home));
    for (const DavResponse &r : propfind(d.home, 1, kCollectionProperties).responses) {
        if (!isCalendar(r))
            continue;
        const Calendar c = calendarOf(r, d.home);
        if (!samePath(c.url, d.home) && c.holdsEvents())
            d.calendars << c;
    }
    return d;
}

Calendar CalDavClient::calendar(const QUrl &url)
{
    const Multistatus m = propfind(withSlash(url), 0, kCollectionProperties);
    if (m.responses.isEmpty() || !isCalendar(m.responses.constFirst()))
        throw DavError(Fault::NotFound, QStringLiteral("%1 is no calendar.").arg(shown(url)));
    return calendarOf(m.responses.constFirst(), withSlash(url));
}

Calendar CalDavClient::makeCalendar(const QUrl &home, const QString &displayName)
{
    const QUrl url = withSlash(home).resolved(QUrl(QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('/')));
    expect(send("MKCALENDAR", url, mkcalendarBody(displayName), {}), {201});
    return calendar(url);
}

QList<Resource> CalDavClient::list(const QUrl &calendar)
{
    const QUrl base = withSlash(calendar);
    QList<Resource> out;
    for (const DavResponse &r : propfind(base, 1, {{kDav, QStringLiteral("resourcetype")}, {kDav, QStringLiteral("getetag")}})
                                    .responses) {
        const QUrl url = resolveHref(base, r.href);
        if (samePath(url, base) || isCollection(r))
            continue;
        const QString etag = r.propText(kDav, QStringLiteral("getetag"));
        if (etag.isEmpty())
            throw DavError(Fault::BadAnswer, QStringLiteral("The server gave no ETag for %1.").arg(shown(url)));
        out << Resource{url, etag, {}};
    }
    return out;
}

SyncReport CalDavClient::syncCollection(const QUrl &calendar, const QString &token)
{
    const QUrl base = withSlash(calendar);
    const Reply r = send("REPORT", base, syncCollectionBody(token), {{"Depth", "0"}});
    if ((r.status == 403 || r.status == 409 || r.status == 400) && !token.isEmpty()) {
        // RFC 6578 3.2: a token the server no longer honours.
        bool invalidToken = false;
        try {
            const XmlElement error = parseXml(r.body);
            invalidToken = error.is(kDav, QStringLiteral("error")) && error.child(kDav, QStringLiteral("valid-sync-token"));
        } catch (const DavError &) {
        }
        if (invalidToken)
            throw DavError(Fault::InvalidSyncToken,
                           QStringLiteral("The server no longer knows the sync state of %1.").arg(shown(base)), r.status);
    }
    const Multistatus m = multistatusOf(r);
    if (m.syncToken.isEmpty())
        throw DavError(Fault::BadAnswer, QStringLiteral("The server's sync report on %1 brought no new sync token.").arg(shown(base)));
    SyncReport out;
    out.token = m.syncToken;
    for (const DavResponse &resp : m.responses) {
        const QUrl url = resolveHref(base, resp.href);
        if (samePath(url, base))
            continue;
        if (resp.status == 404 || resp.status == 410) {
            out.removed << url;
            continue;
        }
        if (isCollection(resp))
            continue;
        const QString etag = resp.propText(kDav, QStringLiteral("getetag"));
        if (etag.isEmpty())
            throw DavError(Fault::BadAnswer, QStringLiteral("The server gave no ETag for %1.").arg(shown(url)));
        out.changed << Resource{url, etag, {}};
    }
    return out;
}

QList<Resource> CalDavClient::multiget(const QUrl &calendar, const QList<QUrl> &resources)
{
    if (resources.isEmpty())
        return {};
    const QUrl base = withSlash(calendar);
    QStringList hrefs;
    for (const QUrl &u : resources)
        hrefs << QString::fromLatin1(u.path(QUrl::FullyEncoded).toLatin1());
    QList<Resource> out;
    for (const DavResponse &r : multistatusOf(send("REPORT", base, multigetBody(hrefs), {{"Depth", "1"}})).responses) {
        const QUrl url = resolveHref(base, r.href);
        if (r.status == 404 || r.status == 410)
            continue;
        const XmlElement *data = r.prop(kCalDav, QStringLiteral("calendar-data"));
        const QString etag = r.propText(kDav, QStringLiteral("getetag"));
        if (!data || etag.isEmpty())
            throw DavError(Fault::BadAnswer, QStringLiteral("The server gave no calendar data or ETag for %1.").arg(shown(url)));
        out << Resource{url, etag, data->text.toUtf8()};
    }
    return out;
}

Resource CalDavClient::get(const QUrl &resource)
{
    const Reply r = send("GET", resource, {}, {});
    expect(r, {200});
    return Resource{resource, r.etag, r.body};
}

QString CalDavClient::put(const QUrl &resource, const QByteArray &icalendar, const QString &etag)
{
    const Reply r = send("PUT", resource, icalendar, {{"Content-Type", "text/calendar; charset=utf-8"}, conditionFor(etag)});
    expect(r, {200, 201, 204});
    return r.etag;
}

QList<CalDavClient::PutResult> CalDavClient::putMany(const QList<PutRequest> &writes, int inFlight)
{
    QList<PutResult> results(writes.size());
    std::vector<std::pair<qsizetype, std::unique_ptr<Pending>>> flying;
    QEventLoop loop;
    qsizetype next = 0;
    while (next < writes.size() || !flying.empty()) {
        while (next < writes.size() && int(flying.size()) < qMax(1, inFlight)) {
            const PutRequest &w = writes.at(next);
            try {
                std::unique_ptr<Pending> p = start("PUT", w.resource, w.icalendar,
                                                   {{"Content-Type", "text/calendar; charset=utf-8"}, conditionFor(w.etag)});
                QObject::connect(p->reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
                flying.emplace_back(next, std::move(p));
            } catch (const DavError &e) {
                results[next].error = e;
            }
            ++next;
        }
        const auto done = std::find_if(flying.begin(), flying.end(), [](const auto &f) { return f.second->reply->isFinished(); });
        if (done == flying.end()) {
            if (!flying.empty())
                loop.exec(QEventLoop::ExcludeUserInputEvents);
            continue;
        }
        PutResult &result = results[done->first];
        try {
            const Reply r = finish(*done->second);
            expect(r, {200, 201, 204});
            result.etag = r.etag;
        } catch (const DavError &e) {
            result.error = e;
        }
        flying.erase(done);
    }
    return results;
}

void CalDavClient::remove(const QUrl &resource, const QString &etag)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!etag.isEmpty())
        headers << QPair<QByteArray, QByteArray>{"If-Match", etag.toLatin1()};
    expect(send("DELETE", resource, {}, headers), {200, 204});
}

QUrl CalDavClient::resourceUrl(const QUrl &calendar, const QString &uid)
{
    // Servers refuse an encoded '/' in a name, so anything beyond letters,
    // digits and ._-@ goes, and a hash of the UID keeps names apart.
    QString name;
    for (const QChar c : uid)
        name += (c.unicode() < 128 && (c.isLetterOrNumber() || QStringLiteral("._-@").contains(c))) ? c : QLatin1Char('_');
    if (name != uid || name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name += QLatin1Char('-')
            + QString::fromLatin1(QCryptographicHash::hash(uid.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    return withSlash(calendar).resolved(QUrl(name + QStringLiteral(".ics")));
}

} // namespace caldav
