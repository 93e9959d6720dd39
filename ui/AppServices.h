#pragma once

#include <QString>

class Prompt;
class ModalRunner;
class BrowserFactory;
class DesktopServices;
class SyncBackend;
namespace caldav { class Secrets; }
namespace model { class Calendar; }

// What every window is handed instead of reaching for globals: the folder the
// database, the report and its style sheet live in, and the seams through which
// it talks to a person and to the desktop.
struct AppServices
{
    // The program's own folder, or the per-user data folder where the program's
    // folder cannot be written or is a system-wide install (Main).
    QString programFolder;
    // A shared calendar's postgresql:// URL; empty: eventDB.mdb in programFolder.
    QString database;
    Prompt *prompt = nullptr;
    ModalRunner *modal = nullptr;
    BrowserFactory *browsers = nullptr; // print window's HTML view
    DesktopServices *desktop = nullptr; // links and external programs
    // The calendar in use, told after every write so the other windows follow;
    // none for a window opened on its own.
    model::Calendar *calendar = nullptr;
    // The calendar sync's core and the keeper of its passwords; none: the real
    // ones (SyncEngine, the desktop's secret store).
    SyncBackend *sync = nullptr;
    caldav::Secrets *secrets = nullptr;
};
