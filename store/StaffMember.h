#pragma once

#include <QString>

namespace store {

// One staff member, an event's point of contact.
struct StaffMember
{
    int id = -1;
    QString name;
    QString notes;
};

} // namespace store
