#pragma once

#include <QString>

class Prompt;
class ModalRunner;
class BrowserFactory;
class DesktopServices;

// What every window is handed instead of reaching for globals: the program's
// folder (database, report and style sheet live there) and the seams through
// which it talks to a person and to the desktop.
struct AppServices
{
    QString programFolder;
    // A shared calendar's postgresql:// URL; empty: eventDB.mdb in programFolder.
    QString database;
    Prompt *prompt = nullptr;
    ModalRunner *modal = nullptr;
    BrowserFactory *browsers = nullptr; // print window's HTML view
    DesktopServices *desktop = nullptr; // links and external programs
};
