#pragma once

#include "sync/SyncEngine.h"
#include "ui/AppServices.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QThread;
class QTimer;
class QWidget;
class SyncBackend;
namespace caldav { class Secrets; }
namespace model { class Calendar; }

// Keeps the calendar in use in step with its server calendar while the
// program runs: on request (Sync Now), a few seconds after each change made
// here, and every few minutes; one run at a time, on a worker thread. Says
// how the last run went; asks for what only a person can give (a password,
// another calendar, the choice between two changed versions of an event).
class SyncSchedule : public QObject
{
    Q_OBJECT
public:
    enum class Trigger { Now, Change, Timer };

    SyncSchedule(const AppServices &services, SyncBackend &backend, caldav::Secrets &secrets, QWidget *window);
    // Cancels a run and waits for it.
    ~SyncSchedule() override;

    // The calendar whose changes start a sync; none: nothing syncs.
    void setCalendar(model::Calendar *calendar);
    void setEveryMinutes(int minutes);
    [[nodiscard]] int everyMinutes() const;

    void syncNow() { start(Trigger::Now); }
    void start(Trigger trigger);
    void cancel();
    [[nodiscard]] bool running() const { return m_thread != nullptr; }
    [[nodiscard]] QString status() const { return m_status; }
    // Events changed on both sides that the last run left alone.
    [[nodiscard]] QList<caldav::SyncConflict> left() const { return m_left; }

    // Asks for the password of `user` at `server` (`why` above), keeps it and
    // returns it; none when the person cancels. Says once per run why it is
    // not kept in the secret store.
    std::optional<QString> askPassword(const QUrl &server, const QString &user, const QString &why);

    // The minutes between syncs kept in the user's settings (default 5).
    [[nodiscard]] static int savedEveryMinutes();
    static void saveEveryMinutes(int minutes);

    struct Run;

signals:
    void statusChanged(const QString &text);
    void runningChanged(bool running);
    void progressed(int done, int total);
    // The calendar on the server is gone and the person wants another one.
    void pickAnother();

private:
    void finished();
    void fault(const caldav::DavError &error, const caldav::Binding &binding, Trigger trigger);
    void setStatus(const QString &text);
    caldav::ConflictChooser::Choice askConflict(const caldav::SyncConflict &conflict);

    AppServices m_services;
    SyncBackend &m_backend;
    caldav::Secrets &m_secrets;
    QPointer<QWidget> m_window;
    QPointer<model::Calendar> m_calendar;
    QTimer *m_afterChange = nullptr;
    QTimer *m_every = nullptr;
    QThread *m_thread = nullptr;
    std::shared_ptr<Run> m_run;
    Trigger m_trigger = Trigger::Timer;
    std::optional<caldav::Binding> m_binding; // of the run going on
    bool m_again = false;
    bool m_againNow = false;
    // After a fault only a person can mend, only Sync Now syncs.
    bool m_paused = false;
    bool m_unavailableSaid = false;
    bool m_ownNotice = false;
    caldav::Fault m_lastFault = caldav::Fault::Http;
    bool m_faultSaid = false;
    QString m_status;
    QList<caldav::SyncConflict> m_left;
};
