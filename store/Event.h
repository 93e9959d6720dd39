#pragma once

#include "store/Statements.h"

#include <QDateTime>
#include <QString>

namespace store {

// One scheduled event as the store reads it. Start and end are wall-clock
// values. The staff member's name and notes come only with the reads that
// join the staff member, and are empty when it is gone.
struct Event
{
    int id = -1;
    statements::EventValues values;
    QString staffName;
    QString staffNotes;

    // Carried as UTC, so no daylight-saving gap can move them; an end a
    // listing could not read is invalid.
    [[nodiscard]] QDateTime start() const { return QDateTime(values.startDate, values.startTime, Qt::UTC); }
    [[nodiscard]] QDateTime end() const { return QDateTime(values.endDate, values.endTime, Qt::UTC); }

    bool operator==(const Event &other) const
    {
        const statements::EventValues &v = values, &o = other.values;
        return id == other.id && v.title == o.title && v.description == o.description && v.notes == o.notes
            && start() == other.start() && end() == other.end() && v.staffId == o.staffId
            && staffName == other.staffName && staffNotes == other.staffNotes;
    }
    bool operator!=(const Event &other) const { return !(*this == other); }
};

} // namespace store
