#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <memory>

class QThread;

namespace store {

namespace detail {
struct ListenState;
}

// Hears what other copies change in a shared calendar: one long-lived server
// connection that LISTENs on the channel the schema's triggers announce on.
// For a database file it does nothing. The connection lives on a thread of its
// own, so a server that stalls holds up that thread and never the windows'.
// When the server goes away it tries again every few seconds, and says that
// anything may have changed once it is back.
class ChangeListener : public QObject
{
    Q_OBJECT
public:
    explicit ChangeListener(QObject *parent = nullptr);
    ~ChangeListener() override;

    // Returns once the first connection was made or failed, or after two
    // seconds: should it be made later, changed() says that anything may have
    // changed.
    void listen(const QString &connectionString);
    void stop();
    [[nodiscard]] bool isListening() const;

signals:
    // `table` is the lower-case name of the changed table; empty when anything
    // may have changed (changes missed while the server was away).
    void changed(const QString &table);

private:
    QThread *m_thread = nullptr;
    std::shared_ptr<detail::ListenState> m_state;
    QMetaObject::Connection m_forward;
};

} // namespace store
