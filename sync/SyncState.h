#pragma once

#include "store/Statements.h"
#include "sync/SyncEngine.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace store { class Connection; }

// What a calendar keeps of its sync, in the side tables of schema version 4:
// the binding, each server resource as last seen, and each synced event with
// the values it had when both sides were last in step. Throws
// store::StoreError.
namespace caldav::state {

struct StoredBinding
{
    Binding binding;
    QString identity;  // the calendar's name for itself in UIDs, when it was bound
    QString location;  // where the calendar was when bound; a copy is elsewhere
    QString syncToken; // of the last complete run; empty: none yet or not offered
    QString ctag;
};

// Whether this calendar has the sync's tables (its schema could be behind).
[[nodiscard]] bool hasTables(store::Connection &conn);
// Where this calendar lives: the file's absolute path, or the server
// database and schema (the same from every machine that opens it).
[[nodiscard]] QString locationOf(store::Connection &conn);

[[nodiscard]] std::optional<StoredBinding> readBinding(store::Connection &conn);
void writeBinding(store::Connection &conn, const StoredBinding &stored);
void saveProgress(store::Connection &conn, const QString &syncToken, const QString &ctag);
void removeBinding(store::Connection &conn);
// Forgets every resource and synced event.
void clearState(store::Connection &conn);

struct ResourceRow
{
    QString href; // the path, decoded
    QString uid;
    QString etag;
    bool repeating = false; // read-only here: its events are occurrences
    QString digest;         // of what it said when last read
    QByteArray data;        // a repeating resource's text, expanded again as the window moves
};
[[nodiscard]] QHash<QString, ResourceRow> readResources(store::Connection &conn);
void putResource(store::Connection &conn, const ResourceRow &row);
// With the synced events of the resource.
void dropResource(store::Connection &conn, const QString &href);

struct SyncedEvent
{
    int eventId = -1;
    QString href;
    QString occurrence; // empty for a single event, else the occurrence's start
    statements::EventValues last;
};
[[nodiscard]] QList<SyncedEvent> readSyncedEvents(store::Connection &conn);
void putSyncedEvent(store::Connection &conn, const SyncedEvent &event);
void dropSyncedEvent(store::Connection &conn, int eventId);

} // namespace caldav::state
