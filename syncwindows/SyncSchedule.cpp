#include "syncwindows/SyncSchedule.h"

#include "model/Calendar.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/StaffMembers.h"
#include "store/StoreError.h"
#include "sync/Secrets.h"
#include "syncwindows/SyncBackend.h"
#include "syncwindows/frmCalendarSync.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"
#include "ui/Regional.h"

#include <QDateTime>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

using caldav::ConflictChooser;
using caldav::DavError;
using caldav::Fault;

namespace {

constexpr int kAfterChangeMs = 3000;
constexpr int kDefaultEveryMinutes = 5;
const QString kEveryKey = QStringLiteral("calendarSync/everyMinutes");

QString staffName(const QHash<int, QString> &names, int id)
{
    return names.value(id, QStringLiteral("staff member %1").arg(id));
}

// One event whole, for the side whose counterpart is deleted.
QString eventText(const store::Event &e, const QHash<int, QString> &names)
{
    QStringList lines{QStringLiteral("Title: ") + quotedShort(e.values.title),
                      QStringLiteral("Start: ") + longDateTimeText(e.start()),
                      QStringLiteral("End: ") + longDateTimeText(e.end()),
                      QStringLiteral("Staff member: ") + staffName(names, e.values.staffId)};
    if (!e.values.description.isEmpty())
        lines << QStringLiteral("Description: ") + quotedShort(e.values.description);
    if (!e.values.notes.isEmpty())
        lines << QStringLiteral("Notes: ") + quotedShort(e.values.notes);
    return lines.join(QStringLiteral("\r\n"));
}

// One line per field the two versions differ in, as the editor lists them.
QString differences(const store::Event &here, const store::Event &server, const QHash<int, QString> &names)
{
    QStringList lines;
    auto line = [&lines](const char *field, const QString &a, const QString &b) {
        if (a != b)
            lines << QStringLiteral("%1: here %2, on the server %3").arg(QLatin1String(field), a, b);
    };
    line("Title", quotedShort(here.values.title), quotedShort(server.values.title));
    line("Start", longDateTimeText(here.start()), longDateTimeText(server.start()));
    line("End", longDateTimeText(here.end()), longDateTimeText(server.end()));
    line("Staff member", staffName(names, here.values.staffId), staffName(names, server.values.staffId));
    line("Description", quotedShort(here.values.description), quotedShort(server.values.description));
    line("Notes", quotedShort(here.values.notes), quotedShort(server.values.notes));
    if (lines.isEmpty())
        lines << QStringLiteral("Title: ") + quotedShort(here.values.title);
    return lines.join(QStringLiteral("\r\n"));
}

QString count(int n, const char *what)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(what));
}

QString outcomeText(const caldav::SyncOutcome &o)
{
    QStringList parts;
    if (o.sent)
        parts << count(o.sent, "sent");
    if (o.received)
        parts << count(o.received, "received");
    if (o.deletedHere)
        parts << count(o.deletedHere, "deleted here");
    if (o.deletedThere)
        parts << count(o.deletedThere, "deleted on the server");
    QString text = parts.isEmpty() ? QStringLiteral("nothing changed") : parts.join(QStringLiteral(", "));
    if (!o.left.isEmpty())
        text += o.left.size() == 1
            ? QStringLiteral("; 1 event changed on both sides was left alone (Sync Now asks which version to keep)")
            : QStringLiteral("; %1 events changed on both sides were left alone (Sync Now asks which version to keep)")
                  .arg(o.left.size());
    return text;
}

QString clock(const QDateTime &t)
{
    return (t.isValid() ? t.toLocalTime() : QDateTime::currentDateTime()).toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

// What a worker thread and the window share of one run.
struct SyncSchedule::Run
{
    std::atomic<bool> cancel{false};
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<ConflictChooser::Choice> answer;
    std::optional<caldav::SyncOutcome> outcome;
    std::optional<DavError> davError;
    QString failure; // any other failure's reason
};

namespace {

// Called on the worker thread; the question is asked on the window's.
class WindowChooser : public ConflictChooser
{
public:
    using Ask = std::function<Choice(const caldav::SyncConflict &)>;
    WindowChooser(QObject *context, std::shared_ptr<SyncSchedule::Run> run, Ask ask)
        : m_context(context), m_run(std::move(run)), m_ask(std::move(ask)) {}

    Choice choose(const caldav::SyncConflict &conflict) override
    {
        if (m_run->cancel)
            return Choice::Leave;
        {
            std::lock_guard<std::mutex> lock(m_run->mutex);
            m_run->answer.reset();
        }
        std::shared_ptr<SyncSchedule::Run> run = m_run;
        Ask ask = m_ask;
        QMetaObject::invokeMethod(
            m_context,
            [run, ask, conflict]() {
                const Choice choice = run->cancel ? Choice::Leave : ask(conflict);
                std::lock_guard<std::mutex> lock(run->mutex);
                run->answer = choice;
                run->answered.notify_all();
            },
            Qt::QueuedConnection);
        // Woken now and then, so that a window closing meanwhile (whose
        // question then never comes) does not keep the run waiting.
        std::unique_lock<std::mutex> lock(m_run->mutex);
        while (!m_run->answer) {
            if (m_run->cancel)
                return Choice::Leave;
            m_run->answered.wait_for(lock, std::chrono::milliseconds(100));
        }
        return *m_run->answer;
    }

private:
    QObject *m_context;
    std::shared_ptr<SyncSchedule::Run> m_run;
    Ask m_ask;
};

} // namespace

SyncSchedule::SyncSchedule(const AppServices &services, SyncBackend &backend, caldav::Secrets &secrets, QWidget *window)
    : QObject(window), m_services(services), m_backend(backend), m_secrets(secrets), m_window(window)
{
    setObjectName(QStringLiteral("syncSchedule"));
    // A burst of changes (a week copied, an undo or two) goes out in one run.
    m_afterChange = new QTimer(this);
    m_afterChange->setObjectName(QStringLiteral("syncAfterChange"));
    m_afterChange->setSingleShot(true);
    m_afterChange->setInterval(kAfterChangeMs);
    connect(m_afterChange, &QTimer::timeout, this, [this]() { start(Trigger::Change); });
    m_every = new QTimer(this);
    m_every->setObjectName(QStringLiteral("syncEvery"));
    connect(m_every, &QTimer::timeout, this, [this]() { start(Trigger::Timer); });
    setEveryMinutes(savedEveryMinutes());
}

SyncSchedule::~SyncSchedule()
{
    if (!m_thread)
        return;
    m_run->cancel = true;
    m_thread->wait();
    delete m_thread;
}

int SyncSchedule::savedEveryMinutes()
{
    QSettings settings(store::settingsFilePath(), QSettings::IniFormat);
    const int minutes = settings.value(kEveryKey, kDefaultEveryMinutes).toInt();
    return minutes > 0 ? minutes : kDefaultEveryMinutes;
}

void SyncSchedule::saveEveryMinutes(int minutes)
{
    QSettings settings(store::settingsFilePath(), QSettings::IniFormat);
    settings.setValue(kEveryKey, minutes);
}

void SyncSchedule::setEveryMinutes(int minutes)
{
    m_every->start(std::max(1, minutes) * 60 * 1000);
}

int SyncSchedule::everyMinutes() const
{
    return m_every->interval() / 60000;
}

void SyncSchedule::setCalendar(model::Calendar *calendar)
{
    if (m_calendar)
        disconnect(m_calendar, nullptr, this, nullptr);
    m_calendar = calendar;
    m_afterChange->stop();
    m_paused = false;
    m_faultSaid = false;
    m_left.clear();
    setStatus(QString());
    if (!calendar)
        return;
    connect(calendar, &model::Calendar::eventsChanged, this,
            [this](const QDate &, const QDate &, model::Calendar::Origin origin) {
                // Another copy of a shared calendar syncs what it wrote itself.
                if (origin == model::Calendar::Origin::ThisCopy && !m_ownNotice)
                    m_afterChange->start();
            });
    // A staff member renamed changes the CONTACT of the events.
    connect(calendar, &model::Calendar::staffChanged, this, [this](model::Calendar::Origin origin) {
        if (origin == model::Calendar::Origin::ThisCopy)
            m_afterChange->start();
    });
    // What the phones changed meanwhile comes in soon after the calendar opens.
    m_afterChange->start();
}

void SyncSchedule::setStatus(const QString &text)
{
    m_status = text;
    emit statusChanged(text);
}

void SyncSchedule::cancel()
{
    if (m_run)
        m_run->cancel = true;
    m_again = false;
}

std::optional<QString> SyncSchedule::askPassword(const QUrl &server, const QString &user, const QString &why)
{
    QString text = why;
    if (!m_unavailableSaid && !m_secrets.unavailable().isEmpty()) {
        m_unavailableSaid = true;
        text += QStringLiteral("\r\n\r\nThe password cannot be kept in the desktop's secret store (%1), so it is "
                               "asked for once each time Orvenna starts and kept in memory only.")
                    .arg(m_secrets.unavailable());
    }
    frmSyncPassword dialog(text, m_window);
    if (m_services.modal->showModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    const QString password = dialog.password();
    m_secrets.setPassword(server, user, password);
    // Said here when the store failed only now.
    if (!m_unavailableSaid && !m_secrets.unavailable().isEmpty()) {
        m_unavailableSaid = true;
        m_services.prompt->inform(m_window, QStringLiteral("The password cannot be kept in the desktop's secret "
                                                           "store (%1), so it is asked for once each time Orvenna "
                                                           "starts and kept in memory only.")
                                                .arg(m_secrets.unavailable()));
    }
    return password;
}

void SyncSchedule::start(Trigger trigger)
{
    if (trigger == Trigger::Now)
        m_afterChange->stop();
    if (!m_calendar || (m_paused && trigger != Trigger::Now))
        return;
    if (m_thread) {
        // One run at a time: another follows it, for what changed meanwhile.
        m_again = true;
        m_againNow = m_againNow || trigger == Trigger::Now;
        return;
    }
    const QString connectionString = m_calendar->connectionString();
    std::optional<caldav::Binding> binding;
    try {
        binding = m_backend.binding(connectionString);
    } catch (const std::exception &e) {
        // Unasked, a calendar unreadable for a moment (locked, the server
        // restarting) is tried again later; the windows say what is wrong with it.
        if (trigger == Trigger::Now) {
            const auto *store = dynamic_cast<const store::StoreError *>(&e);
            const QString reason = QStringLiteral("the calendar could not be read: ")
                + (store ? store->description() : QString::fromStdString(e.what()));
            setStatus(QStringLiteral("Sync failed at %1: %2").arg(clock({}), reason));
            m_services.prompt->critical(m_window, QStringLiteral("The calendar was not synced: ") + reason);
        }
        return;
    }
    if (!binding) {
        if (trigger == Trigger::Now)
            m_services.prompt->inform(m_window, QStringLiteral("This calendar is not synced with a server calendar. "
                                                               "Choose File > Calendar Sync... to connect it to one."));
        return;
    }
    if (trigger == Trigger::Now)
        m_paused = false;
    caldav::Account account;
    account.url = binding->calendar;
    account.user = binding->user;
    account.trustedFingerprint = binding->trustedFingerprint;
    // A server without a login (one on this machine) needs no password.
    std::optional<QString> password = binding->user.isEmpty() ? QString()
                                                               : m_secrets.password(binding->calendar, binding->user);
    if (!password) {
        password = askPassword(binding->calendar, binding->user,
                               QStringLiteral("The password of %1 at %2, to sync this calendar:")
                                   .arg(binding->user, caldav::Secrets::serverKey(binding->calendar)));
        if (!password) {
            m_paused = true;
            setStatus(QStringLiteral("Not synced: no password was given. Sync Now asks again."));
            return;
        }
    }
    account.password = *password;

    m_trigger = trigger;
    m_binding = binding;
    m_run = std::make_shared<Run>();
    std::shared_ptr<Run> run = m_run;
    // Asked only while a person is at the window; else the event is left alone and listed.
    const bool attended = trigger == Trigger::Now || (m_window && m_window->isActiveWindow());
    std::shared_ptr<ConflictChooser> chooser;
    if (attended)
        chooser = std::make_shared<WindowChooser>(this, run,
                                                  [this](const caldav::SyncConflict &c) { return askConflict(c); });
    SyncBackend *backend = &m_backend;
    // The destructor waits for the run, so `self` outlives it; a progress
    // notice still queued then is dropped with it.
    SyncSchedule *self = this;
    m_thread = QThread::create([run, chooser, backend, connectionString, account, self]() {
        try {
            run->outcome = backend->run(connectionString, account, chooser.get(), [run, self](int done, int total) {
                QMetaObject::invokeMethod(
                    self, [self, done, total]() { emit self->progressed(done, total); }, Qt::QueuedConnection);
                return !run->cancel;
            });
        } catch (const DavError &e) {
            run->davError = e;
        } catch (const store::StoreError &e) {
            run->failure = QStringLiteral("the calendar could not be read or written: ") + e.description();
        } catch (const std::exception &e) {
            run->failure = QString::fromStdString(e.what());
        }
    });
    m_thread->setObjectName(QStringLiteral("calendarSync"));
    connect(m_thread, &QThread::finished, this, &SyncSchedule::finished);
    setStatus(QStringLiteral("Syncing with %1 ...").arg(binding->calendar.host()));
    emit runningChanged(true);
    m_thread->start();
}

void SyncSchedule::finished()
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    const std::shared_ptr<Run> run = std::move(m_run);
    const caldav::Binding binding = *m_binding;
    emit runningChanged(false);
    if (run->outcome) {
        const caldav::SyncOutcome &o = *run->outcome;
        m_left = o.left;
        m_faultSaid = false;
        setStatus((run->cancel ? QStringLiteral("Sync cancelled at %1 (the next sync goes on from there): %2")
                               : QStringLiteral("Synced at %1: %2"))
                      .arg(clock(o.finished), outcomeText(o)));
        if ((o.received || o.deletedHere) && m_calendar) {
            // The windows follow what came in; that is no change to send.
            m_ownNotice = true;
            m_calendar->tellEvents(QDate(), QDate());
            m_ownNotice = false;
        }
    } else if (run->cancel && !run->davError) {
        setStatus(QStringLiteral("Sync cancelled at %1 (the next sync goes on from there).").arg(clock({})));
    } else if (run->davError) {
        fault(*run->davError, binding, m_trigger);
    } else {
        setStatus(QStringLiteral("Sync failed at %1: %2").arg(clock({}), run->failure));
        if (m_trigger == Trigger::Now)
            m_services.prompt->critical(m_window, QStringLiteral("The calendar was not synced: ") + run->failure);
    }
    if (m_again) {
        const Trigger next = m_againNow ? Trigger::Now : Trigger::Change;
        m_again = m_againNow = false;
        start(next);
    }
}

void SyncSchedule::fault(const DavError &error, const caldav::Binding &binding, Trigger trigger)
{
    const QString host = caldav::Secrets::serverKey(binding.calendar);
    QString reason;
    switch (error.fault()) {
    case Fault::Network:
        reason = QStringLiteral("the server cannot be reached (%1). The next sync tries again.").arg(error.reason());
        break;
    case Fault::Timeout:
        reason = QStringLiteral("the server did not answer in time. The next sync tries again.");
        break;
    case Fault::Unauthorized:
        reason = QStringLiteral("the server refused the user name or password.");
        break;
    case Fault::Forbidden:
        reason = QStringLiteral("the server does not allow %1 to change this calendar (403).").arg(binding.user);
        break;
    case Fault::NotFound:
        reason = QStringLiteral("the calendar is gone from the server (%1).").arg(binding.calendar.toString());
        break;
    case Fault::PreconditionFailed:
        reason = QStringLiteral("an event was changed on the server meanwhile; the next sync fetches it and tries again.");
        break;
    case Fault::InsufficientStorage:
        reason = QStringLiteral("the server is full (507): it stores nothing more until space is freed there.");
        break;
    case Fault::Redirect:
        reason = QStringLiteral("the server sends the calendar to another address (%1); choose it again in File > "
                                "Calendar Sync...")
                     .arg(error.location().toString());
        break;
    case Fault::Tls:
        reason = error.fingerprint().isEmpty()
            ? QStringLiteral("the secure connection failed (%1).").arg(error.reason())
            : QStringLiteral("the server's certificate has changed and is not trusted; its SHA-256 fingerprint is "
                             "%1. Nothing was synced. If you trust it, trust it in File > Calendar Sync...")
                  .arg(frmCalendarSync::fingerprintText(error.fingerprint()));
        break;
    case Fault::Insecure:
        reason = QStringLiteral("plain http:// is accepted only for this machine (localhost, 127.0.0.1, ::1).");
        break;
    case Fault::BadAnswer:
        reason = QStringLiteral("the server's answer could not be read (%1); nothing was changed.").arg(error.reason());
        break;
    case Fault::InvalidSyncToken:
    case Fault::Http:
        reason = error.reason();
        break;
    }
    setStatus(QStringLiteral("Sync failed at %1: %2").arg(clock({}), reason));
    const bool saidBefore = m_faultSaid && m_lastFault == error.fault();
    m_lastFault = error.fault();
    m_faultSaid = true;
    switch (error.fault()) {
    case Fault::Unauthorized: {
        const std::optional<QString> password = askPassword(
            binding.calendar, binding.user,
            QStringLiteral("The server %1 refused the password of %2. Enter it again:").arg(host, binding.user));
        if (password) {
            m_again = true;
            m_againNow = m_againNow || trigger == Trigger::Now;
        } else {
            m_paused = true;
        }
        return;
    }
    case Fault::NotFound:
        m_paused = true;
        if (saidBefore && trigger != Trigger::Now)
            return;
        if (m_services.prompt->ask(m_window, QStringLiteral("The calendar on the server is gone: %1\r\n\r\nNothing "
                                                            "was synced. Pick another calendar?")
                                                 .arg(binding.calendar.toString())))
            emit pickAnother();
        return;
    case Fault::Tls:
    case Fault::Redirect:
    case Fault::Insecure:
    case Fault::Forbidden:
        // Nothing mends by itself: asking the server again every few minutes
        // helps no one, so the person is told once.
        m_paused = true;
        if (trigger == Trigger::Now || !saidBefore)
            m_services.prompt->critical(m_window, QStringLiteral("The calendar was not synced: ") + reason);
        return;
    default:
        // Mends by itself (the server back, space freed): the status line says it.
        if (trigger == Trigger::Now)
            m_services.prompt->critical(m_window, QStringLiteral("The calendar was not synced: ") + reason);
        return;
    }
}

ConflictChooser::Choice SyncSchedule::askConflict(const caldav::SyncConflict &conflict)
{
    QHash<int, QString> names;
    if (m_calendar) {
        try {
            store::Connection conn;
            conn.open(m_calendar->connectionString());
            names = store::StaffMembers::names(conn);
        } catch (const store::StoreError &) {
            // The question names the staff member by number then.
        }
    }
    QString text;
    if (conflict.here && conflict.server)
        text = QStringLiteral("This event was changed both here and on the server since the last sync:\r\n\r\n%1"
                              "\r\n\r\nKeep the version here? Choose No to take the server's version; the other one "
                              "is then lost.")
                   .arg(differences(*conflict.here, *conflict.server, names));
    else if (conflict.here)
        text = QStringLiteral("This event was changed here but deleted on the server since the last sync:\r\n\r\n%1"
                              "\r\n\r\nKeep it and send it to the server again? Choose No to delete it here too.")
                   .arg(eventText(*conflict.here, names));
    else if (conflict.server)
        text = QStringLiteral("This event was deleted here but changed on the server since the last sync:\r\n\r\n%1"
                              "\r\n\r\nDelete it on the server too? Choose No to keep the server's version here.")
                   .arg(eventText(*conflict.server, names));
    else
        return ConflictChooser::Choice::Here;
    return m_services.prompt->ask(m_window, text, QStringLiteral("Calendar Sync")) ? ConflictChooser::Choice::Here
                                                                                   : ConflictChooser::Choice::Server;
}
