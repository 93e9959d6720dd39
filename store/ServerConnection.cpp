#include "store/ServerConnection.h"

#include "store/Engine.h"
#include "store/Schema.h"
#include "store/StoreError.h"

#include <QAbstractEventDispatcher>
#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QHash>
#include <QLocalSocket>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace store {
namespace {

QAtomicInteger<quint64> g_serverCounter;
QMutex g_idleMutex; // guards g_recentFailures

void closeConnection(const QString &name)
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// The kept connections of one thread, at most one per address. A QSqlDatabase
// may only be used on the thread that opened it, so the thread owns them: it
// closes those left idle too long, and all of them when it ends.
class KeptConnections
{
public:
    KeptConnections() = default;
    KeptConnections(const KeptConnections &) = delete;
    KeptConnections &operator=(const KeptConnections &) = delete;
    ~KeptConnections() { closeAll(); }

    QString take(const QString &url)
    {
        closeIdle();
        const auto it = m_kept.find(url);
        if (it == m_kept.end())
            return {};
        const QString name = it->name;
        m_kept.erase(it);
        return name;
    }
    bool keep(const QString &url, const QString &name)
    {
        closeIdle();
        if (m_kept.contains(url))
            return false;
        Kept &kept = m_kept[url];
        kept.name = name;
        kept.idle.start();
        scheduleSweep();
        return true;
    }
    void closeAll()
    {
        for (const Kept &kept : std::as_const(m_kept))
            closeConnection(kept.name);
        m_kept.clear();
    }

private:
    // A server may drop a session left idle for long, and keeps a process for
    // each one meanwhile.
    static constexpr qint64 kIdleMs = 60 * 1000;

    // Where the thread runs an event loop (the windows' thread, a worker), an
    // idle connection is closed even when no operation follows.
    void scheduleSweep()
    {
        QObject *loop = QThread::currentThread()->eventDispatcher();
        if (m_sweepPending || !loop)
            return;
        m_sweepPending = true;
        QTimer::singleShot(kIdleMs + 100, loop, [this]() {
            m_sweepPending = false;
            closeIdle();
            if (!m_kept.isEmpty())
                scheduleSweep();
        });
    }

    void closeIdle()
    {
        for (auto it = m_kept.begin(); it != m_kept.end();) {
            if (it->idle.elapsed() >= kIdleMs) {
                closeConnection(it->name);
                it = m_kept.erase(it);
            } else {
                ++it;
            }
        }
    }

    struct Kept
    {
        QString name;
        QElapsedTimer idle;
    };
    QHash<QString, Kept> m_kept; // by address
    bool m_sweepPending = false;
};

thread_local KeptConnections t_kept;

// A server that just failed to answer is not waited for again at once: the
// week and the template list would each wait out the connect timeout.
struct RecentFailure
{
    QElapsedTimer since;
    QString description;
};
QHash<QString, RecentFailure> g_recentFailures; // under g_idleMutex
constexpr qint64 kRememberFailureMs = 2000;

// libpq's text without its "connection to server ... failed:" preamble.
QString serverText(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    const int failed = text.indexOf(QLatin1String("failed: "));
    if (failed >= 0)
        text = text.mid(failed + 8);
    text.replace(QLatin1String("FATAL:  "), QString());
    text = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    return text.isEmpty() ? error.driverText() : text;
}

// Whether a server answers at the address at all: a refusal in words this
// program does not know (a server speaking another language) is told apart
// from a server that is not there without reading them.
bool answers(const QString &name, int port)
{
    constexpr int kKnockMs = 1000;
    const QString host = name.isEmpty() ? qEnvironmentVariable("PGHOST", QStringLiteral("/var/run/postgresql")) : name;
    if (host.startsWith(QLatin1Char('/'))) {
        QLocalSocket socket;
        socket.connectToServer(host + QStringLiteral("/.s.PGSQL.%1").arg(port));
        return socket.waitForConnected(kKnockMs);
    }
    QTcpSocket socket;
    socket.connectToHost(host, quint16(port));
    return socket.waitForConnected(kKnockMs);
}

bool answers(const ServerAddress &a)
{
    return answers(a.host, a.port)
        || std::any_of(a.moreHosts.begin(), a.moreHosts.end(), [](const auto &h) { return answers(h.first, h.second); });
}

// The hosts as a sentence names them.
QString where(const ServerAddress &a)
{
    if (a.moreHosts.isEmpty())
        return a.host.isEmpty() ? QStringLiteral("this computer") : a.host;
    QStringList hosts{a.host};
    for (const auto &h : a.moreHosts)
        hosts << h.first;
    return hosts.join(QStringLiteral(", "));
}

int connectTimeout(const ServerAddress &a)
{
    bool ok = false;
    const int seconds = a.option(QStringLiteral("connect_timeout")).toInt(&ok);
    return ok ? seconds : kConnectTimeoutSeconds;
}

// A value as libpq's connection string reads it.
QString quoted(const QString &value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

// The certificates a server's is checked against when the address names none:
// libpq's own ~/.postgresql/root.crt or PGSSLROOTCERT when there is one, else
// the system's store.
QString rootCertificates()
{
    if (qEnvironmentVariableIsSet("PGSSLROOTCERT") || QFile::exists(QDir::homePath() + QStringLiteral("/.postgresql/root.crt")))
        return {};
    for (const char *bundle : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt", "/etc/ssl/cert.pem"}) {
        if (QFile::exists(QLatin1String(bundle)))
            return QLatin1String(bundle);
    }
    return {};
}

// The options libpq is given: the address's own, and the program's defaults.
QString connectOptions(const ServerAddress &a)
{
    QStringList options{QStringLiteral("connect_timeout=%1").arg(connectTimeout(a)),
                        QStringLiteral("application_name=") + quoted(a.option(QStringLiteral("application_name")).isEmpty()
                                                                         ? QStringLiteral("orvenna")
                                                                         : a.option(QStringLiteral("application_name"))),
                        QStringLiteral("keepalives_idle=5;keepalives_interval=2;keepalives_count=2;tcp_user_timeout=3000")};
    const QString sslMode = a.sslMode();
    if (!sslMode.isEmpty())
        options << QStringLiteral("sslmode=") + sslMode;
    if (a.option(QStringLiteral("sslrootcert")).isEmpty()
        && (sslMode == QLatin1String("verify-full") || sslMode == QLatin1String("verify-ca"))) {
        const QString system = rootCertificates();
        if (!system.isEmpty())
            options << QStringLiteral("sslrootcert=") + quoted(system);
    }
    for (const auto &[key, value] : a.options) {
        if (key != QLatin1String("sslmode") && key != QLatin1String("connect_timeout") && key != QLatin1String("application_name"))
            options << key + QLatin1Char('=') + quoted(value);
    }
    if (!a.moreHosts.isEmpty()) {
        QStringList ports{QString::number(a.port)};
        for (const auto &h : a.moreHosts)
            ports << QString::number(h.second);
        options << QStringLiteral("port=") + ports.join(QLatin1Char(','));
    }
    return options.join(QLatin1Char(';'));
}

QString plainReason(const ServerAddress &a, const QSqlError &error)
{
    // With several hosts libpq says why each one failed; a standby is often not the first.
    const QString all = error.databaseText();
    const bool standby = all.contains(QLatin1String("session is read-only")) || all.contains(QLatin1String("hot standby"));
    const QString detail = standby ? all.section(QLatin1String("failed: "), -1).section(QLatin1Char('\n'), 0, 0).trimmed()
                                   : serverText(error);
    const QString where = store::where(a);
    auto has = [&detail](const char *s) { return detail.contains(QLatin1String(s), Qt::CaseInsensitive); };
    QString reason;
    // libpq's words about TLS, in English here: at the open no SQLSTATE comes.
    if (has("certificate verify failed") || has("does not match host name") || has("root certificate file"))
        reason = QStringLiteral("The database server at %1 could not prove that it is the server the address names (its "
                                "certificate is for another name, or not signed by an authority this computer trusts), "
                                "so nothing was sent to it")
                     .arg(where);
    else if (has("no encryption"))
        reason = QStringLiteral("The database server at %1 takes only encrypted connections, and the address asks for "
                                "none (sslmode=disable)")
                     .arg(where);
    else if (has("server does not support SSL"))
        reason = QStringLiteral("The database server at %1 offers no encryption, which the address asks for (sslmode)")
                     .arg(where);
    else if (standby)
        reason = QStringLiteral("No database server at %1 takes changes now: the one that answers is a standby "
                                "(target_session_attrs=read-write); once it is promoted the calendar opens again")
                     .arg(where);
    else if (has("password") || has("authentication") || has("pg_hba.conf") || has("role \""))
        reason = QStringLiteral("The server refused the login of user \"%1\"").arg(a.user);
    else if (has("database \"") && has("does not exist"))
        reason = QStringLiteral("The server has no database \"%1\"").arg(a.database);
    else if (has("timeout"))
        reason = QStringLiteral("The database server at %1 did not answer within %2 seconds").arg(where).arg(connectTimeout(a));
    else if (has("the database system is starting up") || has("shutting down"))
        reason = QStringLiteral("The database server at %1 is starting or stopping").arg(where);
    else if (answers(a))
        reason = QStringLiteral("The database server at %1 refused to open the database \"%2\" for user \"%3\"")
                     .arg(where, a.database, a.user);
    else
        reason = QStringLiteral("The database server at %1 cannot be reached (is it running?)").arg(where);
    return reason + QStringLiteral(": ") + detail;
}

QString openNew(const QString &url, const ServerAddress &a, bool requireTables)
{
    const QString name = QStringLiteral("orvenna-server-%1").arg(g_serverCounter.fetchAndAddRelaxed(1));
    QString failure;
    std::optional<StoreError> refused; // a calendar of a newer version
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        if (!db.isValid()) {
            failure = QStringLiteral("Qt's PostgreSQL driver QPSQL is not installed (package libqt6sql6-psql)");
        } else {
            if (!a.moreHosts.isEmpty()) {
                QStringList hosts{a.host};
                for (const auto &h : a.moreHosts)
                    hosts << h.first;
                db.setHostName(hosts.join(QLatin1Char(','))); // the ports go with the options
            } else {
                if (!a.host.isEmpty())
                    db.setHostName(a.host);
                db.setPort(a.port);
            }
            db.setUserName(a.user);
            db.setDatabaseName(a.database);
            // No password: libpq reads ~/.pgpass or PGPASSWORD itself.
            db.setConnectOptions(connectOptions(a));
            if (!db.open()) {
                failure = plainReason(a, db.lastError());
            } else if (requireTables) {
                QSqlQuery probe(db);
                if (!probe.exec(QStringLiteral(
                        "SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
                        " AND tablename IN ('tblscheduledevents', 'tblpredefinedevents', 'tblpocs')"))
                    || !probe.next())
                    failure = plainReason(a, probe.lastError());
                else if (probe.value(0).toInt() != 3)
                    failure = QStringLiteral("The database \"%1\" has no calendar tables; create them with "
                                             "orvenna-newdb --database %2")
                                  .arg(a.database, a.url());
                probe.finish();
                try {
                    if (failure.isEmpty())
                        bringUpToDate(db, Engine::Postgres, url);
                } catch (const StoreError &newer) {
                    refused = newer;
                }
            }
            if (!failure.isEmpty() || refused)
                db.close();
        }
    }
    if (refused) {
        QSqlDatabase::removeDatabase(name);
        throw *refused;
    }
    if (!failure.isEmpty()) {
        QSqlDatabase::removeDatabase(name);
        throw StoreError(QStringLiteral("Could not open %1: %2").arg(url, failure));
    }
    return name;
}

} // namespace

QString openServerConnection(const QString &url, bool requireTables, bool *reused)
{
    const ServerAddress a = parseServerUrl(url);
    if (reused)
        *reused = false;
    if (requireTables) {
        const QString name = t_kept.take(url);
        if (!name.isEmpty()) {
            if (reused)
                *reused = true;
            return name;
        }
    }
    {
        QMutexLocker lock(&g_idleMutex);
        const auto failed = g_recentFailures.constFind(url);
        if (failed != g_recentFailures.constEnd() && failed->since.elapsed() < kRememberFailureMs)
            throw StoreError(failed->description);
    }
    QElapsedTimer clock;
    clock.start();
    try {
        return openNew(url, a, requireTables);
    } catch (const StoreError &e) {
        // Only a slow failure is remembered; a quick one costs nothing to repeat.
        if (clock.elapsed() >= 1000) {
            QMutexLocker lock(&g_idleMutex);
            g_recentFailures.insert(url, RecentFailure{clock, e.description()});
            g_recentFailures[url].since.start();
        }
        throw;
    }
}

void releaseServerConnection(const QString &name, const QString &url, bool healthy)
{
    if (healthy && QSqlDatabase::database(name, false).isOpen() && t_kept.keep(url, name))
        return;
    closeConnection(name);
}

void dropIdleServerConnections()
{
    t_kept.closeAll();
}

bool isConnectionLost(const QSqlError &error, const QString &name)
{
    // The driver closes its side when libpq finds the connection broken, but
    // not always: a server that crashed or was stopped at once sends no reason
    // before the socket closes, and libpq's own "server closed the connection"
    // leaves the connection open in the driver. Whatever the server answers
    // comes with a SQLSTATE; a failure without one is libpq's own, about the
    // connection.
    return error.type() == QSqlError::ConnectionError || error.nativeErrorCode().isEmpty()
        || reasonOfSqlState(error.nativeErrorCode()) == StoreError::Reason::ServerLost
        || !QSqlDatabase::database(name, false).isOpen();
}

} // namespace store
