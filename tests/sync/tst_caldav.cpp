#include "store/Connection.h"
#include "store/Events.h"
#include "support/DavServers.h"
#include "support/TestDatabase.h"
#include "sync/CalDavClient.h"
#include "sync/SyncEngine.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
                    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
                    const QByteArray path = line.value(1);
                    // "METHOD /path" before "/path" alone.
                    QByteArray reply = m_byPath.value(line.value(0) + ' ' + path, m_byPath.value(path, m_answer));
                    socket->write(reply.replace("{port}", QByteArray::number(serverPort())));
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


QString iso(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm"));
}

// The phone: an independent CalDAV client (python3-caldav) on the same server calendar.
class Phone
{
public:
    Phone(const QMap<QString, QString> &servers, const QString &server, const QUrl &calendar)
    {
        const bool radicale = server == QLatin1String("RADICALE");
        m_args = QStringList{QStringLiteral(ORVENNA_SYNC_TESTS "/phone.py"), calendar.toString(),
                             radicale ? servers.value(QStringLiteral("DAV_USER")) : QString(),
                             radicale ? servers.value(QStringLiteral("DAV_PASSWORD")) : QString(),
                             radicale ? servers.value(QStringLiteral("RADICALE_CERT")) : QString()};
    }
    // Empty when done, else what went wrong.
    QString run(const QStringList &args, QByteArray *out = nullptr) const
    {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), m_args + args);
        if (!p.waitForFinished(60000))
            return QStringLiteral("phone.py did not finish");
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return QStringLiteral("phone.py %1: %2").arg(args.join(QLatin1Char(' ')), QString::fromUtf8(p.readAllStandardError()));
        if (out)
            *out = p.readAllStandardOutput();
        return QString();
    }
    [[nodiscard]] QJsonArray list() const
    {
        QByteArray out;
        const QString failed = run({QStringLiteral("list")}, &out);
        if (!failed.isEmpty())
            qWarning("%s", qPrintable(failed));
        return QJsonDocument::fromJson(out).array();
    }

private:
    QStringList m_args;
};

QJsonObject byUid(const QJsonArray &entries, const QString &uid)
{
    for (const QJsonValue &v : entries)
        if (v.toObject().value(QStringLiteral("uid")).toString() == uid)
            return v.toObject();
    return {};
}

QStringList summaries(const QJsonArray &entries)
{
    QStringList out;
    for (const QJsonValue &v : entries)
        out << v.toObject().value(QStringLiteral("summary")).toString();
    out.sort();
    return out;
}

QList<store::Event> eventsOf(const TestDatabase &db)
{
    store::Connection conn;
    conn.open(db.connectionString());
    return store::Events::readAll(conn);
}

QStringList titlesOf(const TestDatabase &db)
{
    QStringList out;
    for (const store::Event &e : eventsOf(db))
        out << e.values.title;
    out.sort();
    return out;
}

std::optional<store::Event> titled(const TestDatabase &db, const QString &title)
{
    for (const store::Event &e : eventsOf(db))
        if (e.values.title == title)
            return e;
    return std::nullopt;
}

void rename(const TestDatabase &db, int eventId, const QString &title)
{
    store::Connection conn;
    conn.open(db.connectionString());
    statements::EventValues v = store::Events::readOne(conn, eventId)->values;
    v.title = title;
    store::Events::update(conn, eventId, v);
}

void removeEvent(const TestDatabase &db, int eventId)
{
    store::Connection conn;
    conn.open(db.connectionString());
    store::Events::remove(conn, eventId);
}

class Chooser : public caldav::ConflictChooser
{
public:
    explicit Chooser(Choice answer) : m_answer(answer) {}
    Choice choose(const caldav::SyncConflict &conflict) override
    {
        asked << conflict;
        return m_answer;
    }
    QList<caldav::SyncConflict> asked;

private:
    Choice m_answer;
};

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
    void twoWay_data();
    void twoWay();
    void conflicts_data();
    void conflicts();
    void interrupted();
    void refusedRun_data();
    void refusedRun();
    void tool_data();
    void tool();

private:
    [[nodiscard]] Account accountFor(const QString &server) const;
    [[nodiscard]] QUrl newCalendar(const QString &server) const;
    void bindTo(const TestDatabase &db, const QString &server, const QUrl &calendar, int fallbackStaffId,
                int reminderMinutes = 15) const;

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

QUrl tst_CalDav::newCalendar(const QString &server) const
{
    CalDavClient client(accountFor(server));
    return client.makeCalendar(client.discover().home, QStringLiteral("Plan ") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8))
        .url;
}

void tst_CalDav::bindTo(const TestDatabase &db, const QString &server, const QUrl &calendar, int fallbackStaffId,
                        int reminderMinutes) const
{
    const Account account = accountFor(server);
    caldav::Binding b;
    b.calendar = calendar;
    b.user = account.user;
    b.trustedFingerprint = account.trustedFingerprint;
    b.fallbackStaffId = fallbackStaffId;
    b.reminderMinutes = reminderMinutes;
    store::Connection conn;
    conn.open(db.connectionString());
    caldav::SyncEngine::bind(conn, b);
}

void tst_CalDav::initTestCase()
{
    m_servers = davServers();
    QVERIFY2(!m_servers.isEmpty(), "no test servers: run through ctest, which starts them (tests/sync/davservers.sh start DIR) "
                                   "and sets ORVENNA_TEST_DAVDIR to DIR");
}

void tst_CalDav::calendarRoundTrip_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("worker"); // discovery on a thread of its own, as a sync in the background runs
    QTest::addColumn<bool>("pairs");  // the trusted fingerprint as often shown: AB:CD:...
    QTest::newRow("radicale") << "RADICALE" << false << false;
    QTest::newRow("xandikos") << "XANDIKOS" << false << false;
    QTest::newRow("radicale, found on a worker thread") << "RADICALE" << true << false;
    QTest::newRow("radicale, fingerprint in pairs") << "RADICALE" << false << true;
}

// Discovery, a new calendar, and every request the sync makes, on a real server.
void tst_CalDav::calendarRoundTrip()
{
    QFETCH(QString, server);
    QFETCH(bool, worker);
    QFETCH(bool, pairs);
    Account account = accountFor(server);
    if (pairs) {
        account.trustedFingerprint = account.trustedFingerprint.toUpper();
        for (qsizetype at = account.trustedFingerprint.size() - 2; at > 0; at -= 2)
            account.trustedFingerprint.insert(at, QLatin1Char(':'));
    }
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
    QTest::newRow("elements nested too deep")
        << "list"
        << answer("207 Multi-Status", "<multistatus xmlns='DAV:'>" + QByteArray("<x>").repeated(64) + QByteArray("</x>").repeated(64)
                                          + "</multistatus>")
        << Fault::BadAnswer << "elements nested deeper than 64";
    QTest::newRow("response without href") << "list" << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response>"
                                                                                   "<status>HTTP/1.1 200 OK</status></response></multistatus>")
                                           << Fault::BadAnswer << "no href";
    QTest::newRow("response with an empty href")
        << "list"
        << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response><href> </href><propstat><prop><getetag>\"1\"</getetag>"
                                      "</prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>")
        << Fault::BadAnswer << "no href";
    QTest::newRow("properties without status")
        << "list"
        << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response><href>/c/a.ics</href><propstat><prop>"
                                      "<getetag>\"1\"</getetag></prop></propstat></response></multistatus>")
        << Fault::BadAnswer << "the properties of /c/a.ics come without a status";
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
    // One gone needs no ETag (410 as well as 404); one changed does.
    QTest::newRow("changed without ETag")
        << "sync"
        << answer("207 Multi-Status", "<multistatus xmlns='DAV:'><response><href>/c/a.ics</href><status>HTTP/1.1 410 Gone</status>"
                                      "</response><response><href>/c/b.ics</href><propstat><prop><getetag/></prop>"
                                      "<status>HTTP/1.1 200 OK</status></propstat></response><sync-token>t2</sync-token></multistatus>")
        << Fault::BadAnswer << "/c/b.ics.";
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
    // The password never goes over another scheme, not even to the same host.
    QTest::newRow("redirect to another scheme")
        << "discover" << answer("301 Moved Permanently", "", "Location: https://127.0.0.1:{port}/dav/\r\n") << Fault::Redirect
        << "elsewhere: https://127.0.0.1:";
    QTest::newRow("redirect in a circle") << "discover" << answer("302 Found", "", "Location: /.well-known/caldav\r\n")
                                          << Fault::Redirect << "elsewhere";
    QTest::newRow("gone") << "put" << answer("410 Gone", "") << Fault::NotFound << "is not on the server";
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
        "<displayname>Plan<![CDATA[ & Co]]></displayname><C:supported-calendar-component-set><C:comp name='VEVENT'/><C:comp name='VTODO'/>"
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
        QCOMPARE(found.calendars[0].displayName, QStringLiteral("Plan & Co")); // its text in parts
        QCOMPARE(found.calendars[0].url, server.url().resolved(QUrl(QStringLiteral("/dav/home/plan/"))));
        QCOMPARE(found.calendars[0].components, QStringList({"VEVENT", "VTODO"}));
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    }
}


void tst_CalDav::twoWay_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("reminder"); // minutes before; -1: none
    QTest::newRow("radicale") << "RADICALE" << 15;
    QTest::newRow("xandikos, no reminder") << "XANDIKOS" << -1;
}

// A calendar and a phone on one server calendar: what each side makes,
// changes and deletes reaches the other.
void tst_CalDav::twoWay()
{
    QFETCH(QString, server);
    QFETCH(int, reminder);
    try {
        TestDatabase db;
        const int marco = db.addStaff(QStringLiteral("Marco Rossi"), QString());
        const int anna = db.addStaff(QStringLiteral("Anna Berg"), QString());
        const QDate day = QDate::currentDate().addDays(1);
        auto at = [&day](int days, int hour) { return QDateTime(day.addDays(days), QTime(hour, 0), Qt::UTC); };
        const int passing = db.addEvent(QStringLiteral("Passing drills"), at(0, 9), at(0, 10), marco,
                                        QStringLiteral("Cones, two grids"), QStringLiteral("Bring bibs"));
        const int video = db.addEvent(QStringLiteral("Video session"), at(1, 14).addSecs(30 * 60), at(1, 15).addSecs(45 * 60), marco);
        const int recovery = db.addEvent(QStringLiteral("Recovery"), at(2, 8), at(2, 9), anna);
        const QUrl calendar = newCalendar(server);
        const Phone phone(m_servers, server, calendar);
        QCOMPARE(phone.run({"add", "phone-keepers", "Goalkeeping", iso(at(3, 9)), iso(at(3, 10)), "", "Anna Berg"}), QString());
        // A single event far beyond the window for series comes in all the same.
        QCOMPARE(phone.run({"add", "phone-cup", "Cup final", iso(at(800, 15)), iso(at(800, 17))}), QString());
        bindTo(db, server, calendar, marco, reminder);
        caldav::SyncEngine engine(db.connectionString(), accountFor(server));

        // First sync, up and down.
        caldav::SyncOutcome out = engine.run();
        QCOMPARE(out.sent, 3);
        QCOMPARE(out.received, 2);
        QVERIFY(out.left.isEmpty());
        QCOMPARE(titled(db, QStringLiteral("Cup final"))->start(), at(800, 15));
        removeEvent(db, titled(db, QStringLiteral("Cup final"))->id);
        out = engine.run();
        QCOMPARE(out.deletedThere, 1);
        // The report and the delete: the uploads' ETags came with them, so the
        // report on them asks for none back.
        QCOMPARE(out.requests, 2);
        QCOMPARE(eventsOf(db).size(), 4);
        const std::optional<store::Event> keepers = titled(db, QStringLiteral("Goalkeeping"));
        QVERIFY(keepers);
        QCOMPARE(keepers->values.staffId, anna); // by ORGANIZER's name
        QCOMPARE(keepers->start(), at(3, 9));
        QJsonArray seen = phone.list();
        QCOMPARE(seen.size(), 4);
        const QString identity = db.scalar(QStringLiteral("SELECT identity FROM tblCalendarIdentity")).toString();
        auto uidOf = [&identity](int id) { return QStringLiteral("orvenna-%1-%2").arg(id).arg(identity); };
        const QJsonObject p = byUid(seen, uidOf(passing));
        QCOMPARE(p.value("summary").toString(), QStringLiteral("Passing drills"));
        QVERIFY2(p.value("description").toString().contains("Cones, two grids"), qPrintable(p.value("description").toString()));
        QVERIFY(p.value("description").toString().contains("Bring bibs"));
        QCOMPARE(p.value("contact").toString(), QStringLiteral("Marco Rossi"));
        QCOMPARE(p.value("start").toString(), iso(at(0, 9)));
        QCOMPARE(p.value("end").toString(), iso(at(0, 10)));
        if (reminder < 0) {
            QVERIFY(p.value("alarm").isNull());
        } else {
            QCOMPARE(p.value("alarm").toInt(), -reminder);
            QCOMPARE(p.value("alarmAction").toString(), QStringLiteral("DISPLAY"));
        }

        // Nothing changed: nothing written, and soon a single request.
        out = engine.run();
        QCOMPARE(out.sent + out.received + out.deletedHere + out.deletedThere, 0);
        out = engine.run();
        QCOMPARE(out.sent + out.received + out.deletedHere + out.deletedThere, 0);
        QCOMPARE(out.requests, 1);
        // The phone saves an event again, changing nothing this calendar keeps:
        // its new ETag is kept, and a change here goes over it at the first try.
        QCOMPARE(phone.run({"set", uidOf(video), "location", "Room 2"}), QString());
        out = engine.run();
        QCOMPARE(out.sent + out.received + out.deletedHere + out.deletedThere, 0);
        rename(db, video, QStringLiteral("Video session, both halves"));
        out = engine.run();
        QCOMPARE(out.sent, 1);
        QCOMPARE(out.requests, 2);

        // The phone changes, adds and deletes; so does the calendar.
        QCOMPARE(phone.run({"set", uidOf(passing), "summary", "Passing drills 4 v 2"}), QString());
        QCOMPARE(phone.run({"set", uidOf(passing), "start", iso(at(0, 11))}), QString());
        QCOMPARE(phone.run({"add", "phone-set", "Set pieces", iso(at(4, 10)), iso(at(4, 11))}), QString());
        QCOMPARE(phone.run({"delete", uidOf(recovery)}), QString());
        rename(db, video, QStringLiteral("Video analysis"));
        removeEvent(db, keepers->id);
        db.addEvent(QStringLiteral("Team talk"), at(5, 18), at(5, 19), anna);
        out = engine.run();
        QCOMPARE(out.received, 2);
        QCOMPARE(out.deletedHere, 1);
        QCOMPARE(out.sent, 2);
        QCOMPARE(out.deletedThere, 1);
        const QStringList both{"Passing drills 4 v 2", "Set pieces", "Team talk", "Video analysis"};
        QCOMPARE(titlesOf(db), both);
        QCOMPARE(titled(db, QStringLiteral("Passing drills 4 v 2"))->start(), at(0, 11));
        QCOMPARE(titled(db, QStringLiteral("Passing drills 4 v 2"))->values.notes, QStringLiteral("Bring bibs"));
        QCOMPARE(titled(db, QStringLiteral("Set pieces"))->values.staffId, marco); // names nobody: the chosen one
        seen = phone.list();
        QCOMPARE(summaries(seen), both);
        QCOMPARE(byUid(seen, uidOf(video)).value("summary").toString(), QStringLiteral("Video analysis"));
        // Another coach here, nothing else: a change like any other.
        db.exec(QStringLiteral("UPDATE tblScheduledEvents SET idPOC = %1 WHERE idScheduledEvent = %2").arg(anna).arg(video));
        out = engine.run();
        QCOMPARE(out.sent, 1);
        QCOMPARE(byUid(phone.list(), uidOf(video)).value("contact").toString(), QStringLiteral("Anna Berg"));

        // A series from the phone comes in as its occurrences and never goes
        // back as single events, also when one of them is changed here.
        QCOMPARE(phone.run({"add", "phone-run", "Morning run", iso(at(0, 7)), iso(at(0, 8)), "FREQ=DAILY;COUNT=4"}), QString());
        out = engine.run();
        QCOMPARE(out.received, 4);
        QCOMPARE(titlesOf(db).count(QStringLiteral("Morning run")), 4);
        rename(db, titled(db, QStringLiteral("Morning run"))->id, QStringLiteral("Morning run, longer"));
        out = engine.run();
        QCOMPARE(out.sent, 0);
        seen = phone.list();
        QCOMPARE(seen.size(), 5);
        QCOMPARE(byUid(seen, QStringLiteral("phone-run")).value("summary").toString(), QStringLiteral("Morning run"));
        QVERIFY(byUid(seen, QStringLiteral("phone-run")).value("repeats").toBool());
        // The phone's change of the series reaches every occurrence not changed here.
        QCOMPARE(phone.run({"set", "phone-run", "summary", "Morning jog"}), QString());
        out = engine.run();
        QCOMPARE(titlesOf(db).count(QStringLiteral("Morning jog")), 3);
        QCOMPARE(titlesOf(db).count(QStringLiteral("Morning run, longer")), 1);
        // The series deleted on the phone: its occurrences go, but the one
        // changed here stays here and is not sent as an event of its own.
        QCOMPARE(phone.run({"delete", "phone-run"}), QString());
        // Found so also when the server no longer knows the sync token: the listing tells what went.
        db.exec(QStringLiteral("UPDATE tblSyncBinding SET syncToken = '%1'")
                    .arg(server == QLatin1String("RADICALE") ? "http://radicale.org/ns/sync/0000" : "0000"));
        out = engine.run();
        QCOMPARE(out.deletedHere, 3);
        // The report the server refuses, the calendar's state, its listing: the refused token is not tried twice.
        QCOMPARE(out.requests, 3);
        QCOMPARE(titlesOf(db).count(QStringLiteral("Morning jog")), 0);
        QCOMPARE(titlesOf(db).count(QStringLiteral("Morning run, longer")), 1);
        out = engine.run();
        QCOMPARE(out.sent, 0);
        QCOMPARE(summaries(phone.list()), both);
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    } catch (const store::StoreError &e) {
        QFAIL(qPrintable(e.description()));
    }
}

void tst_CalDav::conflicts_data()
{
    using Choice = caldav::ConflictChooser::Choice;
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("here");  // what the calendar does: change or delete
    QTest::addColumn<QString>("there"); // what the phone does
    QTest::addColumn<int>("choice");    // -1: unattended
    QTest::addColumn<QString>("keptHere");  // the title here after the run; empty: gone
    QTest::addColumn<QString>("keptThere"); // the summary on the server; empty: gone
    QTest::newRow("radicale: both changed, this calendar's kept")
        << "RADICALE" << "change" << "change" << int(Choice::Here) << "Shooting here" << "Shooting here";
    QTest::newRow("xandikos: both changed, the server's kept")
        << "XANDIKOS" << "change" << "change" << int(Choice::Server) << "Shooting there" << "Shooting there";
    QTest::newRow("radicale: both changed, unattended") << "RADICALE" << "change" << "change" << -1 << "Shooting here"
                                                        << "Shooting there";
    QTest::newRow("xandikos: both changed, left") << "XANDIKOS" << "change" << "change" << int(Choice::Leave) << "Shooting here"
                                                  << "Shooting there";
    QTest::newRow("xandikos: deleted here, changed there, unattended") << "XANDIKOS" << "delete" << "change" << -1 << ""
                                                                       << "Shooting there";
    QTest::newRow("radicale: deleted here, changed there, the server's kept")
        << "RADICALE" << "delete" << "change" << int(Choice::Server) << "Shooting there" << "Shooting there";
    QTest::newRow("radicale: changed here, deleted there, this calendar's kept")
        << "RADICALE" << "change" << "delete" << int(Choice::Here) << "Shooting here" << "Shooting here";
    QTest::newRow("xandikos: changed here, deleted there, the server's kept")
        << "XANDIKOS" << "change" << "delete" << int(Choice::Server) << "" << "";
}

// An event both sides changed since the last sync: the chooser decides, an
// unattended run leaves both versions as they are and lists the event.
void tst_CalDav::conflicts()
{
    QFETCH(QString, server);
    QFETCH(QString, here);
    QFETCH(QString, there);
    QFETCH(int, choice);
    QFETCH(QString, keptHere);
    QFETCH(QString, keptThere);
    try {
        TestDatabase db;
        const int coach = db.addStaff(QStringLiteral("Marco Rossi"), QString());
        const QDateTime start(QDate::currentDate().addDays(2), QTime(10, 0), Qt::UTC);
        const int shooting = db.addEvent(QStringLiteral("Shooting"), start, start.addSecs(3600), coach);
        db.addEvent(QStringLiteral("Rondo"), start.addDays(1), start.addDays(1).addSecs(3600), coach);
        const QUrl calendar = newCalendar(server);
        const Phone phone(m_servers, server, calendar);
        bindTo(db, server, calendar, coach);
        caldav::SyncEngine engine(db.connectionString(), accountFor(server));
        QCOMPARE(engine.run().sent, 2);
        const QString uid = QStringLiteral("orvenna-%1-%2")
                                .arg(shooting)
                                .arg(db.scalar(QStringLiteral("SELECT identity FROM tblCalendarIdentity")).toString());

        if (here == QLatin1String("change"))
            rename(db, shooting, QStringLiteral("Shooting here"));
        else
            removeEvent(db, shooting);
        QCOMPARE(there == QLatin1String("change") ? phone.run({"set", uid, "summary", "Shooting there"})
                                                  : phone.run({"delete", uid}),
                 QString());

        Chooser chooser(choice < 0 ? caldav::ConflictChooser::Choice::Leave : caldav::ConflictChooser::Choice(choice));
        const caldav::SyncOutcome out = engine.run(choice < 0 ? nullptr : &chooser);
        if (choice >= 0) {
            QCOMPARE(chooser.asked.size(), 1);
            QCOMPARE(chooser.asked[0].uid, uid);
            QCOMPARE(chooser.asked[0].here.has_value(), here == QLatin1String("change"));
            QCOMPARE(chooser.asked[0].server.has_value(), there == QLatin1String("change"));
            if (there == QLatin1String("change"))
                QCOMPARE(chooser.asked[0].server->values.title, QStringLiteral("Shooting there"));
        }
        const bool leaves = choice < 0 || choice == int(caldav::ConflictChooser::Choice::Leave);
        QCOMPARE(out.left.size(), leaves ? 1 : 0);
        auto check = [&]() {
            QStringList titles = titlesOf(db);
            titles.removeOne(QStringLiteral("Rondo"));
            QCOMPARE(titles, keptHere.isEmpty() ? QStringList() : QStringList{keptHere});
            QStringList onServer = summaries(phone.list());
            onServer.removeOne(QStringLiteral("Rondo"));
            QCOMPARE(onServer, keptThere.isEmpty() ? QStringList() : QStringList{keptThere});
        };
        check();
        // The next run finds the same: a conflict left stays one, a settled one stays settled.
        const caldav::SyncOutcome again = engine.run();
        QCOMPARE(again.left.size(), leaves ? 1 : 0);
        QCOMPARE(again.sent + again.received + again.deletedHere + again.deletedThere, 0);
        check();
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    } catch (const store::StoreError &e) {
        QFAIL(qPrintable(e.description()));
    }
}

// The server killed in the middle of a first sync, started again: the next
// sync finishes the work without a duplicate on either side; also when the
// server took an upload whose answer never came.
void tst_CalDav::interrupted()
{
    QTemporaryDir store;
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess xandikos;
    auto start = [&]() {
        xandikos.start(QStringLiteral("xandikos"), {"-d", store.path(), "--defaults", "-l", "127.0.0.1", "-p", QString::number(port)});
        return xandikos.waitForStarted(10000);
    };
    auto answers = [port]() {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        return s.waitForConnected(200);
    };
    QVERIFY(start());
    QTRY_VERIFY_WITH_TIMEOUT(answers(), 30000);
    Account account;
    account.url = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    try {
        TestDatabase db;
        const int coach = db.addStaff(QStringLiteral("Marco Rossi"), QString());
        const QDateTime first(QDate::currentDate(), QTime(9, 0), Qt::UTC);
        for (int i = 0; i < 30; ++i)
            db.addEvent(QStringLiteral("Session %1").arg(i, 2, 10, QLatin1Char('0')), first.addDays(i), first.addDays(i).addSecs(3600), coach);
        CalDavClient client(account);
        const QUrl calendar = client.makeCalendar(client.discover().home, QStringLiteral("Plan")).url;
        caldav::Binding b;
        b.calendar = calendar;
        {
            store::Connection conn;
            conn.open(db.connectionString());
            caldav::SyncEngine::bind(conn, b);
        }
        caldav::SyncEngine engine(db.connectionString(), account);
        // Stopped by the one watching: what was sent so far is kept.
        const caldav::SyncOutcome stopped = engine.run(nullptr, [](int done, int) { return done < 6; });
        QVERIFY2(stopped.sent > 0 && stopped.sent < 30, qPrintable(QString::number(stopped.sent)));
        QCOMPARE(db.count(QStringLiteral("tblSyncEvents")), stopped.sent);
        const Phone phone(m_servers, QStringLiteral("XANDIKOS"), calendar);
        QCOMPARE(int(phone.list().size()), stopped.sent); // nothing sent but not recorded
        try {
            engine.run(nullptr, [&](int done, int) {
                if (done >= 12 && xandikos.state() == QProcess::Running) {
                    xandikos.kill();
                    xandikos.waitForFinished(10000);
                }
                return true;
            });
            QFAIL("the sync went on without its server");
        } catch (const DavError &e) {
            QCOMPARE(e.fault(), Fault::Network);
        }
        QCOMPARE(eventsOf(db).size(), 30);
        const int recorded = db.count(QStringLiteral("tblSyncEvents"));
        QVERIFY2(recorded > 0 && recorded < 30, qPrintable(QString::number(recorded)));

        QVERIFY(start());
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 30000);
        caldav::SyncOutcome out = engine.run();
        QCOMPARE(out.sent, 30 - recorded);
        QCOMPARE(out.received, 0);
        QCOMPARE(phone.list().size(), 30);
        QCOMPARE(eventsOf(db).size(), 30);

        // An upload the server took without this calendar hearing of it.
        const int lost = eventsOf(db).constFirst().id;
        db.exec(QStringLiteral("DELETE FROM tblSyncResources WHERE href IN (SELECT href FROM tblSyncEvents WHERE idScheduledEvent = %1)")
                    .arg(lost));
        db.exec(QStringLiteral("DELETE FROM tblSyncEvents WHERE idScheduledEvent = %1").arg(lost));
        // The run that made it broke off before its end, so it kept no sync token.
        db.exec(QStringLiteral("UPDATE tblSyncBinding SET syncToken = '', ctag = ''"));
        out = engine.run();
        QCOMPARE(out.sent + out.received + out.deletedHere + out.deletedThere, 0);
        QVERIFY(out.left.isEmpty());
        QCOMPARE(phone.list().size(), 30);
        QCOMPARE(eventsOf(db).size(), 30);
        QCOMPARE(db.count(QStringLiteral("tblSyncEvents")), 30);

        // Lost once more, the sync token kept: its upload meets the server's
        // copy in the same batch as two events made here since, which are
        // recorded all the same.
        const int again = eventsOf(db).constLast().id;
        db.exec(QStringLiteral("DELETE FROM tblSyncResources WHERE href IN (SELECT href FROM tblSyncEvents WHERE idScheduledEvent = %1)")
                    .arg(again));
        db.exec(QStringLiteral("DELETE FROM tblSyncEvents WHERE idScheduledEvent = %1").arg(again));
        for (int i = 30; i < 32; ++i)
            db.addEvent(QStringLiteral("Session %1").arg(i), first.addDays(i), first.addDays(i).addSecs(3600), coach);
        out = engine.run();
        QCOMPARE(out.sent, 2);
        QCOMPARE(out.received + out.deletedHere + out.deletedThere, 0);
        QVERIFY(out.left.isEmpty());
        QCOMPARE(phone.list().size(), 32);
        QCOMPARE(db.count(QStringLiteral("tblSyncEvents")), 32);

        // Stopped among changes made here: what reached the server is what was counted and recorded.
        for (const store::Event &e : eventsOf(db))
            rename(db, e.id, e.values.title + QStringLiteral(" moved"));
        const caldav::SyncOutcome part = engine.run(nullptr, [](int done, int) { return done < 5; });
        QVERIFY2(part.sent > 0 && part.sent < 32, qPrintable(QString::number(part.sent)));
        QCOMPARE(int(summaries(phone.list()).filter(QStringLiteral(" moved")).size()), part.sent);
        out = engine.run();
        QCOMPARE(out.sent, 32 - part.sent);
        QVERIFY(out.left.isEmpty());
        QCOMPARE(summaries(phone.list()).filter(QStringLiteral(" moved")).size(), 32);
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    } catch (const store::StoreError &e) {
        QFAIL(qPrintable(e.description()));
    }
    xandikos.kill();
    xandikos.waitForFinished(10000);
}

void tst_CalDav::refusedRun_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("reason"); // a part of it
    QTest::newRow("wrong password") << "password" << Fault::Unauthorized << "";
    QTest::newRow("certificate not trusted") << "certificate" << Fault::Tls << "";
    QTest::newRow("malformed XML") << "xml" << Fault::BadAnswer << "is no valid WebDAV";
    QTest::newRow("malformed iCalendar") << "icalendar" << Fault::BadAnswer << "/c/a.ics is no valid iCalendar";
    QTest::newRow("a copied calendar file") << "copy" << Fault::Forbidden << "is a copy of the one at";
    QTest::newRow("a second calendar on the same server calendar") << "second" << Fault::Forbidden
                                                                   << "Another Orvenna calendar keeps its events";
    QTest::newRow("file: a sync under way") << "busy" << Fault::Http << "Another sync of this calendar is under way";
    QTest::newRow("shared calendar: a sync under way") << "busy on the server" << Fault::Http
                                                       << "Another sync of this calendar is under way";
}

// A sync that may not go on is refused with its reason before it changes
// anything here or on the server.
void tst_CalDav::refusedRun()
{
    QFETCH(QString, what);
    QFETCH(QString, reason);
    const bool onServer = what == QLatin1String("busy on the server");
    if (onServer)
        TestDatabase::setEngine(store::Engine::Postgres);
    const auto back = qScopeGuard([]() { TestDatabase::setEngine(store::Engine::Sqlite); });
    const QByteArray collection =
        "<multistatus xmlns='DAV:' xmlns:C='urn:ietf:params:xml:ns:caldav' xmlns:CS='http://calendarserver.org/ns/'>"
        "<response><href>/c/</href><propstat><prop><resourcetype><collection/><C:calendar/></resourcetype>"
        "<displayname>Plan</displayname><CS:getctag>2</CS:getctag><sync-token>t2</sync-token></prop>"
        "<status>HTTP/1.1 200 OK</status></propstat></response></multistatus>";
    const QByteArray report =
        what == QLatin1String("xml")
        ? QByteArray("<multistatus xmlns='DAV:'><response><href>/c/a.ics</href>")
        : QByteArray("<multistatus xmlns='DAV:' xmlns:C='urn:ietf:params:xml:ns:caldav'><response><href>/c/a.ics</href>"
                     "<propstat><prop><getetag>\"1\"</getetag><C:calendar-data>BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\n"
                     "UID:a\r\nSUMMARY:Half\r\nEND:VCALENDAR\r\n</C:calendar-data></prop><status>HTTP/1.1 200 OK</status>"
                     "</propstat></response><sync-token>t3</sync-token></multistatus>");
    CannedServer canned(answer("404 Not Found", ""),
                        {{"PROPFIND /c/", answer("207 Multi-Status", collection)}, {"REPORT /c/", answer("207 Multi-Status", report)}});
    const bool garbage = what == QLatin1String("xml") || what == QLatin1String("icalendar");
    try {
        TestDatabase db;
        const int coach = db.addStaff(QStringLiteral("Marco Rossi"), QString());
        const QDateTime start(QDate::currentDate().addDays(1), QTime(10, 0), Qt::UTC);
        db.addEvent(QStringLiteral("Shooting"), start, start.addSecs(3600), coach);
        Account account = accountFor(QStringLiteral("RADICALE"));
        QUrl calendar;
        if (garbage) {
            account = Account();
            account.url = canned.url();
            calendar = canned.url().resolved(QUrl(QStringLiteral("/c/")));
            caldav::Binding b;
            b.calendar = calendar;
            store::Connection conn;
            conn.open(db.connectionString());
            caldav::SyncEngine::bind(conn, b);
        } else {
            calendar = newCalendar(QStringLiteral("RADICALE"));
            bindTo(db, QStringLiteral("RADICALE"), calendar, coach);
        }
        const Phone phone(m_servers, QStringLiteral("RADICALE"), calendar);
        if (what == QLatin1String("password"))
            account.password += QLatin1Char('x');
        if (what == QLatin1String("certificate")) {
            account.trustedFingerprint = QString(64, QLatin1Char('0'));
            db.exec(QStringLiteral("UPDATE tblSyncBinding SET fingerprint = '%1'").arg(account.trustedFingerprint));
        }
        // The calendar that is refused, and what it holds before.
        std::unique_ptr<TestDatabase> other;
        TestDatabase *refused = &db;
        if (what == QLatin1String("copy") || what == QLatin1String("second")) {
            QCOMPARE(caldav::SyncEngine(db.connectionString(), account).run().sent, 1);
            other = std::make_unique<TestDatabase>(what == QLatin1String("second"));
            if (what == QLatin1String("copy")) {
                QVERIFY(QFile::copy(db.path(), other->path()));
            } else {
                const int anna = other->addStaff(QStringLiteral("Anna Berg"), QString());
                other->addEvent(QStringLiteral("Rondo"), start, start.addSecs(3600), anna);
                bindTo(*other, QStringLiteral("RADICALE"), calendar, anna);
            }
            refused = other.get();
        }
        const QStringList titles = titlesOf(*refused);
        const int serverEntries = garbage ? 0 : int(phone.list().size());

        caldav::SyncEngine engine(refused->connectionString(), account);
        try {
            if (what.startsWith(QLatin1String("busy"))) {
                // A second run while the first one is under way.
                std::optional<DavError> second;
                engine.run(nullptr, [&](int, int) {
                    if (!second) {
                        try {
                            caldav::SyncEngine(refused->connectionString(), account).run();
                            second = DavError(Fault::Http, QStringLiteral("accepted"));
                        } catch (const DavError &e) {
                            second = e;
                        }
                    }
                    return true;
                });
                QVERIFY(second);
                throw *second;
            }
            engine.run();
            QFAIL("accepted");
        } catch (const DavError &e) {
            QTEST(e.fault(), "fault");
            QVERIFY2(e.reason().contains(reason), qPrintable(e.reason()));
            QVERIFY2(account.password.isEmpty() || !e.reason().contains(account.password), "the password was shown");
        }
        if (what.startsWith(QLatin1String("busy")))
            return; // the first run went on and did its work
        QCOMPARE(titlesOf(*refused), titles);
        if (!garbage)
            QCOMPARE(int(phone.list().size()), serverEntries);
        if (what != QLatin1String("copy") && what != QLatin1String("second"))
            QCOMPARE(refused->count(QStringLiteral("tblSyncEvents")), 0);
        if (what == QLatin1String("copy")) {
            // Nor may the copy bind itself anew to the same server calendar.
            store::Connection conn;
            conn.open(refused->connectionString());
            QVERIFY_THROWS_EXCEPTION(caldav::BindingClash, bindTo(*refused, QStringLiteral("RADICALE"), calendar, 1));
        }
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    } catch (const store::StoreError &e) {
        QFAIL(qPrintable(e.description()));
    }
}

void tst_CalDav::tool_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("netrc"); // its mode and text; empty: none
    QTest::addColumn<bool>("conflict");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // a part of what it says
    const QString line = QStringLiteral("machine 127.0.0.1 login coach password pitch-side-7\n");
    QTest::newRow("synced") << QStringList{"--once"} << "600 " + line << false << 0 << "";
    QTest::newRow("a server without a login, no .netrc") << QStringList{"--once"} << "" << false << 0 << "";
    QTest::newRow("conflict left") << QStringList{"--once", "--verbose"} << "600 " + line << true << 3 << "left alone";
    QTest::newRow(".netrc others may read") << QStringList{"--once"} << "644 " + line << false << 1 << "chmod 600";
    QTest::newRow("no .netrc") << QStringList{"--once"} << "" << false << 1 << ".netrc does not exist";
    QTest::newRow("no line for the server") << QStringList{"--once"} << "600 machine calendar.example login coach password x\n"
                                            << false << 1 << "has no password for 127.0.0.1";
    QTest::newRow("wrong password") << QStringList{"--once"} << "600 machine 127.0.0.1 login coach password wrong\n" << false << 1
                                    << "";
    QTest::newRow("unknown option") << QStringList{"--once", "--bogus"} << "600 " + line << false << 2 << "usage: orvenna-sync";
    QTest::newRow("both calendars") << QStringList{"--once", "--database", "postgresql://x@y/z"} << "600 " + line << false << 2
                                    << "not both";
}

// orvenna-sync on a calendar bound to Radicale, its password from ~/.netrc.
void tst_CalDav::tool()
{
    QFETCH(QStringList, args);
    QFETCH(QString, netrc);
    QFETCH(bool, conflict);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    try {
        TestDatabase db;
        const int coach = db.addStaff(QStringLiteral("Marco Rossi"), QString());
        const QDateTime start(QDate::currentDate().addDays(1), QTime(10, 0), Qt::UTC);
        const int shooting = db.addEvent(QStringLiteral("Shooting"), start, start.addSecs(3600), coach);
        const QString server = QString::fromLatin1(QTest::currentDataTag()).contains("without a login") ? QStringLiteral("XANDIKOS")
                                                                                                         : QStringLiteral("RADICALE");
        const QUrl calendar = newCalendar(server);
        bindTo(db, server, calendar, coach);
        const Phone phone(m_servers, server, calendar);
        if (conflict) {
            caldav::SyncEngine(db.connectionString(), accountFor(server)).run();
            rename(db, shooting, QStringLiteral("Shooting here"));
            const QString uid = QStringLiteral("orvenna-%1-%2")
                                    .arg(shooting)
                                    .arg(db.scalar(QStringLiteral("SELECT identity FROM tblCalendarIdentity")).toString());
            QCOMPARE(phone.run({"set", uid, "summary", "Shooting there"}), QString());
        }
        QTemporaryDir home;
        if (!netrc.isEmpty()) {
            QFile file(home.filePath(QStringLiteral(".netrc")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(netrc.mid(4).toUtf8());
            file.close();
            QVERIFY(file.setPermissions(netrc.startsWith(QLatin1String("600")) ? QFile::ReadOwner | QFile::WriteOwner
                                                                              : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                                                  | QFile::ReadOther));
        }
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        tool.setProcessEnvironment(env);
        tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/orvenna-sync"),
                   args + QStringList{"--calendar", db.path()});
        QVERIFY(tool.waitForFinished(120000));
        const QString said = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(tool.exitCode(), exitCode);
        QVERIFY2(said.contains(error), qPrintable(said));
        QVERIFY2(!said.contains(QLatin1String("pitch-side-7")), "the password was shown");
        if (exitCode == 0 || exitCode == 3)
            QCOMPARE(phone.list().size(), 1);
        if (exitCode == 3)
            QCOMPARE(summaries(phone.list()), QStringList{"Shooting there"});
    } catch (const DavError &e) {
        QFAIL(qPrintable(e.reason()));
    } catch (const store::StoreError &e) {
        QFAIL(qPrintable(e.description()));
    }
}

QTEST_GUILESS_MAIN(tst_CalDav)
#include "tst_caldav.moc"
