#pragma once

#include "store/Event.h"

#include <QString>

class Prompt;
class QWidget;

// In a shared calendar another coach may save the same event while an editor
// has it open; before writing, the editor compares the event stored now with
// the one it opened. One line per field that differs, "was" and "now".
[[nodiscard]] QString describeChanges(const store::Event &opened, const store::Event &now,
                                      const QString &connectionString);

// Asks whether to overwrite the event stored `now`, which differs from what the
// editor `opened`; true when the user keeps the other's version.
[[nodiscard]] bool keepOthersVersion(Prompt &prompt, QWidget *parent, const QString &connectionString,
                                     const store::Event &opened, const store::Event &now);
