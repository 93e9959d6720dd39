#pragma once

#include "ui/AppServices.h"

#include <QObject>

#include <memory>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QToolButton;
class SyncBackend;
class SyncSchedule;
class frmEventsMain;
namespace caldav { class Secrets; }

// The main window's side of keeping its calendar in step with a CalDAV
// server calendar: File > "Calendar Sync..." and "Sync Now", the schedule,
// and in the status bar how the last sync went, with a Cancel while one runs.
class SyncCommands : public QObject
{
    Q_OBJECT
public:
    SyncCommands(const AppServices &services, frmEventsMain &main);
    ~SyncCommands() override;

    // Adds the commands to the File menu before `beforeInFile`.
    static SyncCommands *install(const AppServices &services, frmEventsMain &main, QMenu *file, QAction *beforeInFile);

    void mnuCalendarSync_Click();
    void mnuSyncNow_Click();
    // Follows the calendar the main window uses now.
    void calendarChanged();

    [[nodiscard]] SyncSchedule &schedule() { return *m_schedule; }

private:
    AppServices m_services;
    frmEventsMain &m_main;
    std::unique_ptr<SyncBackend> m_ownBackend; // when the services bring none
    std::unique_ptr<caldav::Secrets> m_ownSecrets;
    SyncBackend *m_backend = nullptr;
    caldav::Secrets *m_secrets = nullptr;
    SyncSchedule *m_schedule = nullptr;
    QLabel *m_lblStatus = nullptr;
    QProgressBar *m_progress = nullptr;
    QToolButton *m_cancel = nullptr;
};
