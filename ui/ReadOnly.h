#pragma once

#include <QString>

class QAction;

// A shared calendar opened by a login that may only read it: the commands that
// would change it are turned off, each saying why.
namespace readonly {

// Shown on every command turned off, and in the main window's title.
[[nodiscard]] QString why();
[[nodiscard]] QString windowTitle(const QString &title);

// Turns the command off with `why()` as its tooltip, or on again as it was
// (`tip`: its own tooltip then, none: its text).
void turnOff(QAction *action, bool off, const QString &tip = QString());

} // namespace readonly
