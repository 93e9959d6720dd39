#include "sync/CalDavClient.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QUuid>

using caldav::Account;
using caldav::CalDavClient;
using caldav::DavError;
using caldav::Fault;

Q_DECLARE_METATYPE(caldav::Fault)

namespace {

// The servers davservers.sh started, from its servers.env.
QMap<QString, QString> servers()
{
    QMap<QString, QString> out;
    QFile env(qEnvironmentVariable("ORVENNA_TEST_DAVDIR") + QStringLiteral("/servers.env"));
    if (!env.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : env.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            out.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return out;
}

QByteArray icsEvent(const QString &uid, const QString &summary)
{
    return QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//test//EN\r\nBEGIN:VEVENT\r\nUID:%1\r\n"
                          "DTSTAMP:20261201T120000Z\r\nDTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\n"
                          "SUMMARY:%2\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
        .arg(uid, summary)
        .toUtf8();
}

QStringList paths(const QList<caldav::Resource> &resources)
{
    QStringList out;
    for (const caldav::Resource &r : resources)
        out << r.url.path();
    out.sort();
    return out;
}

QStringList paths(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &u : urls)
        out << u.path();
    out.sort();
    return out;
}

// A server that gives a fixed answer to every request, or none at all; by
// path when answers for paths are given.
class CannedServer : public QTcpServer
{
public:
    explicit CannedServer(const QByteArray &answer, const QMap<QByteArray, QByteArray> &byPath = {})
        : m_answer(answer), m_byPath(byPath)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket]() {
                    QByteArray &request = m_requests[socket];
                    request += socket->readAll();
                    const int end = request.indexOf("\r\n\r\n");
                    if (end < 0 || m_answer.isEmpty())
                        return;
                    const QByteArray head = request.left(end).toLower();
                    const int at = head.indexOf("content-length:");
                    const int length = at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toInt();
                    if (request.size() < end + 4 + length)
                        return;
                    const QByteArray path = request.left(request.indexOf("\r\n")).split(' ').value(1);
                    socket->write(m_byPath.value(path, m_answer));
                    socket->disconnectFromHost();
                    m_requests.remove(socket);
                });
            }
        });
    }
    [[nodiscard]] QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(serverPort())); }

private:
    QByteArray m_answer;
    QMap<QByteArray, QByteArray> m_byPath;
    QHash<QTcpSocket *, QByteArray> m_requests;
};

QByteArray answer(const QByteArray &statusLine, const QByteArray &body, const QByteArray &headers = QByteArray())
{
    return "HTTP/1.1 " + statusLine + "\r\nContent-Type: application/xml\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

} // namespace

class tst_CalDav : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void calendarRoundTrip_data();
    void calendarRoundTrip();
    void refused_data();
    void refused();
    void faults_data();
    void faults();
    void discoverySteps();

private:
    [[nodiscard]] Account accountFor(const QString &server) const;

    QMap<QString, QString> m_servers;
};

Account tst_CalDav::accountFor(const QString &server) const
{
    Account account;
    account.url = QUrl(m_servers.value(server + QStringLiteral("_URL")));
    if (server == QLatin1String("RADICALE")) {
        account.user = m_servers.value(QStringLiteral("DAV_USER"));
        account.password = m_servers.value(QStringLiteral("DAV_PASSWORD"));
        account.trustedFingerprint = m_servers.value(QStringLiteral("RADICALE_FINGERPRINT"));
    }
    return account;
}

void tst_CalDav::initTestCase()
{
    m_servers = servers();
    QVERIFY2(!m_servers.isEmpty(), "no test servers: run through ctest, which starts them (tests/sync/davservers.sh start DIR) "
                                   "and sets ORVENNA_TEST_DAVDIR to DIR");
}

void tst_CalDav::calendarRoundTrip_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("worker"); // discovery on a thread of its own, as a sync in the background runs
    QTest::newRow("radicale") << "RADICALE" << false;
    QTest::newRow("xandikos") << "XANDIKOS" << false;
    QTest::newRow("radicale, found on a worker thread") << "RADICALE" << true;
}

// Discovery, a new calendar, and every request the sync makes, on a real server.
void tst_CalDav::calendarRoundTrip()
{
    QFETCH(QString, server);
    QFETCH(bool, worker);
    const Account account = accountFor(server);
    // A failure of the client is told with its reason.
    try {
        CalDavClient client(account);
        caldav::Discovery found;
        if (worker) {
            QString failed;
            std::unique_ptr<QThread> thread(QThread::create([&]() {
                try {
                    found = CalDavClient(account).discover();
                } catch (const DavError &e) {
                    failed = e.reason();
                }
            }));
            thread->start();
            QVERIFY(thread->wait(60000));
            QCOMPARE(failed, QString());
        } else {
            found = client.discover();
        }
        QVERIFY(found.home.isValid());

        const QString name = QStringLiteral("Orvenna Süd ") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
        const caldav::Calendar made = client.makeCalendar(found.home, name);
        QCOMPARE(made.displayName, name);
        QVERIFY(made.holdsEvents());
        QVERIFY(!made.syncToken.isEmpty());
        // Found again from the root, and from its own address alone.
        const QList<caldav::Calendar> again = client.discover().calendars;
        QCOMPARE(std::count_if(again.cbegin(), again.cend(), [&](const caldav::Calendar &c) {
                     return c.displayName == name && c.url == made.url;
                 }),
                 1);
        Account direct = account;
        direct.url = made.url;
        const caldav::Discovery one = CalDavClient(direct).discover();
        QCOMPARE(one.calendars.size(), 1);
        QCOMPARE(one.calendars[0].displayName, name);
        // From the principal, the same home.
        direct.url = found.principal;
        QCOMPARE(CalDavClient(direct).discover().home, found.home);

        const QUrl first = CalDavClient::resourceUrl(made.url, QStringLiteral("orvenna-1-a/b@club"));
        const QUrl second = CalDavClient::resourceUrl(made.url, QStringLiteral("orvenna-2"));
        QString firstTag = client.put(first, icsEvent(QStringLiteral("orvenna-1-a/b@club"), QStringLiteral("Passing")), QString());
        client.put(second, icsEvent(QStringLiteral("orvenna-2"), QStringLiteral("Shooting")), QString());
        // A new resource where one is already: the server refuses to overwrite it.
        try {
            client.put(first, icsEvent(QStringLiteral("orvenna-1-a/b@club"), QStringLiteral("Twice")), QString());
            QFAIL("overwrote a resource it took for new");
        } catch (const DavError &e) {
            QCOMPARE(e.fault(), Fault::PreconditionFailed);
        }
        // Any change inside shows in the collection's ctag and sync token.
        const caldav::Calendar filled = client.calendar(made.url);
        QVERIFY(!made.ctag.isEmpty());
        QVERIFY(filled.ctag != made.ctag);
        QVERIFY(filled.syncToken != made.syncToken);
        const QList<caldav::Resource> listed = client.list(made.url);
        QCOMPARE(paths(listed), paths(QList<QUrl>{first, second}));
        const caldav::Resource got = client.get(first);
        QVERIFY(got.data.contains("SUMMARY:Passing"));
        if (firstTag.isEmpty())
            firstTag = got.etag;
        QCOMPARE(got.etag, firstTag);

        const caldav::SyncReport all = client.syncCollection(made.url, QString());
        QCOMPARE(paths(all.changed), paths(QList<QUrl>{first, second}));
        const QString changedTag = client.put(first, icsEvent(QStringLiteral("orvenna-1-a/b@club"), QStringLiteral("Passing\\, 4 v 2")),
                                              firstTag);
        // The version written over is no longer there to write over or delete.
        for (const bool deleting : {false, true}) {
            try {
                if (deleting)
                    client.remove(first, firstTag);
                else
                    client.put(first, icsEvent(QStringLiteral("orvenna-1-a/b@club"), QStringLiteral("Stale")), firstTag);
                QFAIL(deleting ? "deleted a version changed meanwhile" : "wrote over a version changed meanwhile");
            } catch (const DavError &e) {
                QCOMPARE(e.fault(), Fault::PreconditionFailed);
            }
        }
        for (const caldav::Resource &r : client.list(made.url))
            if (r.url == second)
                client.remove(second, r.etag);

        const caldav::SyncReport since = client.syncCollection(made.url, all.token);
        QCOMPARE(paths(since.changed), QStringList{first.path()});
        QCOMPARE(paths(since.removed), QStringList{second.path()});
        QVERIFY(since.token != all.token);
        if (!changedTag.isEmpty())
            QCOMPARE(since.changed[0].etag, changedTag);
        const QList<caldav::Resource> fetched = client.multiget(made.url, {first, second});
        QCOMPARE(paths(fetched), QStringList{first.path()});
        QVERIFY(fetched[0].data.contains("SUMMARY:Passing\\, 4 v 2"));
        QCOMPARE(fetched[0].etag, since.changed[0].etag);
        // Nothing changed since: the report says so.
        QCOMPARE(client.syncCollection(made.url, since.token).changed.size(), 0);
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    }
}

void tst_CalDav::refused_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("what");
    QTest::addColumn<Fault>("fault");
    QTest::newRow("radicale: wrong password") << "RADICALE" << "password" << Fault::Unauthorized;
    QTest::newRow("radicale: certificate not trusted") << "RADICALE" << "certificate" << Fault::Tls;
    QTest::newRow("radicale: calendar gone") << "RADICALE" << "gone" << Fault::NotFound;
    QTest::newRow("xandikos: calendar gone") << "XANDIKOS" << "gone" << Fault::NotFound;
    QTest::newRow("radicale: sync token unknown") << "RADICALE" << "token" << Fault::InvalidSyncToken;
    QTest::newRow("xandikos: plain http to another machine") << "XANDIKOS" << "insecure" << Fault::Insecure;
}

void tst_CalDav::refused()
{
    QFETCH(QString, server);
    QFETCH(QString, what);
    Account account = accountFor(server);
    if (what == QLatin1String("password"))
        account.password += QLatin1Char('x');
    if (what == QLatin1String("certificate"))
        account.trustedFingerprint = QString(64, QLatin1Char('0'));
    if (what == QLatin1String("insecure"))
        account.url.setHost(QStringLiteral("127.0.0.2"));
    CalDavClient client(account);
    try {
        if (what == QLatin1String("gone"))
            (void)client.list(client.discover().home.resolved(QUrl(QStringLiteral("none/"))));
        else if (what == QLatin1String("token"))
            (void)client.syncCollection(client.makeCalendar(client.discover().home, QStringLiteral("Token")).url,
                                        QStringLiteral("http://radicale.org/ns/sync/0000"));
        else
            (void)client.discover();
        QFAIL("accepted");
    } catch (const DavError &e) {
        QTEST(e.fault(), "fault");
        QVERIFY(!e.reason().isEmpty());
        QVERIFY2(account.password.isEmpty() || !e.reason().contains(account.password), "the password was shown");
        if (what == QLatin1String("certificate")) {
            QCOMPARE(e.fingerprint(), m_servers.value(QStringLiteral("RADICALE_FINGERPRINT")));
            QVERIFY2(e.reason().contains(e.fingerprint()), qPrintable(e.reason()));
        }
    }
    if (what == QLatin1String("insecure"))
        QCOMPARE(client.requests(), 0);
}

void tst_CalDav::faults_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("answer"); // empty: none at all
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("reason"); // a part of it

    QTest::newRow("XML broken off") << "list" << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response><href>/a")
                                    << Fault::BadAnswer << "is no valid WebDAV: line 1";
    QTest::newRow("tags crossed") << "list"
                                  << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response></multistatus></response>")
                                  << Fault::BadAnswer << "is no valid WebDAV: line 1";
    QTest::newRow("a web page") << "sync" << answer("207 Multi-Status", "<html><body>Welcome</body></html>")
                                << Fault::BadAnswer << "no WebDAV multistatus but <html>";
    QTest::newRow("entities declared") << "list"
                                       << answer("207 Multi-Status", "<!DOCTYPE m [<!ENTITY a 'aaaa'>]><multistatus "
                                                                     "xmlns='DAV:'>&a;</multistatus>")
                                       << Fault::BadAnswer << "no document type declaration";
    QTest::newRow("response without href") << "list" << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response>"
                                                                                   "<status>HTTP/1.1 200 OK</status></response></multistatus>")
                                           << Fault::BadAnswer << "no href";
    QTest::newRow("status line garbled") << "sync"
                                         << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response><href>/c/a.ics</href>"
                                                                       "<status>gone</status></response><sync-token>t2</sync-token>"
                                                                       "</multistatus>")
                                         << Fault::BadAnswer << "'gone' is no HTTP status line";
    QTest::newRow("status code below 100") << "sync"
                                           << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response><href>/c/a.ics</href>"
                                                                         "<status>HTTP/1.1 000 Gone</status></response>"
                                                                         "<sync-token>t2</sync-token></multistatus>")
                                           << Fault::BadAnswer << "'HTTP/1.1 000 Gone' is no HTTP status line";
    QTest::newRow("sync report without token") << "sync" << answer("207 Multi-Status", "<multistatus xmlns='DAV:'/>")
                                               << Fault::BadAnswer << "no new sync token";
    QTest::newRow("sync token expired")
        << "sync" << answer("403 Forbidden", "<error xmlns='DAV:'><valid-sync-token/></error>") << Fault::InvalidSyncToken
        << "no longer knows the sync state";
    QTest::newRow("forbidden") << "sync" << answer("403 Forbidden", "") << Fault::Forbidden << "does not allow REPORT";
    QTest::newRow("server full") << "put" << answer("507 Insufficient Storage", "") << Fault::InsufficientStorage
                                 << "The server is full";
    QTest::newRow("changed meanwhile") << "put" << answer("412 Precondition Failed", "") << Fault::PreconditionFailed
                                       << "was changed on the server meanwhile";
    QTest::newRow("redirect to another host")
        << "discover" << answer("301 Moved Permanently", "", "Location: https://calendar.example/dav/\r\n") << Fault::Redirect
        << "elsewhere: https://calendar.example/dav/";
    QTest::newRow("redirect in a circle") << "discover" << answer("302 Found", "", "Location: /.well-known/caldav\r\n")
                                          << Fault::Redirect << "elsewhere";
    QTest::newRow("other status") << "put" << answer("418 I'm a teapot", "") << Fault::Http << "answered 418 to PUT";
    QTest::newRow("no answer") << "list" << QByteArray() << Fault::Timeout << "did not answer within 0.5 seconds";
    QTest::newRow("server down") << "list" << QByteArray("down") << Fault::Network << "could not be reached";
}

// What the real servers will not do: each answer refused with its reason.
void tst_CalDav::faults()
{
    QFETCH(QString, request);
    QFETCH(QByteArray, answer);
    QFETCH(QString, reason);
    CannedServer server(answer == "down" ? QByteArray() : answer);
    QVERIFY(server.isListening());
    Account account;
    account.url = server.url();
    account.timeoutMs = 500;
    if (answer == "down")
        server.close();
    CalDavClient client(account);
    const QUrl calendar = server.url().resolved(QUrl(QStringLiteral("/c/")));
    try {
        if (request == QLatin1String("list"))
            (void)client.list(calendar);
        else if (request == QLatin1String("sync"))
            (void)client.syncCollection(calendar, QStringLiteral("t1"));
        else if (request == QLatin1String("put"))
            client.put(CalDavClient::resourceUrl(calendar, QStringLiteral("x")), icsEvent(QStringLiteral("x"), QStringLiteral("X")),
                       QStringLiteral("\"1\""));
        else
            (void)client.discover();
        QFAIL("accepted");
    } catch (const DavError &e) {
        QVERIFY2(e.reason().contains(reason), qPrintable(e.reason()));
        QTEST(e.fault(), "fault");
        if (e.fault() == Fault::Redirect)
            QVERIFY(e.location().isValid());
    }
}

// Every step of the way from a server's root to its calendars, on a server
// that offers them nowhere else.
void tst_CalDav::discoverySteps()
{
    const QByteArray listing =
        "<multistatus xmlns='DAV:' xmlns:C='urn:ietf:params:xml:ns:caldav'>"
        "<response><href>/dav/home/</href><propstat><prop><resourcetype><collection/></resourcetype></prop>"
        "<status>HTTP/1.1 200 OK</status></propstat></response>"
        "<response><href>/dav/home/tasks/</href><propstat><prop><resourcetype><collection/><C:calendar/></resourcetype>"
        "<displayname>Tasks</displayname><C:supported-calendar-component-set><C:comp name='VTODO'/>"
        "</C:supported-calendar-component-set></prop><status>HTTP/1.1 200 OK</status></propstat></response>"
        "<response><href>/dav/home/plan/</href><propstat><prop><resourcetype><collection/><C:calendar/></resourcetype>"
        "<displayname>Plan</displayname><C:supported-calendar-component-set><C:comp name='VEVENT'/><C:comp name='VTODO'/>"
        "</C:supported-calendar-component-set></prop><status>HTTP/1.1 200 OK</status></propstat></response>"
        // What a server could not give is no property of the resource.
        "<response><href>/dav/home/inbox/</href><propstat><prop><displayname>Inbox</displayname></prop>"
        "<status>HTTP/1.1 200 OK</status></propstat><propstat><prop><resourcetype><collection/><C:calendar/></resourcetype>"
        "</prop><status>HTTP/1.1 404 Not Found</status></propstat></response></multistatus>";
    CannedServer server(answer("404 Not Found", ""),
                        {{"/.well-known/caldav", answer("301 Moved Permanently", "", "Location: /dav/\r\n")},
                         {"/dav/", answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response><href>/dav/</href><propstat>"
                                                              "<prop><current-user-principal><href>/dav/p/</href>"
                                                              "</current-user-principal></prop><status>HTTP/1.1 200 OK"
                                                              "</status></propstat></response></multistatus>")},
                         {"/dav/p/", answer("207 Multi-Status", "<multistatus xmlns='DAV:' xmlns:C='urn:ietf:params:xml:ns:caldav'>"
                                                                "<response><href>/dav/p/</href><propstat><prop><C:calendar-home-set>"
                                                                "<href>../home/</href></C:calendar-home-set></prop><status>HTTP/1.1 "
                                                                "200 OK</status></propstat></response></multistatus>")},
                         {"/dav/home/", answer("207 Multi-Status", listing)}});
    Account account;
    account.url = server.url();
    CalDavClient client(account);
    try {
        const caldav::Discovery found = client.discover();
        QCOMPARE(found.principal, server.url().resolved(QUrl(QStringLiteral("/dav/p/"))));
        QCOMPARE(found.home, server.url().resolved(QUrl(QStringLiteral("/dav/home/"))));
        QCOMPARE(found.calendars.size(), 1);
        QCOMPARE(found.calendars[0].displayName, QStringLiteral("Plan"));
        QCOMPARE(found.calendars[0].url, server.url().resolved(QUrl(QStringLiteral("/dav/home/plan/"))));
        QCOMPARE(found.calendars[0].components, QStringList({"VEVENT", "VTODO"}));
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    }
}

QTEST_GUILESS_MAIN(tst_CalDav)
#include "tst_caldav.moc"
