#include "store/ChangeListener.h"

#include "store/Engine.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/StoreError.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTcpSocket>

namespace store {
namespace {
constexpr int kRetryMs = 3000;
}

ChangeListener::ChangeListener(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(kRetryMs);
    connect(&m_timer, &QTimer::timeout, this, [this]() {
        if (isListening())
            checkAlive();
        else
            connectNow();
    });
}

ChangeListener::~ChangeListener()
{
    stop();
}

void ChangeListener::listen(const QString &connectionString)
{
    stop();
    if (engineOf(connectionString) != Engine::Postgres)
        return;
    m_url = connectionString.trimmed();
    m_missed = false;
    m_timer.start();
    connectNow();
}

void ChangeListener::stop()
{
    m_timer.stop();
    delete m_probe;
    drop();
    m_url.clear();
}

void ChangeListener::drop()
{
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

void ChangeListener::connectNow()
{
    delete m_probe; // still no answer from the last knock
    ServerAddress a;
    try {
        a = parseServerUrl(m_url);
    } catch (const StoreError &) {
        m_timer.stop();
        return;
    }
    if (a.host.isEmpty() || a.host.startsWith(QLatin1Char('/'))) {
        openListening(); // a local socket answers or refuses at once
        return;
    }
    m_probe = new QTcpSocket(this);
    connect(m_probe, &QTcpSocket::connected, this, [this]() {
        m_probe->deleteLater();
        m_probe = nullptr;
        openListening();
    });
    connect(m_probe, &QTcpSocket::errorOccurred, this, [this]() {
        m_probe->deleteLater();
        m_probe = nullptr;
        m_missed = true;
    });
    m_probe->connectToHost(a.host, quint16(a.port));
}

void ChangeListener::openListening()
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
                emit changed(payload.toString());
            });
    if (m_missed) {
        m_missed = false;
        emit changed(QString());
    }
}

void ChangeListener::checkAlive()
{
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    if (q.exec(QStringLiteral("SELECT 1")))
        return;
    q = QSqlQuery();
    drop();
    m_missed = true;
    connectNow();
}

} // namespace store
