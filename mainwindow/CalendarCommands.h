#pragma once

#include "ui/AppServices.h"

#include <QDate>
#include <QList>
#include <QObject>

class QAction;
class QMenu;
class frmEventsMain;
namespace statements { struct EventValues; }

// The main window's commands for the calendar file, the week plan and
// repeated sessions. Owned by the main window; reads the shown week and the
// selected event through its public interface.
class CalendarCommands : public QObject
{
    Q_OBJECT
public:
    CalendarCommands(const AppServices &services, frmEventsMain &main);

    // Adds the commands to the File menu (before `beforeInFile`), an Edit
    // menu and the day popup, and returns the object that runs them.
    static CalendarCommands *install(const AppServices &services, frmEventsMain &main, QMenu *file,
                                     QAction *beforeInFile, QMenu *popup);

    void mnuExportCalendar_Click();
    void mnuImportCalendar_Click();
    void mnuPrintWeekPlan_Click();
    void popRepeatWeekly_Click();
    void popCopyWeek_Click();
    void mnuUndoRepeat_Click();

    [[nodiscard]] bool canUndo() const { return !m_lastRepeat.isEmpty(); }

private:
    [[nodiscard]] QDate shownFirst() const;
    // Shows what would be made, asks, writes in one go and remembers it for undo.
    // `skipped`: copies left out because the target holds them already; listed too.
    void createAfterAsking(const QList<statements::EventValues> &rows, const QString &what,
                           const QList<statements::EventValues> &skipped = {});
    void setUndo(const QList<int> &ids);
    // Tells the calendar in use that the events of these days changed; invalid: of any day.
    void tellEvents(const QDate &first, const QDate &last);

    AppServices m_services;
    frmEventsMain &m_main;
    QList<int> m_lastRepeat;
    QList<QAction *> m_undoActions;
};
