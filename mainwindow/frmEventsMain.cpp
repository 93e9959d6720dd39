#include "mainwindow/frmEventsMain.h"

#include "about/frmAbout.h"
#include "editor/EventConflict.h"
#include "editor/frmEventEditor.h"
#include "lists/frmPOC.h"
#include "lists/frmPredefinedEvents.h"
#include "mainwindow/CalendarCommands.h"
#include "mainwindow/FocusRing.h"
#include "mainwindow/frmFind.h"
#include "mainwindow/PromptedUndo.h"
#include "mainwindow/SharedCalendar.h"
#include "mainwindow/SyncCommands.h"
#include "mainwindow/ctlWeekDayView.h"
#include "model/Calendar.h"
#include "print/mdlEventsGlobals.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Engine.h"
#include "store/Events.h"
#include "store/StaffMembers.h"
#include "store/Templates.h"
#include "ui/Accessibility.h"
#include "ui/ActiveResize.h"
#include "ui/FocusMark.h"
#include "ui/ModalRunner.h"
#include "ui/Pictures.h"
#include "ui/Prompt.h"
#include "ui/ReadOnly.h"
#include "ui/Regional.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCalendarWidget>
#include <QDir>
#include <QDrag>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTextCharFormat>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

constexpr QSize kDesignClient(634, 454);
const QColor kToday(0, 70, 160);

// Design positions are given in twips; 15 twips make a pixel.
int tw(int twips)
{
    return int(std::lround(twips / 15.0));
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(tw(left), tw(top), tw(width), tw(height));
}

// The template list starts a drag of the selected template once the pointer
// moves with a button held; the day panels take the drop.
class TemplateList : public QListWidget
{
public:
    explicit TemplateList(QWidget *parent) : QListWidget(parent) { markFocus(this, false); }

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        markFocus(this, true);
        QListWidget::focusInEvent(event);
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        markFocus(this, false);
        QListWidget::focusOutEvent(event);
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        QListWidget::mousePressEvent(event);
        m_pressPos = event->position().toPoint();
        m_pressed = true;
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        m_pressed = false;
        QListWidget::mouseReleaseEvent(event);
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!m_pressed || event->buttons() == Qt::NoButton || count() == 0
            || (event->position().toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance()) {
            QListWidget::mouseMoveEvent(event);
            return;
        }
        m_pressed = false;
        auto *drag = new QDrag(this);
        auto *mime = new QMimeData;
        mime->setData(ctlWeekDayView::templateMimeType(), QByteArray());
        if (QListWidgetItem *item = currentItem())
            mime->setText(item->text());
        drag->setMimeData(mime);
        drag->exec(Qt::CopyAction);
    }

private:
    QPoint m_pressPos;
    bool m_pressed = false;
};

} // namespace

frmEventsMain::frmEventsMain(const AppServices &services, QWidget *parent)
    : QMainWindow(parent), m_services(services), m_undoQuestions(std::make_unique<PromptedUndo>(services.prompt, this))
{
    setObjectName(QStringLiteral("frmEventsMain"));
    setWindowTitle(QStringLiteral("Orvenna"));
    setWindowIcon(applicationIcon());
    createControls();
    createMenus();
    // A failed read says here that the week shown is not current.
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblWeekStatus"));
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(m_status, 1);
    // A short wait also folds a burst of other copies' announcements into one reload.
    m_followLater = new QTimer(this);
    m_followLater->setObjectName(QStringLiteral("liveReloadLater"));
    m_followLater->setSingleShot(true);
    m_followLater->setInterval(20);
    connect(m_followLater, &QTimer::timeout, this, &frmEventsMain::followWhenIdle);
    resize(kDesignClient.width(),
           kDesignClient.height() + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
}

frmEventsMain::~frmEventsMain()
{
    // The stack clears itself as the calendar goes, after these actions are gone.
    if (m_calendar)
        disconnect(&m_calendar->undoStack(), nullptr, this, nullptr);
}

void frmEventsMain::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->resize(kDesignClient);
    m_resize = new ActiveResize(client, kDesignClient);

    auto *pnlCalendar = new QGroupBox(client);
    pnlCalendar->setObjectName(QStringLiteral("pnlCalendar"));
    pnlCalendar->setGeometry(twipsRect(0, 0, 2595, 6735));

    m_mView = new QCalendarWidget(pnlCalendar);
    m_mView->setObjectName(QStringLiteral("mView"));
    m_mView->setGeometry(twipsRect(30, 120, 2535, 2460));
    m_mView->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    m_mView->setHorizontalHeaderFormat(QCalendarWidget::SingleLetterDayNames);
    m_mView->setGridVisible(false);
    QFont calendarFont = m_mView->font();
    calendarFont.setPointSizeF(7.5);
    m_mView->setFont(calendarFont);
    // Keys move the selection without a click; the week follows the selection.
    connect(m_mView, &QCalendarWidget::selectionChanged, this, [this]() {
        m_dateOfSelectionReload = m_mView->selectedDate();
        mView_DateClick(QDateTime(m_dateOfSelectionReload, QTime(0, 0)));
    });
    connect(m_mView, &QCalendarWidget::clicked, this, [this](QDate date) {
        // A click on another date changed the selection, which has reloaded already.
        if (date == m_dateOfSelectionReload) {
            m_dateOfSelectionReload = QDate();
            return;
        }
        mView_DateClick(QDateTime(date, QTime(0, 0)));
    });
    new FocusRing(m_mView, m_mView);
    accessibility::readableCalendar(m_mView);
    if (auto *view = m_mView->findChild<QAbstractItemView *>()) {
        m_calendarViewport = view->viewport();
        m_calendarViewport->installEventFilter(this);
    }

    auto *frame1 = new QGroupBox(QStringLiteral("Activity - Drill"), pnlCalendar);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setGeometry(twipsRect(50, 2640, 2500, 3975));

    m_lstEventTemplates = new TemplateList(frame1);
    m_lstEventTemplates->setObjectName(QStringLiteral("lstEventTemplates"));
    m_lstEventTemplates->setGeometry(twipsRect(75, 240, 2295, 1230));
    m_lstEventTemplates->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lstEventTemplates->installEventFilter(this);
    new FocusRing(m_lstEventTemplates, m_lstEventTemplates);
    accessibility::readableItems(m_lstEventTemplates);

    auto *lblDrill = new QLabel(QStringLiteral("Click and Drag an Activity or Drill to a specific day"), frame1);
    lblDrill->setObjectName(QStringLiteral("lblDrill"));
    lblDrill->setWordWrap(true);
    QFont drillFont = lblDrill->font();
    drillFont.setPointSizeF(8);
    lblDrill->setFont(drillFont);
    lblDrill->setGeometry(twipsRect(120, 1560, 2295, 495));
    m_lstEventTemplates->setAccessibleName(frame1->title());
    m_lstEventTemplates->setAccessibleDescription(lblDrill->text());

    auto *picture1 = new QLabel(frame1);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setPixmap(pitchPicture(QSize(149, 122)));
    picture1->setScaledContents(true);
    picture1->setGeometry(twipsRect(120, 2040, 2295, 1815));

    m_lblHeading = new QLabel(client);
    m_lblHeading->setObjectName(QStringLiteral("lblHeading"));
    QFont headingFont(QStringLiteral("Arial"));
    headingFont.setPointSizeF(10.5);
    headingFont.setBold(true);
    m_lblHeading->setFont(headingFont);
    m_lblHeading->setGeometry(twipsRect(2640, 120, 6855, 255));

    auto *pnlDayDetails = new QGroupBox(client);
    pnlDayDetails->setObjectName(QStringLiteral("pnlDayDetails"));
    pnlDayDetails->setGeometry(twipsRect(2640, 360, 6855, 6375));

    const QRect grid[7] = {
        twipsRect(120, 120, 3255, 1455),  twipsRect(3480, 120, 3255, 1455),
        twipsRect(120, 1560, 3255, 1455), twipsRect(3480, 1560, 3255, 1455),
        twipsRect(120, 3000, 3255, 1455), twipsRect(3480, 3000, 3255, 1455),
        twipsRect(120, 4560, 3255, 1695),
    };
    for (int i = 0; i < 7; ++i) {
        auto *panel = new ctlWeekDayView(pnlDayDetails);
        panel->setObjectName(QStringLiteral("ctlDayDetail_%1").arg(i));
        panel->setGeometry(grid[i]);
        connect(panel, &ctlWeekDayView::RightMouseClick, this,
                [this, i](int id) { ctlDayDetail_RightMouseClick(i, id); });
        connect(panel, &ctlWeekDayView::ScheduledEventSelected, this,
                [this, i](int id) { ctlDayDetail_ScheduledEventSelected(i, id); });
        connect(panel, &ctlWeekDayView::templateDropped, this, [this, i]() { ctlDayDetail_TemplateDropped(i); });
        connect(panel, &ctlWeekDayView::eventDropped, this, [this, panel](int id, bool copy) {
            placeEvent(id, panel->DayDate().date(), 0, copy);
        });
        connect(panel, &ctlWeekDayView::cutKeyPressed, this, [this](int id) {
            m_clipEventId = id;
            m_clipCut = true;
        });
        connect(panel, &ctlWeekDayView::copyKeyPressed, this, [this](int id) {
            m_clipEventId = id;
            m_clipCut = false;
        });
        connect(panel, &ctlWeekDayView::pasteKeyPressed, this, [this, panel]() {
            if (m_clipEventId == -1)
                return;
            const int id = m_clipEventId;
            // A cut event is moved once; a copied one may be placed again and again.
            if (m_clipCut)
                m_clipEventId = -1;
            placeEvent(id, panel->DayDate().date(), 0, !m_clipCut);
        });
        connect(panel, &ctlWeekDayView::shiftKeyPressed, this,
                [this](int id, int minutes) { placeEvent(id, QDate(), minutes, false); });
        connect(panel, &ctlWeekDayView::deleteKeyPressed, this, [this, i](int id) {
            m_selectedDayIndex = i;
            m_selectedEventId = id;
            mnuPopDeleteAppointment_Click();
        });
        connect(panel, &ctlWeekDayView::popupKeyPressed, this, [this, i](int id, const QPoint &at) {
            m_selectedDayIndex = i;
            m_selectedEventId = id;
            showPopup(m_mnuPopupRoot, at);
        });
        // One selection for the week: what another day had selected is forgotten.
        connect(panel, &ctlWeekDayView::selectionTaken, this, [this, panel]() {
            for (ctlWeekDayView *other : m_ctlDayDetail)
                if (other != panel)
                    other->clearSelection();
        });
        m_ctlDayDetail[size_t(i)] = panel;
    }

    auto *label2 = new QLabel(QStringLiteral("Right Mouse Click on a day to insert, delete, or print an event.  "
                                             "Double Left Mouse Click on an event on a specific day to edit the event."),
                              pnlDayDetails);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->setWordWrap(true);
    label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label2->setGeometry(twipsRect(3600, 4800, 3135, 1455));

    for (QWidget *w : std::initializer_list<QWidget *>{pnlCalendar, m_mView, frame1, m_lstEventTemplates, lblDrill,
                                                       picture1, m_lblHeading, pnlDayDetails})
        m_resize->add(w);
    for (ctlWeekDayView *panel : m_ctlDayDetail)
        m_resize->add(panel);
    m_resize->add(label2);

    // Reading order: calendar, templates, then the days left to right, top to bottom.
    QWidget::setTabOrder(m_mView, m_lstEventTemplates);
    QWidget *previous = m_lstEventTemplates;
    for (ctlWeekDayView *panel : m_ctlDayDetail) {
        QWidget::setTabOrder(previous, panel);
        previous = panel;
    }

    m_midnight = new QTimer(this);
    m_midnight->setSingleShot(true);
    connect(m_midnight, &QTimer::timeout, this, [this]() {
        markToday(QDate::currentDate());
        scheduleMidnight();
    });
}

void frmEventsMain::createMenus()
{
    QMenuBar *bar = menuBar();

    QMenu *mnuRootFile = bar->addMenu(QStringLiteral("&File"));
    mnuRootFile->setObjectName(QStringLiteral("mnuRootFile"));
    QAction *print = mnuRootFile->addAction(QStringLiteral("&Print Selected Activity/Drill"));
    print->setObjectName(QStringLiteral("mnuPrintAppointment"));
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(print, &QAction::triggered, this, &frmEventsMain::mnuPrintAppointment_Click);
    QAction *shared = addSharedCalendarMenu(mnuRootFile);
    mnuRootFile->addSeparator();
    QAction *close = mnuRootFile->addAction(QStringLiteral("&Close"));
    close->setObjectName(QStringLiteral("mnuClose"));
    connect(close, &QAction::triggered, this, &frmEventsMain::mnuClose_Click);

    QMenu *mnuRootEdit = bar->addMenu(QStringLiteral("&Edit"));
    mnuRootEdit->setObjectName(QStringLiteral("mnuRootEdit"));
    m_undo = mnuRootEdit->addAction(QStringLiteral("&Undo"));
    m_undo->setObjectName(QStringLiteral("mnuUndo"));
    m_undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    connect(m_undo, &QAction::triggered, this, [this]() {
        if (m_calendar)
            m_calendar->undo();
    });
    m_redo = mnuRootEdit->addAction(QStringLiteral("&Redo"));
    m_redo->setObjectName(QStringLiteral("mnuRedo"));
    m_redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(m_redo, &QAction::triggered, this, [this]() {
        if (m_calendar)
            m_calendar->redo();
    });
    mnuRootEdit->addSeparator();
    QAction *find = mnuRootEdit->addAction(QStringLiteral("&Find..."));
    find->setObjectName(QStringLiteral("mnuFind"));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, &frmEventsMain::mnuFind_Click);

    QMenu *mnuRootView = bar->addMenu(QStringLiteral("&View"));
    mnuRootView->setObjectName(QStringLiteral("mnuRootView"));
    QAction *today = mnuRootView->addAction(QStringLiteral("&Today"));
    today->setObjectName(QStringLiteral("mnuToday"));
    today->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(today, &QAction::triggered, this, &frmEventsMain::mnuToday_Click);
    QAction *reload = mnuRootView->addAction(QStringLiteral("&Reload Week"));
    reload->setObjectName(QStringLiteral("mnuReload"));
    reload->setShortcut(QKeySequence(Qt::Key_F5));
    connect(reload, &QAction::triggered, this, &frmEventsMain::mnuReload_Click);

    QMenu *mnuRootEvents = bar->addMenu(QStringLiteral("&Insert"));
    mnuRootEvents->setObjectName(QStringLiteral("mnuRootEvents"));
    QAction *newEvent = mnuRootEvents->addAction(QStringLiteral("&Activity / Drill"));
    newEvent->setObjectName(QStringLiteral("mnuNewAppointment"));
    newEvent->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newEvent, &QAction::triggered, this, &frmEventsMain::mnuNewAppointment_Click);

    QMenu *mnuTools = bar->addMenu(QStringLiteral("&Manage"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    QAction *templates = mnuTools->addAction(QStringLiteral("&Activities / Drills"));
    templates->setObjectName(QStringLiteral("mnuPredefinedEvents"));
    connect(templates, &QAction::triggered, this, &frmEventsMain::mnuPredefinedEvents_Click);
    QAction *staff = mnuTools->addAction(QStringLiteral("&Coaching Staff"));
    staff->setObjectName(QStringLiteral("mnuPOCs"));
    connect(staff, &QAction::triggered, this, &frmEventsMain::mnuPOCs_Click);

    QAction *about = bar->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &frmEventsMain::mnuAbout_Click);

    m_mnuPopupRoot = new QMenu(QStringLiteral("popup"), this);
    m_mnuPopupRoot->setObjectName(QStringLiteral("mnuPopupRoot"));
    QAction *popInsert = m_mnuPopupRoot->addAction(QStringLiteral("Insert"));
    popInsert->setObjectName(QStringLiteral("popAddAppointment"));
    connect(popInsert, &QAction::triggered, this, &frmEventsMain::popAddAppointment_Click);
    QAction *popDelete = m_mnuPopupRoot->addAction(QStringLiteral("Delete"));
    popDelete->setObjectName(QStringLiteral("mnuPopDeleteAppointment"));
    connect(popDelete, &QAction::triggered, this, &frmEventsMain::mnuPopDeleteAppointment_Click);
    QAction *popPrint = m_mnuPopupRoot->addAction(QStringLiteral("Print"));
    popPrint->setObjectName(QStringLiteral("mnuPopPrintAppointment"));
    connect(popPrint, &QAction::triggered, this, &frmEventsMain::mnuPopPrintAppointment_Click);

    CalendarCommands::install(m_services, *this, mnuRootFile, shared, m_mnuPopupRoot);
    // A command turned off says why.
    for (QMenu *menu : {mnuRootFile, mnuRootEdit, mnuRootEvents, m_mnuPopupRoot})
        menu->setToolTipsVisible(true);
    m_sync = SyncCommands::install(m_services, *this, mnuRootFile, shared);
    m_mnuPopupRoot->addSeparator();
    m_mnuPopupRoot->addAction(m_undo);
    m_mnuPopupRoot->addAction(m_redo);
    showUndoSteps();
}

void frmEventsMain::showUndoSteps()
{
    // A title's ampersand is shown, not taken for a mnemonic.
    auto named = [](const QString &verb, const QString &step) {
        return step.isEmpty() ? verb : verb + QLatin1Char(' ') + QString(step).replace(QLatin1Char('&'), QLatin1String("&&"));
    };
    QUndoStack *stack = m_calendar ? &m_calendar->undoStack() : nullptr;
    readonly::turnOff(m_undo, !mayWrite());
    readonly::turnOff(m_redo, !mayWrite());
    m_undo->setEnabled(mayWrite() && stack && stack->canUndo());
    m_redo->setEnabled(mayWrite() && stack && stack->canRedo());
    m_undo->setText(named(QStringLiteral("&Undo"), stack && stack->canUndo() ? stack->undoText() : QString()));
    m_redo->setText(named(QStringLiteral("&Redo"), stack && stack->canRedo() ? stack->redoText() : QString()));
}

void frmEventsMain::Form_Load()
{
    m_connectionString = store::connectionStringFor(m_services.programFolder, m_services.database);
    const QDateTime now = QDateTime::currentDateTime();
    {
        // The first week keeps the time of day; the selection must not load one of its own.
        const QSignalBlocker quiet(m_mView);
        m_mView->setSelectedDate(now.date());
    }
    m_lblHeading->setText(longDateText(now.date()));
    markToday(now.date());
    scheduleMidnight();
    mView_DateClick(now);
    loadEventTemplates();
    openCalendar();
}

void frmEventsMain::getConnection(store::Connection &conn) const
{
    conn.open(m_connectionString);
}

void frmEventsMain::mView_DateClick(const QDateTime &date)
{
    loadWeek(date);
    m_weekDate = date;
}

void frmEventsMain::loadWeek(const QDateTime &d)
{
    // The whole week is read before any day is shown: a read that fails half
    // way leaves the panels as they were instead of emptying them.
    QString failure, details;
    bool weekRead = false;
    std::array<QList<store::Event>, 7> days;
    QHash<int, QString> staff;
    store::Connection conn;
    try {
        getConnection(conn);
        // Staff names for the entries' tooltips: one query for the whole week.
        staff = staffNames(conn);
        for (int k = 0; k < 7; ++k) {
            const std::optional<store::StoreError> unreadable =
                store::Events::readDay(conn, d.addDays(k - 3).date(), days[size_t(k)]);
            if (unreadable && failure.isEmpty()) {
                failure = unreadable->description();
                details = unreadable->details();
            }
        }
        weekRead = true;
    } catch (const store::StoreError &e) {
        failure = e.description();
        details = e.details();
    }
    conn.close();

    bool sameWeek = true;
    for (int k = 0; k < 7; ++k)
        sameWeek = sameWeek && m_ctlDayDetail[size_t(k)]->DayDate().date() == d.addDays(k - 3).date();
    for (int k = 0; k < 7; ++k) {
        ctlWeekDayView *panel = m_ctlDayDetail[size_t(k)];
        const QDateTime day = d.addDays(k - 3);
        panel->setDayTitle(longDateText(day.date()));
        panel->setToday(day.date() == m_today);
        if (weekRead)
            panel->showEvents(day, std::move(days[size_t(k)]), staff);
        else if (!sameWeek)
            panel->clearEvents(day);
    }
    // Said to a screen reader when the week shown changes.
    accessibility::announceName(m_ctlDayDetail[0]->parentWidget(),
                                QStringLiteral("Week from %1 to %2").arg(longDateText(d.addDays(-3).date()),
                                                                         longDateText(d.addDays(3).date())));
    markWeek(weekRead, sameWeek, failure);
    if (failure.isEmpty()) {
        m_storeFailureShown = false;
        m_pendingFailure.clear();
        m_pendingDetails.clear();
    } else {
        reportStoreFailure(failure, details);
    }
}

void frmEventsMain::markWeek(bool read, bool sameWeek, const QString &failure)
{
    const QString now = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    QString text;
    if (read)
        m_weekReadAt = now;
    else if (sameWeek && !m_weekReadAt.isEmpty())
        text = QStringLiteral("Not current: shown as read at %1; reading the week again failed at %2: %3")
                   .arg(m_weekReadAt, now, failure);
    else
        text = QStringLiteral("The events of this week could not be read (%1): %2").arg(now, failure);
    if (!read && !sameWeek)
        m_weekReadAt.clear();
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    m_status->setText(text);
}

QHash<int, QString> frmEventsMain::staffNames(store::Connection &conn) const
{
    QHash<int, QString> names;
    try {
        // A damaged staff row only leaves a tooltip without a name.
        names = store::StaffMembers::names(conn);
    } catch (const store::StoreError &) {
        // The days themselves say what is wrong with the file; a connection
        // lost meanwhile is the week's failure.
        if (!conn.isOpen())
            throw;
    }
    return names;
}

void frmEventsMain::reportStoreFailure(const QString &description, const QString &details)
{
    // Said once, not on every click of a date while the file stays unusable.
    if (m_storeFailureShown)
        return;
    m_storeFailureShown = true;
    m_pendingFailure = QStringLiteral("The events of the week could not be read from ")
        + QDir::toNativeSeparators(store::databasePathOf(m_connectionString)) + QStringLiteral(".\r\n") + description;
    m_pendingDetails = details;
    // At start-up the window is not on screen yet: the message follows it there.
    if (isVisible() && windowHandle() && windowHandle()->isExposed())
        showPendingFailure();
}

void frmEventsMain::showPendingFailure()
{
    if (m_pendingFailure.isEmpty())
        return;
    const QString text = m_pendingFailure;
    const QString details = m_pendingDetails;
    m_pendingFailure.clear();
    m_pendingDetails.clear();
    m_services.prompt->critical(this, text, QString(), details);
}

void frmEventsMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_pendingFailure.isEmpty() && windowHandle())
        windowHandle()->installEventFilter(this);
}

bool frmEventsMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        // After the window has painted itself.
        QMetaObject::invokeMethod(this, &frmEventsMain::showPendingFailure, Qt::QueuedConnection);
    } else if (watched == m_calendarViewport && event->type() == QEvent::MouseButtonPress) {
        // A press starts a click of its own, whatever the keys selected before.
        m_dateOfSelectionReload = QDate();
    } else if (watched == m_lstEventTemplates && event->type() == QEvent::KeyPress) {
        // Return drops the template, as a drag would, on the selected entry's day or else the chosen date.
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            const int k = selectedPanel();
            ctlDayDetail_TemplateDropped(k >= 0 ? k : 3);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmEventsMain::markToday(const QDate &today)
{
    if (m_today.isValid())
        m_mView->setDateTextFormat(m_today, QTextCharFormat());
    m_today = today;
    QTextCharFormat mark;
    mark.setFontWeight(QFont::Bold);
    mark.setForeground(kToday);
    m_mView->setDateTextFormat(today, mark);
    for (ctlWeekDayView *panel : m_ctlDayDetail)
        panel->setToday(panel->DayDate().date() == today);
}

void frmEventsMain::scheduleMidnight()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime midnight(now.date().addDays(1), QTime(0, 0));
    m_midnight->start(int(std::min<qint64>(now.msecsTo(midnight) + 1000, 24 * 3600 * 1000)));
}

int frmEventsMain::selectedPanel() const
{
    for (int k = 0; k < 7; ++k)
        if (m_ctlDayDetail[size_t(k)]->selectedEventId() != -1)
            return k;
    return -1;
}

void frmEventsMain::mnuFind_Click()
{
    frmFind find(m_connectionString, this);
    find.setWords(m_findWords, m_foundEventId);
    showModal(find, false, false);
    m_findWords = find.words();
    if (find.result() != QDialog::Accepted || find.chosenEventId() == -1)
        return;
    m_foundEventId = find.chosenEventId();
    const QDate day = find.chosenStart().date();
    {
        const QSignalBlocker quiet(m_mView);
        m_mView->setSelectedDate(day);
    }
    mView_DateClick(QDateTime(day, QTime(0, 0)));
    for (ctlWeekDayView *panel : m_ctlDayDetail) {
        if (panel->selectEvent(find.chosenEventId())) {
            panel->setFocus();
            break;
        }
    }
}

void frmEventsMain::mnuToday_Click()
{
    const QDate today = QDate::currentDate();
    {
        const QSignalBlocker quiet(m_mView);
        m_mView->setSelectedDate(today);
    }
    mView_DateClick(QDateTime(today, QTime(0, 0)));
}

void frmEventsMain::mnuReload_Click()
{
    const int k = selectedPanel();
    const int id = k >= 0 ? m_ctlDayDetail[size_t(k)]->selectedEventId() : -1;
    // Asked for by the user: a failure is said again, not only the first time.
    m_storeFailureShown = false;
    mView_DateClick(m_weekDate);
    // What was selected stays selected, wherever it now is.
    if (id != -1)
        for (ctlWeekDayView *panel : m_ctlDayDetail)
            if (panel->selectEvent(id))
                break;
}

void frmEventsMain::loadEventTemplates()
{
    m_lstEventTemplates->clear();
    store::Connection conn;
    try {
        getConnection(conn);
        store::Templates::readAll(conn, [this](const store::Template &t) {
            auto *item = new QListWidgetItem(t.title);
            item->setData(Qt::UserRole, t.id);
            m_lstEventTemplates->addItem(item);
        });
        if (m_lstEventTemplates->count() > 0)
            m_lstEventTemplates->setCurrentRow(0);
    } catch (const store::StoreError &) {
        // The fill stops quietly; the entries read so far stay.
    }
    conn.close();
}

void frmEventsMain::ctlDayDetail_RightMouseClick(int index, int eventId)
{
    m_selectedDayIndex = index;
    m_selectedEventId = eventId;
    showPopup(m_mnuPopupRoot, QCursor::pos());
}

void frmEventsMain::showPopup(QMenu *menu, const QPoint &globalPos)
{
    menu->exec(globalPos);
}

void frmEventsMain::mnuPopDeleteAppointment_Click()
{
    if (!mayWrite())
        return;
    if (!m_services.prompt->ask(this, QStringLiteral("Are you sure?")))
        return;
    const int doomed = m_selectedEventId;
    ctlWeekDayView *day = m_ctlDayDetail[size_t(m_selectedDayIndex)];
    // What the keys act on next: the entry after the deleted one, else the one before.
    const int next = day->neighbourOf(doomed);
    if (doomed != -1) {
        store::Connection conn;
        std::optional<store::Event> before;
        try {
            getConnection(conn);
            // A row another tool damaged is still deleted, only without undo.
            before = store::Events::removeReturning(conn, doomed);
        } catch (const store::StoreError &e) {
            // Nothing was deleted: the week and its choice stay as they are.
            conn.close();
            m_services.prompt->critical(this, QStringLiteral("An error occured while deleting the record\r\n") + e.description(),
                                        QString(), e.details());
            return;
        }
        if (m_calendar && before)
            m_calendar->eventsWritten(conn, QStringLiteral("Delete '%1'").arg(before->values.title), {{doomed, before}});
        else if (m_calendar)
            m_calendar->tellEvents(day->DayDate().date(), day->DayDate().date());
        conn.close();
    }
    if (next != -1)
        day->selectEvent(next);
}

void frmEventsMain::mnuPrintAppointment_Click()
{
    // With an entry selected (by mouse or keys) this prints it; otherwise it says how.
    const int k = selectedPanel();
    if (k >= 0) {
        m_selectedDayIndex = k;
        m_selectedEventId = m_ctlDayDetail[size_t(k)]->selectedEventId();
        mnuPopPrintAppointment_Click();
        return;
    }
    m_services.prompt->inform(this,
                              QStringLiteral("Left-Mouse Click on the Event and then Right-Mouse Click and select Print...\r\n"
                                             "With the keyboard: Tab to the day, choose the event with the arrow keys and "
                                             "press Ctrl+P, or open the day's menu with the Menu key or Shift+F10 and "
                                             "select Print."),
                              QStringLiteral("Instructions"));
}

void frmEventsMain::mnuClose_Click()
{
    close();
}

void frmEventsMain::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    emit closed();
}

void frmEventsMain::mnuNewAppointment_Click()
{
    if (!mayWrite())
        return;
    frmEventEditor editor(m_services, this);
    const QDateTime today(QDate::currentDate(), QTime(0, 0));
    editor.setStartDate(today);
    editor.setEndDate(today);
    showModal(editor, true, false);
}

void frmEventsMain::popAddAppointment_Click()
{
    if (!mayWrite())
        return;
    frmEventEditor editor(m_services, this);
    const QDateTime day = m_ctlDayDetail[size_t(m_selectedDayIndex)]->DayDate();
    editor.setStartDate(day);
    editor.setEndDate(day);
    showModal(editor, true, false);
}

void frmEventsMain::ctlDayDetail_TemplateDropped(int index)
{
    QListWidgetItem *item = m_lstEventTemplates->currentItem();
    if (!item || !mayWrite())
        return;
    frmEventEditor editor(m_services, this);
    const QDateTime day = m_ctlDayDetail[size_t(index)]->DayDate();
    editor.setStartDate(day);
    editor.setEndDate(day);
    editor.setTitleText(item->text());
    editor.loadPredefinedEventDetails(item->data(Qt::UserRole).toInt());
    showModal(editor, true, false);
}

void frmEventsMain::placeEvent(int eventId, const QDate &day, int minutes, bool copy)
{
    using Outcome = store::Events::UpdateResult::Outcome;
    if (!mayWrite())
        return;
    const QString failureLine = copy ? QStringLiteral("An error occured while adding a new record")
                                     : QStringLiteral("An error occured while updating the record");
    store::Connection conn;
    int placed = -1;
    try {
        getConnection(conn);
        // The event as the week shows it: a change since then is asked about.
        std::optional<store::Event> expected;
        for (ctlWeekDayView *panel : m_ctlDayDetail)
            if (!expected)
                expected = panel->shownEvent(eventId);
        if (!expected)
            expected = store::Events::readOne(conn, eventId);
        if (!expected) {
            m_services.prompt->inform(this, QStringLiteral("This event no longer exists; another copy of Orvenna may have deleted it."));
            if (m_calendar)
                m_calendar->tellEvents(QDate(), QDate());
            return;
        }
        store::Event moved = *expected;
        const qint64 length = expected->start().secsTo(expected->end());
        const QDateTime start = QDateTime(day.isValid() ? day : expected->values.startDate, expected->values.startTime, Qt::UTC)
                                    .addSecs(60 * minutes);
        moved.values.startDate = start.date();
        moved.values.startTime = start.time();
        if (expected->end().isValid()) {
            const QDateTime end = start.addSecs(length);
            moved.values.endDate = end.date();
            moved.values.endTime = end.time();
        }
        if (!copy && moved.start() == expected->start())
            return;
        moved.id = copy ? -1 : eventId;
        if (!clashesAccepted(*m_services.prompt, this, conn, moved, copy ? QStringLiteral("Copy") : QStringLiteral("Move")))
            return;
        if (copy) {
            // A copy keeps the texts exactly, apostrophes of imported events included.
            placed = store::Events::restore(conn, -1, moved.values);
            if (m_calendar)
                m_calendar->eventsWritten(conn, QStringLiteral("Copy '%1'").arg(moved.values.title), {{placed, std::nullopt}});
        } else {
            for (;;) {
                const store::Events::UpdateResult result = store::Events::updateIfUnchanged(
                    conn, eventId, *expected, moved.values, store::Events::Texts::Exact);
                if (result.outcome == Outcome::Updated) {
                    placed = eventId;
                    if (m_calendar)
                        m_calendar->eventsWritten(conn, QStringLiteral("Move '%1'").arg(moved.values.title), {{eventId, expected}});
                    break;
                }
                if (result.outcome == Outcome::Gone) {
                    m_services.prompt->inform(this, QStringLiteral("This event no longer exists; another copy of Orvenna may have deleted it."));
                    break;
                }
                if (keepOthersVersion(*m_services.prompt, this, m_connectionString, *expected, *result.current))
                    break;
                // Overwritten with what the user moved, over this version only.
                expected = result.current;
            }
            if (placed == -1 && m_calendar)
                m_calendar->tellEvents(QDate(), QDate());
        }
    } catch (const store::StoreError &e) {
        conn.close();
        m_services.prompt->critical(this, failureLine + QStringLiteral("\r\n") + e.description(), QString(), e.details());
        return;
    }
    conn.close();
    // The keys go on with the event where it now is.
    if (placed != -1)
        for (ctlWeekDayView *panel : m_ctlDayDetail)
            if (panel->selectEvent(placed)) {
                panel->setFocus(Qt::OtherFocusReason);
                break;
            }
}

void frmEventsMain::ctlDayDetail_ScheduledEventSelected(int, int eventId)
{
    frmEventEditor editor(m_services, this);
    if (!editor.loadScheduledEvent(eventId))
        return; // said why; a half-read event is never shown
    showModal(editor, true, false);
    // A reload selects nothing; the event just edited is selected again wherever it now is.
    for (ctlWeekDayView *panel : m_ctlDayDetail)
        if (panel->selectEvent(eventId))
            break;
}

void frmEventsMain::mnuPopPrintAppointment_Click()
{
    store::Connection conn;
    try {
        getConnection(conn);
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(nullptr, QStringLiteral("An error occured while loading the record.\r\n") + e.description(),
                                    QString(), e.details());
        return;
    }
    mdlEventsGlobals::printEventReport(m_services, m_selectedEventId, conn);
}

void frmEventsMain::mnuPredefinedEvents_Click()
{
    frmPredefinedEvents window(m_services, this);
    showModal(window, false, true);
}

void frmEventsMain::mnuPOCs_Click()
{
    frmPOC window(m_services, this);
    showModal(window, true, false);
}

void frmEventsMain::mnuAbout_Click()
{
    frmAbout::showShared(m_services);
}

QAction *frmEventsMain::addSharedCalendarMenu(QMenu *file)
{
    QAction *shared = file->addAction(QStringLiteral("&Shared Calendar..."));
    shared->setObjectName(QStringLiteral("mnuSharedCalendar"));
    connect(shared, &QAction::triggered, this, &frmEventsMain::mnuSharedCalendar_Click);
    return shared;
}

void frmEventsMain::mnuSharedCalendar_Click()
{
    QString inUse = m_services.database.isEmpty()
        ? QStringLiteral("the file ") + QDir::toNativeSeparators(store::databasePathOf(m_connectionString))
        : store::withoutPassword(m_services.database);
    // Said of a link lowered below checking the server's certificate and name.
    if (!m_services.database.isEmpty() && !store::isVerifiedLink(m_services.database))
        inUse += QStringLiteral(" (the link to it is not verified: its sslmode does not check that the server is "
                                "the one named)");
    const std::optional<QString> typed = m_services.prompt->input(
        this,
        QStringLiteral("The calendar in use: %1\r\n\r\nTo share one calendar with the staff, enter its PostgreSQL "
                       "address, postgresql://user@host[:port]/dbname (the password comes from ~/.pgpass or "
                       "PGPASSWORD). Leave it empty for the file beside the program.")
            .arg(inUse),
        QStringLiteral("Shared Calendar"), store::withoutPassword(m_services.database));
    if (!typed)
        return;
    const QString url = typed->trimmed();
    if (url == m_services.database)
        return;
    // Only a calendar that opens is saved.
    try {
        if (!url.isEmpty())
            (void)store::parseServerUrl(url);
        store::Connection conn;
        conn.open(store::connectionStringFor(m_services.programFolder, url));
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(this, QStringLiteral("The calendar was not changed: this one could not be opened.\r\n")
                                              + e.description());
        return;
    }
    saveDatabaseUrl(url);
    useDatabase(url);
}

void frmEventsMain::useDatabase(const QString &url)
{
    m_services.database = url;
    m_connectionString = store::connectionStringFor(m_services.programFolder, url);
    m_storeFailureShown = false;
    m_foundEventId = -1; // a key of the calendar before
    openCalendar();
    emit calendarChanged();
    mView_DateClick(m_weekDate);
    loadEventTemplates();
}

void frmEventsMain::openCalendar()
{
    // What was heard of the calendar before is of no concern to this one.
    m_followLater->stop();
    m_followWeek = m_followTemplates = false;
    const model::Calendar *before = m_calendar;
    m_calendar = new model::Calendar(m_connectionString, this);
    delete before;
    m_services.calendar = m_calendar;
    m_undoQuestions->setConnectionString(m_connectionString);
    m_calendar->setQuestions(m_undoQuestions.get());
    connect(&m_calendar->undoStack(), &QUndoStack::indexChanged, this, &frmEventsMain::showUndoSteps);
    showReadOnly();
    showUndoSteps();
    using Origin = model::Calendar::Origin;
    connect(m_calendar, &model::Calendar::eventsChanged, this,
            [this](const QDate &first, const QDate &last, Origin origin) {
                const QDate shown = m_weekDate.date();
                follow(model::Calendar::touches(first, last, shown.addDays(-3), shown.addDays(3)), false,
                       origin == Origin::OtherCopy);
            });
    connect(m_calendar, &model::Calendar::templatesChanged, this,
            [this](Origin origin) { follow(false, true, origin == Origin::OtherCopy); });
    // The entries' tooltips name the staff member.
    connect(m_calendar, &model::Calendar::staffChanged, this,
            [this](Origin origin) { follow(true, false, origin == Origin::OtherCopy); });
    m_calendar->listen();
    m_sync->calendarChanged();
}

bool frmEventsMain::mayWrite() const
{
    return !m_calendar || !m_calendar->readOnly();
}

void frmEventsMain::showReadOnly()
{
    setWindowTitle(mayWrite() ? QStringLiteral("Orvenna") : readonly::windowTitle(QStringLiteral("Orvenna")));
    for (const char *name : {"mnuNewAppointment", "popAddAppointment", "mnuPopDeleteAppointment", "mnuImportCalendar",
                             "popRepeatWeekly", "popCopyWeek", "mnuCalendarSync", "mnuSyncNow"})
        readonly::turnOff(findChild<QAction *>(QLatin1String(name)), !mayWrite());
    // Drops, and the keys that move, paste or delete entries.
    for (ctlWeekDayView *panel : m_ctlDayDetail)
        panel->setReadOnly(!mayWrite());
}

void frmEventsMain::follow(bool week, bool templates, bool otherCopy)
{
    m_followWeek = m_followWeek || week;
    m_followTemplates = m_followTemplates || templates;
    if (!m_followWeek && !m_followTemplates)
        return;
    if (otherCopy)
        m_followLater->start();
    else
        followNow();
}

void frmEventsMain::followWhenIdle()
{
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()
        || QApplication::mouseButtons() != Qt::NoButton) {
        m_followLater->start(200);
        return;
    }
    followNow();
}

void frmEventsMain::showModal(QDialog &window, bool week, bool templates)
{
    m_services.modal->showModal(window);
    // What this copy wrote meanwhile is followed already; other copies may have
    // written too, and a file announces nothing, while a server's announcement
    // may still be on its way.
    m_followWeek = m_followWeek || week;
    m_followTemplates = m_followTemplates || templates;
    followNow();
}

void frmEventsMain::followNow()
{
    if (m_followWeek) {
        m_followWeek = false;
        mView_DateClick(m_weekDate);
    }
    if (m_followTemplates) {
        m_followTemplates = false;
        QListWidgetItem *current = m_lstEventTemplates->currentItem();
        const QVariant selected = current ? current->data(Qt::UserRole) : QVariant();
        loadEventTemplates();
        for (int row = 0; selected.isValid() && row < m_lstEventTemplates->count(); ++row) {
            if (m_lstEventTemplates->item(row)->data(Qt::UserRole) == selected)
                m_lstEventTemplates->setCurrentRow(row);
        }
    }
}
