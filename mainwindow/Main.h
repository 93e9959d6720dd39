#pragma once

class QApplication;

// The start routine: creates and loads the main window, shows it, and runs
// until it is closed.
int Main(QApplication &app);
