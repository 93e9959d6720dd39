#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace store {

class Connection;

// Who made an event, template or staff member and who last changed it, as the
// calendar's triggers keep them (schema version 5): on a server the login, on
// the file the user of the computer, with the time in UTC. Rows stored before
// the calendar kept this have no history until they are changed.
struct RowHistory
{
    QString createdBy; // empty: not known
    QDateTime createdAt;
    QString changedBy; // empty: not changed since it was made, or not known
    QDateTime changedAt;
};

class ChangeHistory
{
public:
    ChangeHistory() = delete;

    enum class Table { Events, Templates, Staff };
    // None when nothing is known of the row.
    [[nodiscard]] static std::optional<RowHistory> read(Connection &conn, Table table, int id);

    // "Changed by coach2 on 12/7/2026 10:14", else "Created by ...", in this
    // computer's time; empty when nothing is known.
    [[nodiscard]] static QString latest(const RowHistory &history);
    // Both lines, the creation first; for a tooltip.
    [[nodiscard]] static QString full(const RowHistory &history);
};

// The name the file's triggers write as the author of a change: the user the
// program runs as. Every SQLite connection of the process gets it as the SQL
// function orvenna_user() when it opens; registerFileFunctions is called at
// start-up and by every open, and is cheap after the first time.
[[nodiscard]] QString systemUserName();
void registerFileFunctions();

} // namespace store
