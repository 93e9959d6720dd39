#pragma once

#include <QString>

namespace model {

// The calendar's tables as undo and its questions name them.
enum class Table { Events, Templates, Staff };

// A template or a staff member as undo keeps it: the title (a staff
// member's name) and the text (a template's description, a staff member's notes).
struct Entry
{
    int id = -1;
    QString title;
    QString text;
};

} // namespace model
