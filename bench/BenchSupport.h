#pragma once

// What the benchmark programs share: a median, and filling a database through
// SQLite directly (a million rows through the program's own statements would
// take minutes and measure nothing we ship).

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace bench {

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct EventRow
{
    QByteArray title;
    QByteArray start; // stored text
    QByteArray end;
    QByteArray notes = {}; // bound only where the statement has a fourth parameter
};

// Adds one staff member (`staffSql`) and `events` rows through `insertSql`,
// whose parameters are the title, start and end `row(i)` gives (and its notes,
// where there is a fourth).
inline void fillEvents(const QString &path, const char *staffSql, const char *insertSql, int events,
                       const std::function<EventRow(int)> &row)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_exec(db, staffSql, nullptr, nullptr, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, insertSql, -1, &st, nullptr);
    for (int i = 0; i < events; ++i) {
        const EventRow r = row(i);
        sqlite3_bind_text(st, 1, r.title.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, r.start.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, r.end.constData(), -1, SQLITE_TRANSIENT);
        if (sqlite3_bind_parameter_count(st) >= 4)
            sqlite3_bind_text(st, 4, r.notes.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

} // namespace bench
