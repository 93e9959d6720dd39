#include "store/ChangeListener.h"

#include "store/Engine.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/StoreError.h"

#include <QSemaphore>
#include <QSocketNotifier>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace store {
namespace detail {

// What the listening thread shares with the listener.
struct ListenState
{
    enum First { Waiting, Done, GaveUp };
    std::atomic<bool> listening{false};
    std::atomic<int> first{Waiting}; // the first connection, and whether listen() waited for it
    QSemaphore firstTried;
};

// The listening connection, on its own thread: made, used and closed there.
class ListenWorker : public QObject
{
    Q_OBJECT
public:
    ListenWorker(const QString &url, std::shared_ptr<ListenState> state)
        : m_url(url), m_state(std::move(state))
    {
    }
    ~ListenWorker() override { drop(); }

    void start()
    {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        connect(m_timer, &QTimer::timeout, this, [this]() {
            if (m_name.isEmpty())
                connectNow();
            else
                checkAlive();
            scheduleNext();
        });
        connectNow();
        scheduleNext();
        int waiting = ListenState::Waiting;
        if (!m_state->first.compare_exchange_strong(waiting, ListenState::Done)) {
            // listen() went on without it: what changed meanwhile went unheard.
            if (m_name.isEmpty())
                m_missed = true;
            else
                emit changed(QString());
        }
        m_state->firstTried.release();
    }

signals:
    void changed(const QString &table);

private:
    // A server gone quiet is asked every few seconds whether it is there;
    // one that went away is looked for again every second, so that a standby
    // promoted meanwhile is found soon.
    static constexpr int kCheckMs = 3000;
    static constexpr int kRetryMs = 1000;

    void connectNow()
    {
        try {
            m_name = openServerConnection(m_url, false);
        } catch (const StoreError &) {
            m_missed = true; // the windows report the failure; this only waits
            return;
        }
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (!db.driver()->subscribeToNotification(QLatin1String(kChangeChannel))) {
            drop();
            m_missed = true;
            return;
        }
        connect(db.driver(), &QSqlDriver::notification, this,
                [this](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) {
                    m_notified = true;
                    emit changed(payload.toString());
                });
        // The driver reads the connection when its socket has something; a
        // server that crashed or was stopped at once only closes the socket,
        // which the driver does not report. A wake-up that brought no notice
        // is looked into at once rather than at the next check.
        if (auto *socket = db.driver()->findChild<QSocketNotifier *>()) {
            connect(socket, &QSocketNotifier::activated, this, [this]() {
                if (!m_notified)
                    QTimer::singleShot(0, this, [this]() {
                        if (!m_name.isEmpty())
                            checkAlive();
                    });
                m_notified = false;
            });
        }
        m_state->listening = true;
        if (m_missed) {
            m_missed = false;
            emit changed(QString());
        }
    }

    void scheduleNext() { m_timer->start(m_name.isEmpty() ? kRetryMs : kCheckMs); }

    void checkAlive()
    {
        {
            QSqlQuery q(QSqlDatabase::database(m_name, false));
            if (q.exec(QStringLiteral("SELECT 1")))
                return;
        }
        drop();
        m_missed = true;
        connectNow();
        scheduleNext();
    }

    void drop()
    {
        m_state->listening = false;
        if (m_name.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.driver())
                disconnect(db.driver(), nullptr, this, nullptr);
        }
        releaseServerConnection(m_name, m_url, false);
        m_name.clear();
    }

    QString m_url;
    QString m_name;
    bool m_missed = false;
    bool m_notified = false; // since the socket last woke the driver
    QTimer *m_timer = nullptr;
    std::shared_ptr<ListenState> m_state;
};

} // namespace detail

namespace {
// How long listen() waits for the first connection.
constexpr int kFirstWaitMs = 2000;
// How long stop() waits for the listening thread. A thread held by a stalled
// server is not waited for: it ends by itself once the server answers or the
// connection breaks.
constexpr unsigned long kStopWaitMs = 1000;
} // namespace

ChangeListener::ChangeListener(QObject *parent)
    : QObject(parent)
{
}

ChangeListener::~ChangeListener()
{
    stop();
}

bool ChangeListener::isListening() const
{
    return m_state && m_state->listening;
}

void ChangeListener::listen(const QString &connectionString)
{
    stop();
    if (engineOf(connectionString) != Engine::Postgres)
        return;
    const QString url = connectionString.trimmed();
    try {
        (void)parseServerUrl(url);
    } catch (const StoreError &) {
        return; // the windows report the address
    }
    m_state = std::make_shared<detail::ListenState>();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("orvenna-listener"));
    auto *worker = new detail::ListenWorker(url, m_state);
    worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, worker, &detail::ListenWorker::start);
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_forward = connect(worker, &detail::ListenWorker::changed, this, &ChangeListener::changed, Qt::QueuedConnection);
    m_thread->start();
    // The windows' first load relies on hearing what follows it; a server that
    // does not answer soon is not waited for, and once it does the listener
    // says that anything may have changed.
    if (!m_state->firstTried.tryAcquire(1, kFirstWaitMs)) {
        int waiting = detail::ListenState::Waiting;
        m_state->first.compare_exchange_strong(waiting, detail::ListenState::GaveUp);
    }
}

void ChangeListener::stop()
{
    if (!m_thread)
        return;
    disconnect(m_forward);
    m_state.reset();
    QThread *thread = m_thread;
    m_thread = nullptr;
    thread->quit();
    if (thread->wait(kStopWaitMs)) {
        delete thread;
        return;
    }
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (thread->isFinished())
        thread->deleteLater();
}

} // namespace store

#include "ChangeListener.moc"
