#include "store/StaffMembers.h"

#include "store/Connection.h"
#include "store/Statements.h"

namespace store {
namespace {

StaffMember staffMemberOf(const RowSet &row)
{
    StaffMember s;
    s.name = row.text(QStringLiteral("pocName"));
    s.id = row.integer(QStringLiteral("idPOC"));
    s.notes = row.optionalText(QStringLiteral("pocDescription"));
    return s;
}

} // namespace

void StaffMembers::readAll(Connection &conn, const std::function<void(const StaffMember &)> &each)
{
    RowSet rs = conn.execute(statements::allStaff());
    while (!rs.eof()) {
        each(staffMemberOf(rs));
        rs.moveNext();
    }
}

QHash<int, QString> StaffMembers::names(Connection &conn)
{
    QHash<int, QString> names;
    RowSet rs = conn.execute(statements::allStaff());
    while (!rs.eof()) {
        try {
            const StaffMember s = staffMemberOf(rs);
            names.insert(s.id, s.name);
        } catch (const StoreError &) {
            // A damaged row only leaves its key without a name.
        }
        rs.moveNext();
    }
    return names;
}

std::optional<StaffMember> StaffMembers::readOne(Connection &conn, int id)
{
    RowSet rs = conn.execute(statements::staffById(id));
    if (rs.eof())
        return std::nullopt;
    return staffMemberOf(rs);
}

int StaffMembers::eventsNaming(Connection &conn, int id)
{
    RowSet rs = conn.execute(statements::eventsNamingStaff(id));
    return rs.eof() ? 0 : rs.integer(QStringLiteral("events"));
}

int StaffMembers::insert(Connection &conn, const QString &name, const QString &notes)
{
    conn.execute(statements::insertStaff(name, notes));
    return conn.lastInsertId();
}

void StaffMembers::update(Connection &conn, int id, const QString &name, const QString &notes)
{
    conn.execute(statements::updateStaff(name, notes, id));
}

void StaffMembers::remove(Connection &conn, int id)
{
    conn.execute(statements::deleteStaff(id));
}

int StaffMembers::restore(Connection &conn, int id, const QString &name, const QString &notes)
{
    if (id > 0 && conn.execute(statements::staffById(id)).eof()) {
        conn.execute(statements::restoreStaff(name, notes, id));
        return id;
    }
    const int key = insert(conn, name, notes);
    rewrite(conn, key, name, notes);
    return key;
}

void StaffMembers::rewrite(Connection &conn, int id, const QString &name, const QString &notes)
{
    conn.execute(statements::rewriteStaff(name, notes, id));
}

} // namespace store
