#pragma once

#include <QString>

class QApplication;

// The start routine: creates and loads the main window, shows it, and runs
// until it is closed. `database` is the shared calendar named on the command
// line; without one, the one saved in the user's settings, else the file.
int Main(QApplication &app, const QString &database = QString());
