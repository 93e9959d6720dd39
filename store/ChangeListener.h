#pragma once

#include <QObject>
#include <QString>
#include <QPointer>
#include <QTimer>

class QTcpSocket;

namespace store {

// Hears what other copies change in a shared calendar: one long-lived server
// connection that LISTENs on the channel the schema's triggers announce on.
// For a database file it does nothing. When the server goes away it tries
// again every few seconds, and says that anything may have changed once it is
// back.
class ChangeListener : public QObject
{
    Q_OBJECT
public:
    explicit ChangeListener(QObject *parent = nullptr);
    ~ChangeListener() override;

    void listen(const QString &connectionString);
    void stop();
    [[nodiscard]] bool isListening() const { return !m_name.isEmpty(); }

signals:
    // `table` is the lower-case name of the changed table; empty when anything
    // may have changed (changes missed while the server was away).
    void changed(const QString &table);

private:
    void connectNow();
    void openListening();
    void checkAlive();
    void drop();

    QString m_url;
    QString m_name;
    bool m_missed = false;
    QTimer m_timer;
    // Over TCP the server is first knocked at without blocking: an unreachable
    // host would otherwise hold the window for the whole connect timeout.
    QPointer<QTcpSocket> m_probe;
};

} // namespace store
