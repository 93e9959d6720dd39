#pragma once

#include <QString>
#include <QStringList>

class QSqlDatabase;

namespace store {

// The two group roles of a shared calendar. A login is given one of them
// (GRANT orvenna_reader TO coach2); neither can log in itself.
inline const char *const kEditorRole = "orvenna_editor"; // may read and change the calendar
inline const char *const kReaderRole = "orvenna_reader"; // may only read it

// Whether the login may change the calendar behind the connection string:
// always for a file; on a server, when it holds INSERT, UPDATE and DELETE on
// the three tables. Read from the server's privileges, never by trying a
// write. Throws StoreError when the server cannot be asked.
[[nodiscard]] bool loginMayWrite(const QString &connectionString);

// Makes the two roles where they are missing, on the open server connection,
// inside the caller's transaction. Throws StoreError with a plain reason when
// one is missing and the login may not create roles.
void createServerRoles(QSqlDatabase &db);

// Grants the roles their rights on every table and sequence of the calendar's
// schema; run as the calendar is made and again after every update of its
// schema, so the tables later versions make are reached too. A role that
// does not exist is left out; rights the login cannot give are left out quietly.
[[nodiscard]] QString serverRoleGrants();

} // namespace store
