// A club on one server: 100 copies follow a shared calendar while one writer
// saves 1,000 events over ten weeks, a tenth of the copies showing each week.
// Each copy is what a running program has for it: the calendar's listener on
// a connection of its own, and on each notice its week read again through the
// store on the copy's own thread. Reports how long from a save to the reload
// of each copy showing its week having it, that every copy heard every save,
// and the server connections.

#include "BenchSupport.h"

#include "model/Calendar.h"
#include "store/Connection.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSemaphore>
#include <QTextStream>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// ORVENNA_BENCH_COPIES and ORVENNA_BENCH_SAVES make a shorter run;
// ORVENNA_BENCH_WEEKS=1 puts every save in the one week all copies show.
const int kCopies = qEnvironmentVariableIntValue("ORVENNA_BENCH_COPIES") > 0 ? qEnvironmentVariableIntValue("ORVENNA_BENCH_COPIES") : 100;
const int kSaves = qEnvironmentVariableIntValue("ORVENNA_BENCH_SAVES") > 0 ? qEnvironmentVariableIntValue("ORVENNA_BENCH_SAVES") : 1000;
const int kWeeks = qEnvironmentVariableIntValue("ORVENNA_BENCH_WEEKS") > 0 ? qEnvironmentVariableIntValue("ORVENNA_BENCH_WEEKS") : 10;

QElapsedTimer g_clock; // shared by all threads: nanoseconds since the start

// One copy of the program: a calendar that listens, and the week it shows.
class Copy : public QObject
{
public:
    Copy(const QString &url, const QString &listenUrl, const QDate &week, QSemaphore &seen)
        : m_url(url), m_listenUrl(listenUrl), m_week(week), m_seen(seen)
    {
        m_seenAt.assign(kSaves + 1, -1);
    }

    // On the copy's thread.
    void start()
    {
        m_calendar = std::make_unique<model::Calendar>(m_listenUrl);
        connect(m_calendar.get(), &model::Calendar::eventsChanged, this, [this]() { reload(); });
        m_calendar->listen();
        m_listening = m_calendar->isListening();
        reload();
    }
    void finish()
    {
        m_calendar.reset();
        store::dropIdleServerConnections();
    }

    bool m_listening = false;
    int m_notices = 0;
    int m_failures = 0;
    std::vector<qint64> m_seenAt; // by key: when a reload first had it

private:
    // What the main window's week does: the staff names, then day by day.
    void reload()
    {
        ++m_notices;
        QList<int> shown;
        try {
            store::Connection conn;
            conn.open(m_url);
            for (store::RowSet rs = conn.execute(QStringLiteral("SELECT idPOC, pocName FROM tblPOCs")); !rs.eof();
                 rs.moveNext())
                (void)rs.text(QStringLiteral("pocName"));
            for (int k = 0; k < 7; ++k) {
                QList<store::Event> day;
                (void)store::Events::readDay(conn, m_week.addDays(k - 3), day);
                for (const store::Event &e : std::as_const(day))
                    shown << e.id;
            }
        } catch (const store::StoreError &) {
            ++m_failures;
        }
        const qint64 now = g_clock.nsecsElapsed();
        for (int id : std::as_const(shown)) {
            if (id >= 1 && id <= kSaves && m_seenAt[size_t(id)] < 0)
                m_seenAt[size_t(id)] = now;
        }
        m_seen.release();
    }

    QString m_url, m_listenUrl;
    QDate m_week;
    QSemaphore &m_seen;
    std::unique_ptr<model::Calendar> m_calendar;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(std::ceil(p / 100.0 * double(v.size()))) - 1);
    return v[i];
}

QString psql(const QString &dir, const QString &sql)
{
    QProcess p;
    p.start(QStringLiteral("/usr/lib/postgresql/15/bin/psql"),
            {QStringLiteral("-h"), dir, QStringLiteral("-U"), QStringLiteral("orvenna"), QStringLiteral("-d"),
             QStringLiteral("bench"), QStringLiteral("-Atqc"), sql});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    g_clock.start();
    const QString dir = QDir::temp().filePath(QStringLiteral("orvenna-bench-shared"));
    const QString script = QStringLiteral(ORVENNA_SOURCE_DIR "/tests/store/pgserver.sh");
    {
        // Each copy holds two connections (listening, reading) and the server
        // keeps a few for itself.
        QProcess start;
        start.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGSERVER_OPTIONS"), QStringLiteral("-c max_connections=%1").arg(2 * kCopies + 20));
        start.setProcessEnvironment(env);
        start.start(QStringLiteral("bash"), {script, QStringLiteral("start"), dir});
        if (!start.waitForFinished(120000) || start.exitCode() != 0) {
            out << "no PostgreSQL could be started\n";
            return 1;
        }
    }
    struct Stop
    {
        QString script, dir;
        ~Stop() { QProcess::execute(QStringLiteral("bash"), {script, QStringLiteral("stop"), dir}); }
    } stop{script, dir};
    QProcess::execute(QStringLiteral("/usr/lib/postgresql/15/bin/psql"),
                      {QStringLiteral("-qh"), dir, QStringLiteral("-U"), QStringLiteral("orvenna"), QStringLiteral("-d"),
                       QStringLiteral("postgres"), QStringLiteral("-c"), QStringLiteral("CREATE DATABASE bench")});
    const QString url = QStringLiteral("postgresql://orvenna@") + QString::fromUtf8(QUrl::toPercentEncoding(dir))
        + QStringLiteral("/bench");
    // The listeners under a name of their own, so that the server's list of
    // sessions tells them apart from the reading ones.
    const QString listenUrl = url + QStringLiteral("?application_name=orvenna-listener");
    store::createDatabase(url);
    const QDate week = QDate::currentDate();
    {
        store::Connection conn;
        conn.open(url);
        conn.execute(statements::insertStaff(QStringLiteral("Dana"), QString()));
    }

    out << "Starting " << kCopies << " listening copies...\n";
    out.flush();
    QSemaphore seen;
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<Copy *> copies;
    for (int i = 0; i < kCopies; ++i) {
        auto thread = std::make_unique<QThread>();
        auto *copy = new Copy(url, listenUrl, week.addDays(7 * (i % kWeeks)), seen);
        copy->moveToThread(thread.get());
        QObject::connect(thread.get(), &QThread::finished, copy, &QObject::deleteLater);
        thread->start();
        QMetaObject::invokeMethod(copy, [copy]() { copy->start(); }, Qt::BlockingQueuedConnection);
        copies.push_back(copy);
        threads.push_back(std::move(thread));
    }
    seen.acquire(kCopies); // the first reloads
    int listening = 0;
    for (const Copy *c : copies)
        listening += c->m_listening ? 1 : 0;

    out << "One writer saves " << kSaves << " events over " << kWeeks << " weeks, each once every copy has reloaded after the one before...\n";
    out.flush();
    std::vector<qint64> savedAt(kSaves + 1, -1);
    std::vector<int> savedWeek(kSaves + 1, -1);
    int missedWaits = 0;
    QElapsedTimer all;
    all.start();
    {
        store::Connection conn;
        conn.open(url);
        for (int n = 0; n < kSaves; ++n) {
            const int weekOf = n % kWeeks;
            const QDate day = week.addDays(7 * weekOf + n / kWeeks % 7 - 3);
            const QTime at = QTime(8, 0).addSecs(60 * (n / kWeeks / 7 % 600));
            const statements::EventValues v{QStringLiteral("Session %1").arg(n), QString(), QString(), day, at,
                                            day, at.addSecs(3600), 1};
            const qint64 before = g_clock.nsecsElapsed();
            const int id = store::Events::insert(conn, v);
            if (id >= 1 && id <= kSaves) {
                savedAt[size_t(id)] = before;
                savedWeek[size_t(id)] = weekOf;
            }
            if (!seen.tryAcquire(kCopies, 5000))
                ++missedWaits;
        }
    }
    const double runSeconds = all.elapsed() / 1000.0;
    const QString sessions = psql(dir, QStringLiteral("SELECT application_name || ' ' || count(*) FROM pg_stat_activity"
                                                      " WHERE datname = 'bench' AND pid <> pg_backend_pid()"
                                                      " GROUP BY application_name ORDER BY 1"));

    for (size_t i = 0; i < copies.size(); ++i) {
        Copy *copy = copies[i];
        QMetaObject::invokeMethod(copy, [copy]() { copy->finish(); }, Qt::BlockingQueuedConnection);
    }
    std::vector<double> latencies;
    int unseen = 0, notices = 0, unheard = 0, failures = 0;
    for (size_t i = 0; i < copies.size(); ++i) {
        const Copy *c = copies[i];
        notices += c->m_notices;
        unheard += c->m_notices < kSaves + 1 ? 1 : 0;
        failures += c->m_failures;
        for (int id = 1; id <= kSaves; ++id) {
            if (savedWeek[size_t(id)] != int(i) % kWeeks)
                continue;
            if (c->m_seenAt[size_t(id)] < 0 || savedAt[size_t(id)] < 0)
                ++unseen;
            else
                latencies.push_back((c->m_seenAt[size_t(id)] - savedAt[size_t(id)]) / 1e6);
        }
    }
    for (auto &thread : threads) {
        thread->quit();
        thread->wait();
    }

    out << qSetRealNumberPrecision(1) << Qt::fixed;
    out << kCopies << " copies listening (" << listening << " connected at the start), " << kSaves << " saves in "
        << runSeconds << " s\n";
    out << "  from a save starting to the reload of a copy showing its week having it (" << latencies.size()
        << " times): p50 " << percentile(latencies, 50) << " ms, p99 "
        << percentile(latencies, 99) << " ms, max " << percentile(latencies, 100) << " ms (target p99 <= 250)\n";
    out << "  saves a copy showing their week never had: " << unseen << "; copies that missed a notice: " << unheard
        << "; waits given up: " << missedWaits << "; reloads: " << notices << " (" << failures << " failed)\n";
    out << "  server sessions of the database during the run (application_name count):\n";
    for (const QString &line : sessions.split(QLatin1Char('\n')))
        out << "    " << line << "\n";
    return 0;
}
