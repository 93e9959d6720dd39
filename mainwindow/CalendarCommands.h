#pragma once

#include "ui/AppServices.h"

#include <QDate>
#include <QList>
#include <QObject>

class QAction;
class QMenu;
class frmEventsMain;
namespace statements { struct EventValues; }
namespace store { class Connection; }

// The main window's commands for the calendar file, the week plan and
// repeated sessions. Owned by the main window; reads the shown week and the
// selected event through its public interface.
class CalendarCommands : public QObject
{
    Q_OBJECT
public:
    CalendarCommands(const AppServices &services, frmEventsMain &main);

    // Adds the commands to the File menu (before `beforeInFile`) and the day
    // popup, and returns the object that runs them.
    static CalendarCommands *install(const AppServices &services, frmEventsMain &main, QMenu *file,
                                     QAction *beforeInFile, QMenu *popup);

    void mnuExportCalendar_Click();
    void mnuImportCalendar_Click();
    void mnuPrintWeekPlan_Click();
    void popRepeatWeekly_Click();
    void popCopyWeek_Click();

private:
    [[nodiscard]] QDate shownFirst() const;
    // Shows what would be made, asks, and writes in one go as the undo step `step`.
    // `skipped`: copies left out because the target holds them already; listed too.
    void createAfterAsking(const QList<statements::EventValues> &rows, const QString &what, const QString &step,
                           const QList<statements::EventValues> &skipped = {});
    // Keeps the new rows as one undo step of the calendar in use and tells it.
    void added(store::Connection &conn, const QString &step, const QList<int> &ids);

    AppServices m_services;
    frmEventsMain &m_main;
};
