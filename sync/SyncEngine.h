#pragma once

#include "store/Event.h"
#include "sync/CalDavClient.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace store { class Connection; }

// Two-way sync of one calendar with one CalDAV calendar collection, without
// windows: the same core serves the window's Sync Now, its schedule and
// orvenna-sync. A run opens its own connection, so it may run on a worker
// thread. Failures throw caldav::DavError or store::StoreError; what a run
// wrote before a failure stays consistent and the next run resumes from it.
namespace caldav {

// The server calendar a calendar is kept in step with. Stored inside the
// calendar (not in the settings), so a copied file is recognised as bound.
struct Binding
{
    QUrl calendar;             // the collection, ends in '/'
    QString user;              // the password lives in the secret store or ~/.netrc, never here
    QString trustedFingerprint; // SHA-256 (hex) of a certificate trusted by the user; empty: the system decides
    int reminderMinutes = 15;  // VALARM before each event's start; -1: none
    int fallbackStaffId = -1;  // for events from a phone that name no known staff member
    int weeksBack = 8;         // recurring series from a phone come in as occurrences in this window
    int weeksAhead = 52;
};

// An event both sides changed since the last sync.
struct SyncConflict
{
    QString uid;
    std::optional<store::Event> here;   // none: deleted here
    std::optional<store::Event> server; // none: deleted on the server
};

// Asked once per conflict while a person watches; without one (an unattended
// run) conflicting events are left alone and listed.
class ConflictChooser
{
public:
    enum class Choice { Here, Server, Leave };
    virtual ~ConflictChooser() = default;
    virtual Choice choose(const SyncConflict &conflict) = 0;
};

// This calendar may not sync with that collection: it is a copy of a bound
// calendar, or another calendar keeps its events there already. Told before
// any event is written.
class BindingClash : public DavError
{
public:
    explicit BindingClash(const QString &reason) : DavError(Fault::Forbidden, reason) {}
};

// Another run of the same calendar is under way, in this program or in
// another copy or tool; nothing was done.
class SyncBusy : public DavError
{
public:
    explicit SyncBusy(const QString &reason) : DavError(Fault::Http, reason) {}
};

struct SyncOutcome
{
    int sent = 0;           // new or changed events written to the server
    int received = 0;       // new or changed events written here
    int deletedHere = 0;
    int deletedThere = 0;
    QList<SyncConflict> left; // conflicts not settled (unattended, or answered Leave)
    int requests = 0;       // HTTP requests the run made
    QDateTime finished;     // UTC
};

class SyncEngine
{
public:
    // `connectionString` as everywhere (a file path or a postgresql:// URL).
    SyncEngine(const QString &connectionString, const Account &account);
    ~SyncEngine();
    SyncEngine(const SyncEngine &) = delete;
    SyncEngine &operator=(const SyncEngine &) = delete;

    // The calendar's binding, none when it syncs with no server.
    [[nodiscard]] static std::optional<Binding> binding(store::Connection &conn);
    // Binds the calendar to the collection (or changes its settings). Another
    // calendar already bound to the same collection, or this one being a copy
    // of a bound file, throws before anything is written.
    static void bind(store::Connection &conn, const Binding &binding);
    static void unbind(store::Connection &conn);

    // One sync both ways. `progress(done, total)` returning false cancels
    // between requests; what was done so far is kept.
    SyncOutcome run(ConflictChooser *chooser = nullptr,
                    const std::function<bool(int done, int total)> &progress = {});

private:
    QString m_connectionString;
    Account m_account;
};

} // namespace caldav
