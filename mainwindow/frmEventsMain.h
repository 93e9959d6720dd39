#pragma once

#include "ui/AppServices.h"

#include <QDateTime>
#include <QHash>
#include <QMainWindow>

#include <array>
#include <memory>

class ActiveResize;
class PromptedUndo;
class QAction;
class QCalendarWidget;
class QDialog;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class SyncCommands;
class ctlWeekDayView;
namespace model { class Calendar; }
namespace store { class Connection; }

// The calendar's hub: month calendar, template list and the seven days around
// the chosen date.
class frmEventsMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmEventsMain(const AppServices &services, QWidget *parent = nullptr);
    ~frmEventsMain() override;

    // The load handler: connection string, calendar on today, heading, the
    // week around the present moment, the template list.
    void Form_Load();

    // The date-click handler; also run with weekDate when the calendar says
    // the shown week's events changed.
    void mView_DateClick(const QDateTime &date);

    [[nodiscard]] QString connectionString() const { return m_connectionString; }
    // The calendar in use, told of every write; none before Form_Load.
    [[nodiscard]] model::Calendar *calendar() const { return m_calendar; }
    [[nodiscard]] QDateTime weekDate() const { return m_weekDate; }
    [[nodiscard]] int selectedEventId() const { return m_selectedEventId; }
    [[nodiscard]] int selectedDayIndex() const { return m_selectedDayIndex; }
    [[nodiscard]] ctlWeekDayView *dayPanel(int index) const { return m_ctlDayDetail.at(size_t(index)); }

    // Handlers of the menus and the day panels.
    void mnuPrintAppointment_Click();
    void mnuClose_Click();
    void mnuNewAppointment_Click();
    void popAddAppointment_Click();
    void mnuPopDeleteAppointment_Click();
    void mnuPopPrintAppointment_Click();
    void mnuPredefinedEvents_Click();
    void mnuPOCs_Click();
    void mnuAbout_Click();
    // File > "Shared Calendar...": shows the calendar in use and switches to
    // another one once it opens; the choice is saved for the next start.
    void mnuSharedCalendar_Click();
    // Shows the calendar at `url` (empty: the file beside the program) from now on.
    void useDatabase(const QString &url);
    [[nodiscard]] QString database() const { return m_services.database; }
    // Edit > "Find...": the events holding the words typed; the one chosen is
    // shown in its week, selected.
    void mnuFind_Click();
    void mnuToday_Click();
    void mnuReload_Click();
    void ctlDayDetail_RightMouseClick(int index, int eventId);
    void ctlDayDetail_ScheduledEventSelected(int index, int eventId);
    void ctlDayDetail_TemplateDropped(int index);
    // Moves the event to `day` at the same time (invalid: its own day), then
    // by `minutes`; or copies it there. Asks first about a clash, and about a
    // change another copy made meanwhile; one undo step.
    void placeEvent(int eventId, const QDate &day, int minutes, bool copy);

    // The popup is opened through here so tests can look at it instead.
    virtual void showPopup(QMenu *menu, const QPoint &globalPos);

    // Marks the date as today in the month calendar and the day panels; run
    // by the load handler and again at every midnight.
    void markToday(const QDate &today);

signals:
    void closed();
    // Another calendar is in use (File > "Shared Calendar...").
    void calendarChanged();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void createMenus();
    // Edit > Undo and Redo name the steps of the calendar in use.
    void showUndoSteps();
    void getConnection(store::Connection &conn) const;
    void loadWeek(const QDateTime &d);
    // Says in the status bar whether the panels show the week as stored now.
    void markWeek(bool read, bool sameWeek, const QString &failure);
    void loadEventTemplates();
    void reportStoreFailure(const QString &description, const QString &details);
    QAction *addSharedCalendarMenu(QMenu *file);
    // A Calendar for the connection string in use, replacing the one before.
    void openCalendar();
    // Whether this copy may change the calendar in use; the commands that
    // would are turned off when not, and say why.
    [[nodiscard]] bool mayWrite() const;
    void showReadOnly();
    // The panels and the template list follow the calendar's notices: at once
    // for this copy's writes; for other copies' not while a modal window, a
    // popup menu or a mouse button is active (reloading under a drag or an
    // open editor would act on new rows), but once they are over.
    void follow(bool week, bool templates, bool otherCopy);
    void followWhenIdle();
    void followNow();
    // Shows one of this window's modal windows, then reads again what it shows
    // of the week and of the templates.
    void showModal(QDialog &window, bool week, bool templates);
    void showPendingFailure();
    [[nodiscard]] QHash<int, QString> staffNames(store::Connection &conn) const;
    [[nodiscard]] int selectedPanel() const;
    void scheduleMidnight();

    AppServices m_services;
    QString m_connectionString;
    QDateTime m_weekDate;
    int m_selectedEventId = -1;
    int m_selectedDayIndex = 0;
    bool m_storeFailureShown = false;
    QString m_pendingFailure;
    QString m_pendingDetails; // waits until the window is on screen
    QDate m_today;
    QDate m_dateOfSelectionReload; // the calendar's last selection change already reloaded this date
    QString m_findWords; // what Find searched last, offered again
    int m_foundEventId = -1; // and the event chosen there

    ActiveResize *m_resize = nullptr;
    QCalendarWidget *m_mView = nullptr;
    QWidget *m_calendarViewport = nullptr;
    QListWidget *m_lstEventTemplates = nullptr;
    QLabel *m_lblHeading = nullptr;
    QLabel *m_status = nullptr;
    QString m_weekReadAt; // when the shown week was last read whole
    std::array<ctlWeekDayView *, 7> m_ctlDayDetail{};
    QMenu *m_mnuPopupRoot = nullptr;
    model::Calendar *m_calendar = nullptr;
    QTimer *m_followLater = nullptr;
    bool m_followWeek = false;
    bool m_followTemplates = false;
    QTimer *m_midnight = nullptr;
    int m_clipEventId = -1; // Ctrl+X or Ctrl+C on an entry; Ctrl+V places it
    bool m_clipCut = false;
    QAction *m_undo = nullptr;
    QAction *m_redo = nullptr;
    std::unique_ptr<PromptedUndo> m_undoQuestions;
    SyncCommands *m_sync = nullptr;
};
