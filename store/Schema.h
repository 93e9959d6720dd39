#pragma once

#include <QDate>
#include <QString>

namespace store {

// Creates a new database file with the three tables and the index the day
// query uses. The calendar itself never calls this; the companion tool and the
// tests do. Throws StoreError when the file exists already or cannot be made.
void createDatabase(const QString &path);

// Adds a small demonstration set: templates, staff members, and events in the
// week around `today`.
void addDemoData(const QString &path, const QDate &today);

} // namespace store
