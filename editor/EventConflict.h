#pragma once

#include "store/Event.h"

#include <QString>

class Prompt;
namespace store { class Connection; }
class QWidget;

// In a shared calendar another coach may save the same event while an editor
// has it open; before writing, the editor compares the event stored now with
// the one it opened. One line per field that differs, "was" and "now".
[[nodiscard]] QString describeChanges(const store::Event &opened, const store::Event &now,
                                      const QString &connectionString);

// "Changed by coach2 on 12/7/2026 10:14" (or "Created by ..."): the event's
// last change as the calendar keeps it; empty when it is not known.
[[nodiscard]] QString changedByLine(const QString &connectionString, int eventId);

// Asks whether to overwrite the event stored `now`, which differs from what the
// editor `opened`; true when the user keeps the other's version. Who saved it
// and when stand on the line after the first.
[[nodiscard]] bool keepOthersVersion(Prompt &prompt, QWidget *parent, const QString &connectionString,
                                     const store::Event &opened, const store::Event &now);

// Whether to go on although the event's staff member has other events at
// that time: says which ("Dana Whitfield already has 'Club training'
// 18:00-19:30 that day. Save anyway?", `verb` being "Save"). True at once
// when there are none, or when they cannot be read (the write then reports
// what is wrong).
[[nodiscard]] bool clashesAccepted(Prompt &prompt, QWidget *parent, store::Connection &conn, const store::Event &event,
                                   const QString &verb);
// The sentence naming the clashes; empty when there are none.
[[nodiscard]] QString clashText(const store::Event &event, const QList<store::Event> &clashes);
