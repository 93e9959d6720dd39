#include "sync/SyncEngine.h"

#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"
#include "store/Connection.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/StoreError.h"
#include "store/Transaction.h"
#include "sync/SyncState.h"

#include <QCryptographicHash>
#include <QHash>
#include <QLockFile>
#include <QMultiHash>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <memory>

namespace caldav {
namespace {

using statements::EventValues;
using store::Event;

// pg_try_advisory_lock(key, hashtext(schema)): one run per shared calendar.
constexpr int kSyncLockKey = 0x6f727673; // "orvs"
// Resources asked for in one calendar-multiget.
constexpr int kMultigetBatch = 100;
// New events sent between two chances to cancel, and how many of their
// writes are on the wire at once.
constexpr int kPutBatch = 8;
constexpr int kPutsInFlight = 4;

QString keyOf(const QUrl &url)
{
    return url.path(QUrl::FullyDecoded);
}

QUrl urlOf(const QUrl &calendar, const QString &key)
{
    QUrl url = calendar;
    url.setPath(key, QUrl::DecodedMode);
    return url;
}

QUrl withSlash(QUrl url)
{
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

bool sameTexts(const EventValues &a, const EventValues &b)
{
    return a.title == b.title && a.description == b.description && a.notes == b.notes && a.startDate == b.startDate
        && a.startTime == b.startTime && a.endDate == b.endDate && a.endTime == b.endTime;
}

bool sameValues(const EventValues &a, const EventValues &b)
{
    return sameTexts(a, b) && a.staffId == b.staffId;
}

EventValues valuesOf(const exchange::CalendarEvent &e, int staffId)
{
    EventValues v;
    v.title = e.title;
    v.description = e.description;
    v.notes = e.notes;
    v.startDate = e.start.date();
    v.startTime = e.start.time();
    v.endDate = e.end.date();
    v.endTime = e.end.time();
    v.staffId = staffId;
    return v;
}

// What an event on the server says, as far as this calendar keeps it.
QString digestOf(const exchange::CalendarEvent &e)
{
    const QString text = QStringList{e.title, e.description, e.notes, e.start.toString(Qt::ISODate), e.end.toString(Qt::ISODate)}
                             .join(QChar(0x1f));
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex());
}

QString digestOf(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}

QString occurrenceKey(const QDateTime &start)
{
    return start.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

// One resource as read from the server.
struct ServerItem
{
    QString href;
    QString etag;
    QByteArray data;
    QString uid;
    bool repeating = false; // or more than one entry: read-only here, its events are occurrences
    exchange::CalendarEvent single;
    QList<exchange::CalendarEvent> occurrences;
    QString digest;
};

struct Window
{
    QDate first;
    QDate last;
};

ServerItem parseItem(const QString &href, const QString &etag, const QByteArray &data, const Window &window)
{
    ServerItem item;
    item.href = href;
    item.etag = etag;
    item.data = data;
    try {
        exchange::ReadCalendar read = exchange::readCalendar(data, window.first, window.last);
        // A single event outside the window comes in all the same.
        if (read.repeating == 0 && read.outsideRange > 0)
            read = exchange::readCalendar(data, QDate(1900, 1, 1), QDate(9999, 12, 31));
        if (read.repeating == 0 && read.events.size() == 1) {
            item.single = read.events.constFirst();
            item.uid = item.single.uid;
            item.digest = digestOf(item.single);
        } else {
            item.repeating = true;
            item.occurrences = read.events;
            item.uid = read.events.isEmpty() ? href : read.events.constFirst().uid;
            item.digest = digestOf(data);
        }
    } catch (const exchange::CalendarFileError &e) {
        throw DavError(Fault::BadAnswer, QStringLiteral("The server's event %1 is no valid iCalendar (line %2): %3")
                                             .arg(href)
                                             .arg(e.line())
                                             .arg(e.reason()));
    }
    return item;
}

// One run at a time per calendar: an advisory lock on the server, a lock
// file beside a calendar file (QLockFile tells a lock its process left behind).
class RunLock
{
public:
    explicit RunLock(store::Connection &conn) : m_conn(conn)
    {
        const QString busy = QStringLiteral("Another sync of this calendar is under way; try again when it has finished.");
        if (conn.engine() == store::Engine::Postgres) {
            store::RowSet rs = conn.execute(
                QStringLiteral("SELECT CASE WHEN pg_try_advisory_lock(%1, hashtext(current_schema())) THEN 1 ELSE 0 END AS got")
                    .arg(kSyncLockKey));
            if (rs.integer(QStringLiteral("got")) != 1)
                throw SyncBusy(busy);
            m_server = true;
            return;
        }
        m_file = std::make_unique<QLockFile>(conn.path() + QStringLiteral(".sync-lock"));
        // A run may take long; only a lock whose process is gone is stale.
        m_file->setStaleLockTime(0);
        if (!m_file->tryLock(0)) {
            if (m_file->error() == QLockFile::LockFailedError)
                throw SyncBusy(busy);
            throw store::StoreError(store::StoreError::Reason::ReadOnly, conn.path(),
                                    QStringLiteral("The lock file %1 could not be made.").arg(conn.path() + QStringLiteral(".sync-lock")));
        }
    }
    ~RunLock()
    {
        if (!m_server)
            return;
        try {
            m_conn.execute(QStringLiteral("SELECT pg_advisory_unlock(%1, hashtext(current_schema()))").arg(kSyncLockKey));
        } catch (const store::StoreError &) {
            // A lost connection took the lock with it.
        }
    }
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

private:
    store::Connection &m_conn;
    bool m_server = false;
    std::unique_ptr<QLockFile> m_file;
};

void refuseCopy(store::Connection &conn, const state::StoredBinding &stored)
{
    const QString here = state::locationOf(conn);
    if (stored.location != here)
        throw BindingClash(QStringLiteral("This calendar is a copy of the one at %1, which syncs with %2. Two calendars must not "
                                          "keep their events in one server calendar; remove the copy's sync, then choose "
                                          "another server calendar for it.")
                               .arg(stored.location, stored.binding.calendar.toDisplayString()));
}

// Thrown by the progress callback's refusal: the run stops, keeping what it did.
struct Cancelled
{
};

class Run
{
public:
    Run(const QString &connectionString, const Account &account, ConflictChooser *chooser,
        const std::function<bool(int, int)> &progress)
        : m_connectionString(connectionString), m_account(account), m_chooser(chooser), m_progress(progress)
    {
    }

    SyncOutcome go()
    {
        m_conn.open(m_connectionString);
        store::requireExchangeTables(m_conn);
        std::optional<state::StoredBinding> stored = state::hasTables(m_conn) ? state::readBinding(m_conn) : std::nullopt;
        if (!stored)
            throw DavError(Fault::NotFound, QStringLiteral("This calendar syncs with no server calendar."));
        m_stored = *stored;
        refuseCopy(m_conn, m_stored);
        const RunLock lock(m_conn);

        const Binding &b = m_stored.binding;
        m_calendar = withSlash(b.calendar);
        Account account = m_account;
        account.url = m_calendar;
        if (account.user.isEmpty())
            account.user = b.user;
        if (account.trustedFingerprint.isEmpty())
            account.trustedFingerprint = b.trustedFingerprint;
        m_client = std::make_unique<CalDavClient>(account);
        const QDate today = QDate::currentDate();
        m_window = {today.addDays(-7 * qMax(0, b.weeksBack)), today.addDays(7 * qMax(0, b.weeksAhead))};
        m_fallbackStaff = qMax(0, b.fallbackStaffId);

        try {
            m_resources = state::readResources(m_conn);
            // With the last run's token the sync REPORT alone says what changed:
            // a run with nothing to do is that one request. Without one, or when
            // the server no longer knows it, the calendar's state decides.
            if (!quickChanges()) {
                const Calendar cal = m_client->calendar(m_calendar);
                step();
                fetchChanges(cal);
            }
            readLocal();
            m_planned = m_client->requests() + int(m_local.size()) / 10;
            refuseOtherCalendars();

            for (const QString &href : sortedKeys(m_resources))
                settleKnown(href);
            for (const QString &href : sortedKeys(m_items))
                if (!m_resources.contains(href))
                    settleNew(m_items.value(href));
            sendNew();
            // A run that found nothing new writes nothing: an idle sync costs no commit to disk.
            if (m_newToken != m_stored.syncToken || m_newCtag != m_stored.ctag)
                state::saveProgress(m_conn, m_newToken, m_newCtag);
        } catch (const Cancelled &) {
            // What was done is kept; the next run goes on from there.
        }
        m_outcome.requests = m_client->requests();
        m_outcome.finished = QDateTime::currentDateTimeUtc();
        return m_outcome;
    }

private:
    template <typename T>
    static QStringList sortedKeys(const QHash<QString, T> &hash)
    {
        QStringList keys = hash.keys();
        keys.sort();
        return keys;
    }

    void step()
    {
        if (!m_progress)
            return;
        const int done = m_client->requests();
        if (!m_progress(done, qMax(done, m_planned)))
            throw Cancelled();
    }

    // The sync REPORT from the last run's token; nullopt when the server no
    // longer knows the token (Xandikos answers 500 to one it forgot).
    std::optional<SyncReport> syncReport()
    {
        if (m_tokenRefused)
            return std::nullopt;
        std::optional<SyncReport> report;
        try {
            report = m_client->syncCollection(m_calendar, m_stored.syncToken);
        } catch (const DavError &e) {
            if (e.fault() != Fault::InvalidSyncToken && e.fault() != Fault::Http)
                throw;
            m_tokenRefused = true;
        }
        step();
        return report;
    }

    // Whether the sync REPORT on the last run's token told what changed.
    bool quickChanges()
    {
        if (m_stored.syncToken.isEmpty())
            return false;
        const std::optional<SyncReport> report = syncReport();
        if (!report)
            return false;
        m_newCtag = m_stored.ctag;
        fetchItems(*report);
        return true;
    }

    // What changed on the server since the last complete run, read and
    // checked whole before anything is written here.
    void fetchChanges(const Calendar &cal)
    {
        m_newToken = cal.syncToken;
        m_newCtag = cal.ctag;
        const bool unchanged = cal.syncToken.isEmpty() ? (!cal.ctag.isEmpty() && cal.ctag == m_stored.ctag)
                                                       : cal.syncToken == m_stored.syncToken;
        if (unchanged)
            return;
        if (!cal.syncToken.isEmpty()) {
            if (const std::optional<SyncReport> report = syncReport()) {
                fetchItems(*report);
                return;
            }
        }
        const QList<Resource> changed = m_client->list(m_calendar);
        QSet<QString> present;
        for (const Resource &r : changed)
            present.insert(keyOf(r.url));
        for (auto it = m_resources.cbegin(); it != m_resources.cend(); ++it)
            if (!present.contains(it.key()))
                m_removed.insert(it.key());
        step();
        fetchItems(changed);
    }

    void fetchItems(const SyncReport &report)
    {
        for (const QUrl &url : report.removed)
            m_removed.insert(keyOf(url));
        m_newToken = report.token;
        fetchItems(report.changed);
    }

    // The changed resources' data, those whose ETag is new here.
    void fetchItems(const QList<Resource> &changed)
    {
        QList<QUrl> wanted;
        for (const Resource &r : changed) {
            const QString href = keyOf(r.url);
            if (href == keyOf(m_calendar))
                continue;
            m_removed.remove(href);
            const auto known = m_resources.constFind(href);
            if (known == m_resources.cend() || known->etag != r.etag || r.etag.isEmpty())
                wanted.append(r.url);
        }
        QSet<QString> asked;
        for (qsizetype at = 0; at < wanted.size(); at += kMultigetBatch) {
            const QList<QUrl> batch = wanted.mid(at, kMultigetBatch);
            for (const Resource &r : m_client->multiget(m_calendar, batch)) {
                const QString href = keyOf(r.url);
                m_items.insert(href, parseItem(href, r.etag, r.data, m_window));
            }
            step();
        }
        // One gone between the listing and the multiget.
        for (const QUrl &url : wanted)
            if (!m_items.contains(keyOf(url)) && m_resources.contains(keyOf(url)))
                m_removed.insert(keyOf(url));
    }

    void readLocal()
    {
        for (const Event &e : store::Events::readAll(m_conn))
            m_local.insert(e.id, e);
        for (const state::SyncedEvent &s : state::readSyncedEvents(m_conn)) {
            m_synced.insert(s.eventId, s);
            m_byHref.insert(s.href, s.eventId);
        }
        m_staff = exchange::readStaff(m_conn);
    }

    // Events another Orvenna calendar put into this collection: two
    // calendars would fight over them.
    void refuseOtherCalendars()
    {
        static const QRegularExpression own(QStringLiteral("^orvenna-\\d+-([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})$"));
        for (const ServerItem &item : std::as_const(m_items)) {
            if (m_resources.contains(item.href))
                continue;
            const QRegularExpressionMatch m = own.match(item.uid);
            if (m.hasMatch() && m.captured(1) != m_stored.identity)
                throw BindingClash(QStringLiteral("Another Orvenna calendar keeps its events in %1 already. Two calendars must not "
                                                  "keep their events in one server calendar; choose another one.")
                                       .arg(m_calendar.toDisplayString()));
        }
    }

    std::optional<ServerItem> fetchOne(const QString &href)
    {
        try {
            const Resource r = m_client->get(urlOf(m_calendar, href));
            step();
            return parseItem(href, r.etag, r.data, m_window);
        } catch (const DavError &e) {
            if (e.fault() == Fault::NotFound)
                return std::nullopt;
            throw;
        }
    }

    int staffFor(const exchange::CalendarEvent &e, int otherwise) const
    {
        return exchange::staffFor(e.staffName, m_staff, otherwise);
    }

    std::optional<Event> local(int eventId) const
    {
        const auto it = m_local.constFind(eventId);
        return it == m_local.cend() ? std::nullopt : std::optional<Event>(*it);
    }

    // The event as stored after a write, whose texts the store may have cleaned.
    EventValues storedValues(int eventId, const EventValues &written)
    {
        const std::optional<Event> e = store::Events::readOne(m_conn, eventId);
        return e ? e->values : written;
    }

    static state::ResourceRow rowOf(const ServerItem &item)
    {
        state::ResourceRow row;
        row.href = item.href;
        row.uid = item.uid;
        row.etag = item.etag;
        row.repeating = item.repeating;
        row.digest = item.digest;
        row.data = item.repeating ? item.data : QByteArray();
        return row;
    }

    void record(const state::ResourceRow &row, int eventId, const EventValues &last)
    {
        store::Transaction t(m_conn);
        state::putResource(m_conn, row);
        state::putSyncedEvent(m_conn, {eventId, row.href, QString(), last});
        t.commit();
        m_resources.insert(row.href, row);
        m_synced.insert(eventId, {eventId, row.href, QString(), last});
    }

    void forget(const QString &href)
    {
        state::dropResource(m_conn, href);
        m_resources.remove(href);
    }

    QByteArray textOf(const Event &e, const QString &uid) const
    {
        exchange::CalendarEvent c = exchange::toCalendarEvent(e, m_stored.identity);
        c.uid = uid;
        c.reminderMinutes = m_stored.binding.reminderMinutes;
        return exchange::writeCalendar({c}, QTimeZone::systemTimeZoneId());
    }

    // Writes the event to the server over `etag` (empty: as a new resource)
    // and records both sides as in step. Throws DavError, PreconditionFailed
    // when the server holds another version.
    void upload(const Event &e, const QString &href, const QString &uid, const QString &etag)
    {
        const QByteArray text = textOf(e, uid);
        const QString newTag = m_client->put(urlOf(m_calendar, href), text, etag);
        ServerItem sent = parseItem(href, newTag, text, m_window);
        record(rowOf(sent), e.id, e.values);
        ++m_outcome.sent;
        // Stopped only once the upload is recorded.
        step();
    }

    // Both sides in step at the server's version, the event here as it is.
    void settleEqual(const ServerItem &item, const Event &here)
    {
        record(rowOf(item), here.id, here.values);
    }

    // A single event known to both sides.
    void settleKnown(const QString &href)
    {
        const state::ResourceRow row = m_resources.value(href);
        const bool gone = m_removed.contains(href);
        const std::optional<ServerItem> item = m_items.contains(href) ? std::optional<ServerItem>(m_items.value(href)) : std::nullopt;
        if (row.repeating) {
            if (gone) {
                removeSeries(href);
            } else if (item && !item->repeating) {
                // The phone made a series a single event: it comes anew.
                removeSeries(href);
                settleNew(*item);
            } else {
                settleSeries(item ? *item : parseItem(href, row.etag, row.data, m_window));
            }
            return;
        }
        const QList<int> ids = m_byHref.values(href);
        if (ids.isEmpty()) {
            forget(href);
            if (item)
                settleNew(*item);
            return;
        }
        const state::SyncedEvent synced = m_synced.value(ids.constFirst());
        const std::optional<Event> here = local(synced.eventId);
        const bool hereChanged = here && !sameValues(here->values, synced.last);
        const bool hereGone = !here;
        if (item && item->repeating) {
            // A phone turned the event into a series: the series rules.
            if (here && !hereChanged)
                removeHere(*here);
            m_byHref.remove(href);
            forget(href);
            settleNew(*item);
            return;
        }
        const bool serverChanged = item && item->digest != row.digest;
        if (item && !serverChanged) {
            state::ResourceRow moved = row;
            moved.etag = item->etag;
            state::putResource(m_conn, moved);
            m_resources.insert(href, moved);
        }
        if (!serverChanged && !gone) {
            if (hereGone)
                deleteThere(href, synced);
            else if (hereChanged)
                sendChange(href, *here);
            return;
        }
        if (!hereChanged && !hereGone) {
            if (gone)
                removeHere(*here);
            else
                takeServer(*item, *here);
            return;
        }
        if (gone && hereGone) {
            forget(href);
            return;
        }
        conflict(href, here, gone ? std::nullopt : item);
    }

    void sendChange(const QString &href, const Event &here)
    {
        const state::ResourceRow row = m_resources.value(href);
        try {
            upload(here, href, row.uid, row.etag);
        } catch (const DavError &e) {
            if (e.fault() != Fault::PreconditionFailed && e.fault() != Fault::NotFound)
                throw;
            // Changed on the server meanwhile: fetched, and through the conflict rule.
            const std::optional<ServerItem> now = fetchOne(href);
            if (now && now->digest == row.digest)
                upload(here, href, row.uid, now->etag);
            else
                conflict(href, here, now);
        }
    }

    void deleteThere(const QString &href, const state::SyncedEvent &synced)
    {
        const state::ResourceRow row = m_resources.value(href);
        try {
            m_client->remove(urlOf(m_calendar, href), row.etag);
            step();
        } catch (const DavError &e) {
            if (e.fault() == Fault::NotFound) {
                forget(href);
                return;
            }
            if (e.fault() != Fault::PreconditionFailed)
                throw;
            const std::optional<ServerItem> now = fetchOne(href);
            if (!now) {
                forget(href);
                return;
            }
            if (now->digest != row.digest) {
                conflict(href, std::nullopt, now);
                return;
            }
            m_client->remove(urlOf(m_calendar, href), now->etag);
            step();
        }
        forget(href);
        m_synced.remove(synced.eventId);
        ++m_outcome.deletedThere;
    }

    void removeHere(const Event &here)
    {
        const QString href = m_synced.value(here.id).href;
        store::Transaction t(m_conn);
        store::Events::remove(m_conn, here.id);
        state::dropSyncedEvent(m_conn, here.id);
        if (!href.isEmpty() && !m_resources.value(href).repeating)
            state::dropResource(m_conn, href);
        t.commit();
        if (!href.isEmpty() && !m_resources.value(href).repeating)
            m_resources.remove(href);
        m_synced.remove(here.id);
        m_local.remove(here.id);
        ++m_outcome.deletedHere;
    }

    // The server's version over the event here, unless someone saved the
    // event meanwhile: then it stays for the next run, whose upload meets
    // the server's version and goes through the conflict rule.
    void takeServer(const ServerItem &item, const Event &here)
    {
        const EventValues values = valuesOf(item.single, staffFor(item.single, here.values.staffId));
        // The row as stored, without the staff member's name the listing joined.
        Event expected = here;
        expected.staffName.clear();
        expected.staffNotes.clear();
        const store::Events::UpdateResult result = store::Events::updateIfUnchanged(m_conn, here.id, expected, values);
        if (result.outcome != store::Events::UpdateResult::Outcome::Updated)
            return;
        record(rowOf(item), here.id, storedValues(here.id, values));
        ++m_outcome.received;
    }

    void insertHere(const ServerItem &item)
    {
        store::Transaction t(m_conn);
        const int id = exchange::insertEntry(m_conn, item.single, staffFor(item.single, m_fallbackStaff));
        const EventValues last = storedValues(id, valuesOf(item.single, 0));
        state::ResourceRow row = rowOf(item);
        state::putResource(m_conn, row);
        state::putSyncedEvent(m_conn, {id, row.href, QString(), last});
        t.commit();
        m_resources.insert(row.href, row);
        m_synced.insert(id, {id, row.href, QString(), last});
        ++m_outcome.received;
    }

    Event serverEvent(const ServerItem &item, const std::optional<Event> &here) const
    {
        Event e;
        e.id = here ? here->id : -1;
        e.values = valuesOf(item.single, staffFor(item.single, here ? here->values.staffId : m_fallbackStaff));
        e.staffName = item.single.staffName;
        return e;
    }

    // Both sides changed the event since the last run.
    void conflict(const QString &href, const std::optional<Event> &here, const std::optional<ServerItem> &server)
    {
        if (here && server && !server->repeating && sameTexts(here->values, valuesOf(server->single, 0))) {
            settleEqual(*server, *here);
            return;
        }
        SyncConflict c;
        c.uid = server ? server->uid : m_resources.value(href).uid;
        c.here = here;
        if (server && !server->repeating)
            c.server = serverEvent(*server, here);
        const ConflictChooser::Choice choice = m_chooser ? m_chooser->choose(c) : ConflictChooser::Choice::Leave;
        try {
            if (choice == ConflictChooser::Choice::Here) {
                keepHere(href, here, server);
                return;
            }
            if (choice == ConflictChooser::Choice::Server) {
                keepServer(href, here, server);
                return;
            }
        } catch (const DavError &e) {
            // Changed once more meanwhile: left for the next run.
            if (e.fault() != Fault::PreconditionFailed)
                throw;
        }
        m_outcome.left.append(c);
    }

    void keepHere(const QString &href, const std::optional<Event> &here, const std::optional<ServerItem> &server)
    {
        const QString uid = server ? server->uid : m_resources.value(href).uid;
        if (here) {
            upload(*here, href, uid, server ? server->etag : QString());
            return;
        }
        if (server) {
            m_client->remove(urlOf(m_calendar, href), server->etag);
            step();
            ++m_outcome.deletedThere;
        }
        forget(href);
    }

    void keepServer(const QString &href, const std::optional<Event> &here, const std::optional<ServerItem> &server)
    {
        if (!server) {
            if (here)
                removeHere(*here);
            forget(href);
            return;
        }
        if (server->repeating) {
            if (here)
                removeHere(*here);
            forget(href);
            settleNew(*server);
            return;
        }
        if (here) {
            const EventValues values = valuesOf(server->single, staffFor(server->single, here->values.staffId));
            store::Events::update(m_conn, here->id, values);
            record(rowOf(*server), here->id, storedValues(here->id, values));
            ++m_outcome.received;
            return;
        }
        // Deleted here, kept on the server: it comes back as a new event.
        forget(href);
        insertHere(*server);
    }

    // A resource this calendar has not seen yet.
    void settleNew(const ServerItem &item)
    {
        if (item.repeating) {
            settleSeries(item);
            return;
        }
        // One of this calendar's own events whose upload was not recorded
        // (a run broken off after the server took it): the same event.
        static const QRegularExpression own(QStringLiteral("^orvenna-(\\d+)-(.+)$"));
        const QRegularExpressionMatch m = own.match(item.uid);
        if (m.hasMatch() && m.captured(2) == m_stored.identity) {
            const int id = m.captured(1).toInt();
            const std::optional<Event> here = local(id);
            if (here && !m_synced.contains(id)) {
                conflict(item.href, here, item);
                return;
            }
        }
        insertHere(item);
    }

    // A series from the server: its occurrences inside the window, matched
    // by start to those here. An occurrence changed or deleted here stays
    // as it is; one the server no longer has goes unless changed here.
    void settleSeries(const ServerItem &item)
    {
        QHash<QString, state::SyncedEvent> before;
        for (int id : m_byHref.values(item.href)) {
            const state::SyncedEvent s = m_synced.value(id);
            before.insert(s.occurrence, s);
        }
        store::Transaction t(m_conn);
        for (const exchange::CalendarEvent &occurrence : item.occurrences) {
            const QString key = occurrenceKey(occurrence.start);
            const auto was = before.constFind(key);
            if (was == before.cend()) {
                const int id = exchange::insertEntry(m_conn, occurrence, staffFor(occurrence, m_fallbackStaff));
                const state::SyncedEvent s{id, item.href, key, storedValues(id, valuesOf(occurrence, 0))};
                state::putSyncedEvent(m_conn, s);
                m_synced.insert(id, s);
                m_byHref.insert(item.href, id);
                ++m_outcome.received;
                continue;
            }
            const state::SyncedEvent s = *was;
            before.remove(key);
            const std::optional<Event> here = local(s.eventId);
            if (!here || !sameValues(here->values, s.last))
                continue;
            const EventValues values = valuesOf(occurrence, staffFor(occurrence, here->values.staffId));
            if (sameValues(values, here->values))
                continue;
            store::Events::update(m_conn, s.eventId, values);
            const state::SyncedEvent now{s.eventId, item.href, key, storedValues(s.eventId, values)};
            state::putSyncedEvent(m_conn, now);
            m_synced.insert(s.eventId, now);
            ++m_outcome.received;
        }
        for (const state::SyncedEvent &s : std::as_const(before)) {
            // One the window has passed stays, as the plan's history.
            if (s.last.startDate < m_window.first || s.last.startDate > m_window.last)
                continue;
            const std::optional<Event> here = local(s.eventId);
            if (here && sameValues(here->values, s.last)) {
                store::Events::remove(m_conn, s.eventId);
                m_local.remove(s.eventId);
                ++m_outcome.deletedHere;
                state::dropSyncedEvent(m_conn, s.eventId);
                m_synced.remove(s.eventId);
            } else if (here) {
                keepApart(s);
            } else {
                state::dropSyncedEvent(m_conn, s.eventId);
                m_synced.remove(s.eventId);
            }
            m_byHref.remove(item.href, s.eventId);
        }
        const state::ResourceRow row = rowOf(item);
        state::putResource(m_conn, row);
        t.commit();
        m_resources.insert(row.href, row);
    }

    // An occurrence changed here whose series changed or went on the
    // server: it stays here, tied to no resource, and is never sent as an
    // event of its own.
    void keepApart(const state::SyncedEvent &s)
    {
        const state::SyncedEvent apart{s.eventId, QString(), s.occurrence, s.last};
        state::putSyncedEvent(m_conn, apart);
        m_synced.insert(s.eventId, apart);
    }

    void removeSeries(const QString &href)
    {
        store::Transaction t(m_conn);
        QList<state::SyncedEvent> kept;
        for (int id : m_byHref.values(href)) {
            const std::optional<Event> here = local(id);
            if (here && sameValues(here->values, m_synced.value(id).last)) {
                store::Events::remove(m_conn, id);
                m_local.remove(id);
                ++m_outcome.deletedHere;
            } else if (here) {
                kept << m_synced.value(id);
            }
            m_synced.remove(id);
        }
        state::dropResource(m_conn, href);
        for (const state::SyncedEvent &s : std::as_const(kept))
            keepApart(s);
        t.commit();
        m_byHref.remove(href);
        m_resources.remove(href);
    }

    // Events made here since the last run, each a new resource named after
    // its UID, sent a batch at a time with a few on the wire at once.
    void sendNew()
    {
        QList<int> ids = m_local.keys();
        std::sort(ids.begin(), ids.end());
        QList<int> fresh;
        for (int id : ids)
            if (!m_synced.contains(id) && !m_resources.contains(newHref(id)))
                fresh.append(id);
        m_planned = m_client->requests() + int(fresh.size());
        for (qsizetype at = 0; at < fresh.size(); at += kPutBatch) {
            const QList<int> batch = fresh.mid(at, kPutBatch);
            QList<CalDavClient::PutRequest> writes;
            for (int id : batch)
                writes.append({urlOf(m_calendar, newHref(id)), textOf(m_local.value(id), exchange::uidFor(id, m_stored.identity)),
                               QString()});
            const QList<CalDavClient::PutResult> results = m_client->putMany(writes, kPutsInFlight);

            // What the server took is recorded before any failure is told.
            store::Transaction t(m_conn);
            QList<QPair<state::ResourceRow, state::SyncedEvent>> taken;
            for (qsizetype i = 0; i < batch.size(); ++i) {
                if (results[i].error)
                    continue;
                const Event &here = m_local[batch[i]];
                const state::ResourceRow row = rowOf(parseItem(newHref(here.id), results[i].etag, writes[i].icalendar, m_window));
                const state::SyncedEvent synced{here.id, row.href, QString(), here.values};
                state::putResource(m_conn, row);
                state::putSyncedEvent(m_conn, synced);
                taken.append({row, synced});
            }
            t.commit();
            for (const auto &[row, synced] : std::as_const(taken)) {
                m_resources.insert(row.href, row);
                m_synced.insert(synced.eventId, synced);
            }
            m_outcome.sent += int(taken.size());

            for (qsizetype i = 0; i < batch.size(); ++i) {
                if (!results[i].error)
                    continue;
                if (results[i].error->fault() != Fault::PreconditionFailed)
                    throw *results[i].error;
                // Already there: the upload of a run broken off, or made elsewhere.
                const QString href = newHref(batch[i]);
                if (const std::optional<ServerItem> there = fetchOne(href))
                    conflict(href, m_local.value(batch[i]), there);
            }
            step();
        }
    }

    QString newHref(int eventId) const
    {
        return keyOf(CalDavClient::resourceUrl(m_calendar, exchange::uidFor(eventId, m_stored.identity)));
    }

    QString m_connectionString;
    Account m_account;
    ConflictChooser *m_chooser;
    std::function<bool(int, int)> m_progress;

    store::Connection m_conn;
    state::StoredBinding m_stored;
    QUrl m_calendar;
    std::unique_ptr<CalDavClient> m_client;
    Window m_window;
    int m_fallbackStaff = 0;
    int m_planned = 0;

    QString m_newToken;
    QString m_newCtag;
    bool m_tokenRefused = false; // the server no longer knows the last run's token
    QHash<QString, state::ResourceRow> m_resources;
    QHash<QString, ServerItem> m_items; // fetched in this run
    QSet<QString> m_removed;            // gone from the server since the last run
    QHash<int, Event> m_local;
    QHash<int, state::SyncedEvent> m_synced;
    QMultiHash<QString, int> m_byHref;
    QMap<QString, int> m_staff;

    SyncOutcome m_outcome;
};

} // namespace

SyncEngine::SyncEngine(const QString &connectionString, const Account &account)
    : m_connectionString(connectionString), m_account(account)
{
}

SyncEngine::~SyncEngine() = default;

std::optional<Binding> SyncEngine::binding(store::Connection &conn)
{
    if (!state::hasTables(conn))
        return std::nullopt;
    const std::optional<state::StoredBinding> stored = state::readBinding(conn);
    return stored ? std::optional<Binding>(stored->binding) : std::nullopt;
}

void SyncEngine::bind(store::Connection &conn, const Binding &binding)
{
    store::requireExchangeTables(conn);
    if (!state::hasTables(conn))
        throw store::StoreError(store::StoreError::Reason::Outdated, conn.path(),
                                QStringLiteral("The calendar's tables for sync could not be made."));
    const QString identity = exchange::calendarIdentity(conn);
    store::Transaction t(conn, store::Connection::Begin::WriteLocked);
    const std::optional<state::StoredBinding> before = state::readBinding(conn);
    if (before)
        refuseCopy(conn, *before);
    state::StoredBinding stored;
    stored.binding = binding;
    stored.binding.calendar = withSlash(binding.calendar);
    stored.identity = identity;
    stored.location = state::locationOf(conn);
    if (before && before->binding.calendar == stored.binding.calendar) {
        stored.syncToken = before->syncToken;
        stored.ctag = before->ctag;
    } else {
        // Another collection: everything is new there.
        state::clearState(conn);
    }
    state::writeBinding(conn, stored);
    t.commit();
}

void SyncEngine::unbind(store::Connection &conn)
{
    if (!state::hasTables(conn))
        return;
    store::Transaction t(conn, store::Connection::Begin::WriteLocked);
    state::removeBinding(conn);
    t.commit();
}

SyncOutcome SyncEngine::run(ConflictChooser *chooser, const std::function<bool(int, int)> &progress)
{
    return Run(m_connectionString, m_account, chooser, progress).go();
}

} // namespace caldav
