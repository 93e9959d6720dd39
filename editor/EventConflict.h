#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

class Prompt;
class QWidget;
namespace store { class RowSet; }

// An event as the editor read it from the store. In a shared calendar another
// coach may save the same event while this editor has it open; before writing,
// the editor compares what is stored now with what it opened.
struct EventSnapshot
{
    QString title;
    QString description;
    QString notes;
    QDateTime start;
    QDateTime end;
    int staffId = 0;

    [[nodiscard]] static EventSnapshot of(const store::RowSet &row);
    bool operator==(const EventSnapshot &other) const;
    bool operator!=(const EventSnapshot &other) const { return !(*this == other); }
};

// One line per field that differs, "was" and "now".
[[nodiscard]] QString describeChanges(const EventSnapshot &opened, const EventSnapshot &now,
                                      const QString &connectionString);

// Asks whether to overwrite the event stored `now`, which differs from what the
// editor `opened`; true when the user keeps the other's version.
[[nodiscard]] bool keepOthersVersion(Prompt &prompt, QWidget *parent, const QString &connectionString,
                                     const EventSnapshot &opened, const EventSnapshot &now);
