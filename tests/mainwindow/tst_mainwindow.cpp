#include "editor/EditorDriver.h"
#include "editor/frmEventEditor.h"
#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
#include "store/Schema.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"
#include "store/Schema.h"
#include "ui/Regional.h"

#include <QAccessible>
#include <QAction>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QToolTip>
#include <QTimer>
#include <QTreeWidget>

// Offscreen nothing switches accessibility on, and Qt then tells no one of
// any change. Qt's own tests switch it on through QtGui's platform interface;
// the two functions used are declared here as QtGui exports them (the base
// accessibility() keeps one instance of its own and reads nothing of `this`).
class QPlatformAccessibility
{
public:
    void setActive(bool active);
};
class QPlatformIntegration
{
public:
    QPlatformAccessibility *accessibility() const;
};

namespace {

// Instead of opening the popup at the mouse, remember it and choose an entry.
class TestMainWindow : public frmEventsMain
{
public:
    using frmEventsMain::frmEventsMain;
    QString choose; // objectName of the popup entry to trigger
    int popups = 0;

    void showPopup(QMenu *menu, const QPoint &) override
    {
        ++popups;
        if (choose.isEmpty())
            return;
        auto *action = menu->findChild<QAction *>(choose);
        QVERIFY(action);
        action->trigger();
    }
};

QTreeWidget *listOf(ctlWeekDayView *panel)
{
    return panel->findChild<QTreeWidget *>("lvEventList");
}

QStringList shownTitles(const frmEventsMain &w, int panel)
{
    QStringList titles;
    QTreeWidget *list = listOf(w.dayPanel(panel));
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        titles << list->topLevelItem(i)->text(0);
    return titles;
}

// What the pointer resting on the entry shows, as plain text; empty: no tip.
QString shownTip(QTreeWidget *list, int row)
{
    QToolTip::hideText();
    if (!QTest::qWaitFor([]() { return !QToolTip::isVisible(); }, 2000))
        return QStringLiteral("(a tip stays)");
    const QPoint pos = list->visualItemRect(list->topLevelItem(row)).center();
    QHelpEvent help(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &help);
    if (!QToolTip::isVisible())
        return QString();
    QTextDocument shown;
    shown.setHtml(QToolTip::text());
    return shown.toPlainText();
}

// Entries that carry the current-item frame without being chosen: they look
// chosen, yet the keys would not act on them.
QStringList faintFrames(const frmEventsMain &w)
{
    QStringList faint;
    for (int k = 0; k < 7; ++k) {
        QTreeWidget *list = listOf(w.dayPanel(k));
        if (QTreeWidgetItem *current = list->currentItem(); current && !current->isSelected())
            faint << current->text(0);
    }
    return faint;
}

QStringList chosen(const frmEventsMain &w)
{
    QStringList texts;
    for (int k = 0; k < 7; ++k)
        for (QTreeWidgetItem *item : listOf(w.dayPanel(k))->selectedItems())
            texts << item->text(0);
    return texts;
}

// The focus frames shown in the window: the day panels' and the calendar's.
QStringList visibleRings(const QWidget &w)
{
    QStringList owners;
    for (QWidget *ring : w.findChildren<QWidget *>("focusRing")) {
        if (!ring->isVisible())
            continue;
        // Drawn on the owner's edge, over whatever the owner shows there.
        QWidget *owner = ring->parentWidget();
        const QImage shown = owner->grab().toImage();
        const QColor edge = shown.pixelColor(0, shown.height() / 2);
        owners << owner->objectName()
                + (edge == ring->palette().color(QPalette::Active, QPalette::Highlight) ? QString() : QStringLiteral(" (not drawn)"));
    }
    return owners;
}

// Another program holding a write lock on the file; it still lets others read.
struct FileLock
{
    explicit FileLock(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "otherProgram");
        db.setDatabaseName(path);
        held = db.open() && QSqlQuery(db).exec("BEGIN IMMEDIATE");
    }
    ~FileLock()
    {
        {
            QSqlDatabase db = QSqlDatabase::database("otherProgram");
            QSqlQuery(db).exec("ROLLBACK");
            db.close();
        }
        QSqlDatabase::removeDatabase("otherProgram");
    }
    bool held = false;
};

// What a screen reader is told: the kind of each event, the object's name
// and what the object, or the entry the event names, is then called.
struct Heard
{
    QAccessible::Event type;
    QString object;
    QString name;
};

QList<Heard> &heard()
{
    static QList<Heard> events;
    return events;
}

void hear(QAccessibleEvent *event)
{
    QString name;
    if (event->type() == QAccessible::Focus || event->type() == QAccessible::NameChanged)
        if (QAccessibleInterface *iface = event->accessibleInterface())
            name = iface->text(QAccessible::Name);
    heard().append({event->type(), event->object() ? event->object()->objectName() : QString(), name});
}

QPlatformAccessibility *platformAccessibility()
{
    static const char anyIntegration = 0;
    return reinterpret_cast<const QPlatformIntegration *>(&anyIntegration)->accessibility();
}

// Takes the place of the desktop's accessibility bus while it lives.
struct Listening
{
    Listening()
    {
        platformAccessibility()->setActive(true);
        QVERIFY(QAccessible::isActive());
        heard().clear();
        before = QAccessible::installUpdateHandler(hear);
    }
    ~Listening()
    {
        QAccessible::installUpdateHandler(before);
        platformAccessibility()->setActive(false);
    }
    QAccessible::UpdateHandler before = nullptr;
};

QStringList heardNames(QAccessible::Event type, const QString &object = QString())
{
    QStringList names;
    for (const Heard &h : heard())
        if (h.type == type && (object.isEmpty() || h.object == object))
            names << h.name;
    return names;
}

QString accessibleName(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("(none)");
}

// Everything in the window's accessible tree that says it has the keyboard
// focus, but for the focus widget itself and its own current entry.
void strayFocus(QAccessibleInterface *iface, QAccessibleInterface *focus, QStringList &stray, const QString &path)
{
    if (!iface)
        return;
    const QString here = path + QLatin1Char('/')
        + (iface->object() ? iface->object()->objectName() : QStringLiteral("[%1]").arg(iface->text(QAccessible::Name)));
    if (iface->state().focused && iface != focus && iface->parent() != focus)
        stray << here;
    for (int i = 0; i < iface->childCount(); ++i)
        strayFocus(iface->child(i), focus, stray, here);
}

QStringList strayFocus(QWidget &window)
{
    QStringList stray;
    QAccessibleInterface *focus = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
    if (!focus || !focus->state().focused)
        stray << QStringLiteral("(the focus widget says it has no focus)");
    strayFocus(QAccessible::queryAccessibleInterface(&window), focus, stray, QString());
    return stray;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data();
    void startUp();
    void weekAroundClickedDate_data();
    void weekAroundClickedDate();
    void deleteFromPopup_data();
    void deleteFromPopup();
    void damagedDatabase_data();
    void damagedDatabase();
    void shortcuts_data();
    void shortcuts();
    void boxesOverTheirWindow_data();
    void boxesOverTheirWindow();
    void resizesInProportion();
    void undoAndRedo_data();
    void undoAndRedo();
    void find_data();
    void find();
};

void tst_MainWindow::startUp_data()
{
    QTest::addColumn<int>("templates");
    QTest::addColumn<int>("textSize");
    QTest::newRow("no templates") << 0 << 10;
    QTest::newRow("three templates") << 3 << 10;
    QTest::newRow("10,000 templates, 1 MB texts") << 10000 << (1 << 20);
}

void tst_MainWindow::startUp()
{
    QFETCH(int, templates);
    QFETCH(int, textSize);
    TestDatabase db;
    const QDate today = QDate::currentDate();
    const QString odd = QString::fromUtf8("Today's \"#1\" -- ; <b>練習</b> 🏃\r\nline\rtwo\nthree");
    const QString big(textSize, QLatin1Char('m'));
    const int coach = db.addStaff("Jane Roe", "");
    db.addEvent(odd, QDateTime(today, QTime(9, 0), Qt::UTC), QDateTime(today, QTime(10, 0), Qt::UTC), coach, big, big);
    const int first = db.addEvent(big, QDateTime(today, QTime(7, 0), Qt::UTC), QDateTime(today, QTime(8, 0), Qt::UTC), coach);
    db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                           "INSERT INTO tblPredefinedEvents(title, Description) SELECT 'Template ' || i, '' FROM n")
                .arg(templates));
    if (templates == 0)
        db.exec("DELETE FROM tblPredefinedEvents");
    Listening reader;
    TestMainWindow w(db.services);
    const QDateTime before = QDateTime::currentDateTime();
    w.Form_Load();
    w.show();

    QCOMPARE(w.findChild<QCalendarWidget *>("mView")->selectedDate(), today);
    QCOMPARE(w.findChild<QLabel *>("lblHeading")->text(), longDateText(today));
    // The first week is around the present moment, time of day included.
    QVERIFY(w.weekDate() >= before.addSecs(-1) && w.weekDate() <= QDateTime::currentDateTime());
    QCOMPARE(w.dayPanel(3)->DayDate(), w.weekDate());
    QTreeWidget *day = listOf(w.dayPanel(3));
    QCOMPARE(day->topLevelItemCount(), 2);
    QCOMPARE(day->topLevelItem(0)->text(0), QStringLiteral("07:00 ") + big);
    QCOMPARE(day->topLevelItem(1)->text(0), QStringLiteral("09:00 ") + odd);
    // The tip of an entry cut short names the staff member from the staff list.
    // (A megabyte-long title first makes every row of the day tall enough for all lines.)
    if (textSize < 1000)
        QCOMPARE(shownTip(day, 1), QStringLiteral("09:00 ") + QString(odd).replace("\r\n", "\n").replace('\r', '\n')
                                                   + "\nEnd time: 10:00\nStaff Member: Jane Roe");

    // Tab goes calendar, templates, then the days in reading order, and round again;
    // tabbing into a day highlights the entry the keys act on.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *calendar = w.findChild<QCalendarWidget *>("mView");
    calendar->setFocus(Qt::OtherFocusReason);
    QWidgetList expected{w.findChild<QListWidget *>("lstEventTemplates")};
    for (int k = 0; k < 7; ++k)
        expected << listOf(w.dayPanel(k));
    expected << calendar->focusProxy();
    QWidgetList visited;
    // Wherever the keys are, a frame shows it, on an empty day too.
    QStringList framed, stray, expectedFrames{"lstEventTemplates"};
    for (int k = 0; k < 7; ++k)
        expectedFrames << QStringLiteral("ctlDayDetail_%1").arg(k);
    expectedFrames << "mView";
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget();
        framed << visibleRings(w).join(',');
        // A screen reader finds the keys in one place only.
        stray << strayFocus(w);
    }
    QCOMPARE(visited, expected);
    QCOMPARE(stray.join(';'), QString());
    QCOMPARE(framed, expectedFrames);
    QCOMPARE(w.dayPanel(3)->selectedEventId(), first);
    // A reader hears the entry the keys reach whole, with its end and staff member.
    QCOMPARE(heardNames(QAccessible::Focus, "lvEventList").filter(QRegularExpression("^\\d\\d:\\d\\d ")),
             QStringList{"07:00 " + big + ", End time: 08:00, Staff Member: Jane Roe"});
    // Shift+Tab back into a day chooses its entry the same way.
    w.dayPanel(3)->clearSelection();
    listOf(w.dayPanel(4))->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), listOf(w.dayPanel(3)));
    QCOMPARE(w.dayPanel(3)->selectedEventId(), first);
    QCOMPARE(visibleRings(w), QStringList{"ctlDayDetail_3"});    // Templates in stored order, keys beside them, the first selected.
    auto *list = w.findChild<QListWidget *>("lstEventTemplates");
    QCOMPARE(list->count(), templates);
    if (templates > 0) {
        QCOMPARE(list->item(templates - 1)->text(), QStringLiteral("Template %1").arg(templates));
        QCOMPARE(list->item(templates - 1)->data(Qt::UserRole).toInt(), templates);
    }
    QCOMPARE(list->selectedItems().size(), templates > 0 ? 1 : 0);
    QCOMPARE(accessibleName(list), QStringLiteral("Activity - Drill"));
    QCOMPARE(QAccessible::queryAccessibleInterface(list)->text(QAccessible::Description),
             QStringLiteral("Click and Drag an Activity or Drill to a specific day"));
    if (templates > 0)
        QCOMPARE(QAccessible::queryAccessibleInterface(list)->child(templates - 1)->text(QAccessible::Name),
                 QStringLiteral("Template %1").arg(templates));
    // The template manager's changes show once it closes.
    db.modal().steps.enqueue([&db](QDialog &) { db.addTemplate("Added in the manager", ""); });
    w.findChild<QAction *>("mnuPredefinedEvents")->trigger();
    QCOMPARE(list->count(), templates + 1);
    QCOMPARE(list->item(templates)->text(), QStringLiteral("Added in the manager"));

    QSignalSpy closed(&w, &frmEventsMain::closed);
    w.findChild<QAction *>("mnuClose")->trigger();
    QCOMPARE(closed.count(), 1);
    QVERIFY(!w.isVisible());
    QVERIFY(db.prompt().shown.isEmpty());
}

void tst_MainWindow::weekAroundClickedDate_data()
{
    QTest::addColumn<QDate>("from");   // the calendar's selection before
    QTest::addColumn<QString>("input"); // "click" on that date, or a key typed into the calendar
    QTest::addColumn<QDate>("clicked"); // the date the week is then around
    QTest::newRow("month end") << QDate(2026, 1, 31) << "click" << QDate(2026, 1, 31);
    QTest::newRow("year end") << QDate(2026, 12, 31) << "click" << QDate(2026, 12, 31);
    QTest::newRow("leap day") << QDate(2028, 2, 29) << "click" << QDate(2028, 2, 29);
    QTest::newRow("month start") << QDate(2027, 3, 1) << "click" << QDate(2027, 3, 1);
    QTest::newRow("a Monday") << QDate(2026, 12, 7) << "click" << QDate(2026, 12, 7);
    // Days the store's dates cannot name stay empty, without a message.
    QTest::newRow("the last week") << QDate(9999, 12, 30) << "click" << QDate(9999, 12, 30);
    QTest::newRow("the first week") << QDate(1, 1, 2) << "click" << QDate(1, 1, 2);
    // The week follows the calendar's selection moved by keys.
    QTest::newRow("Right across a month end") << QDate(2026, 1, 31) << "Right" << QDate(2026, 2, 1);
    QTest::newRow("Left") << QDate(2027, 3, 1) << "Left" << QDate(2027, 2, 28);
    QTest::newRow("Down") << QDate(2026, 12, 28) << "Down" << QDate(2027, 1, 4);
    QTest::newRow("Up") << QDate(2028, 3, 7) << "Up" << QDate(2028, 2, 29);
    QTest::newRow("PgDown") << QDate(2026, 1, 31) << "PgDown" << QDate(2026, 2, 28);
    QTest::newRow("PgUp") << QDate(2026, 12, 15) << "PgUp" << QDate(2026, 11, 15);
    QTest::newRow("Home") << QDate(2026, 12, 15) << "Home" << QDate(2026, 12, 1);
    QTest::newRow("End") << QDate(2026, 12, 15) << "End" << QDate(2026, 12, 31);
    // Today is marked wherever it falls in the week.
    QTest::newRow("today's week, clicked") << QDate::currentDate().addDays(2) << "click" << QDate::currentDate().addDays(2);
    QTest::newRow("today's week, by keys") << QDate::currentDate().addDays(-4) << "Right" << QDate::currentDate().addDays(-3);
}

void tst_MainWindow::weekAroundClickedDate()
{
    QFETCH(QDate, from);
    QFETCH(QString, input);
    QFETCH(QDate, clicked);
    TestDatabase db;
    const int coach = db.addStaff("Dana Whitfield", "");
    for (int i = -4; i <= 4; ++i)
        db.addEvent(QStringLiteral("day %1").arg(i), QDateTime(clicked.addDays(i), QTime(12, 0), Qt::UTC),
                    QDateTime(clicked.addDays(i), QTime(13, 0), Qt::UTC), coach);
    Listening reader;
    TestMainWindow w(db.services);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString heading = w.findChild<QLabel *>("lblHeading")->text();

    auto *calendar = w.findChild<QCalendarWidget *>("mView");
    calendar->setSelectedDate(from);
    QCOMPARE(calendar->selectedDate(), from);
    // Another week in the panels, so only the click or the key can bring this one.
    heard().clear();
    w.mView_DateClick(QDateTime(QDate(2000, 6, 1), QTime(0, 0)));
    auto *view = calendar->findChild<QAbstractItemView *>();
    if (input == "click")
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->currentIndex()).center());
    else
        QTest::keySequence(view, QKeySequence(input));
    QCOMPARE(calendar->selectedDate(), clicked);

    QCOMPARE(w.weekDate(), QDateTime(clicked, QTime(0, 0)));
    const QDate today = QDate::currentDate();
    for (int k = 0; k < 7; ++k) {
        ctlWeekDayView *panel = w.dayPanel(k);
        const QDate day = clicked.addDays(k - 3);
        QCOMPARE(panel->DayDate(), QDateTime(day, QTime(0, 0)));
        QCOMPARE(panel->dayTitle(), longDateText(day));
        QCOMPARE(panel->findChild<QLabel *>("lblWeekDay")->font().bold(), day == today);
        const bool named = day.year() >= 1 && day.year() <= 9999;
        QCOMPARE(listOf(panel)->topLevelItemCount(), named ? 1 : 0);
        if (named)
            QCOMPARE(listOf(panel)->topLevelItem(0)->text(0), QStringLiteral("12:00 day %1").arg(k - 3));
    }
    QCOMPARE(calendar->dateTextFormat(today).fontWeight(), int(QFont::Bold));
    QCOMPARE(calendar->dateTextFormat(today.addDays(1)).fontWeight() == QFont::Bold, false);
    QCOMPARE(w.findChild<QLabel *>("lblHeading")->text(), heading);

    // Read out: the date reached in the calendar, the new week once, each day
    // by its date (today said), each entry whole.
    const QStringList focused = heardNames(QAccessible::Focus, view->objectName());
    if (input != "click")
        QCOMPARE(focused.isEmpty() ? QString() : focused.last(), longDateText(clicked));
    const QString week = QStringLiteral("Week from %1 to %2").arg(longDateText(clicked.addDays(-3)), longDateText(clicked.addDays(3)));
    QCOMPARE(heardNames(QAccessible::NameChanged, "pnlDayDetails"),
             QStringList({QStringLiteral("Week from %1 to %2").arg(longDateText(QDate(2000, 5, 29)), longDateText(QDate(2000, 6, 4))),
                          week}));
    // A day is never said to be today on the way to another date.
    for (const QString &name : heardNames(QAccessible::NameChanged, "lvEventList"))
        QVERIFY2(!name.endsWith(", today") || name == longDateText(today) + ", today", qPrintable(name));
    for (int k = 0; k < 7; ++k) {
        const QDate day = clicked.addDays(k - 3);
        const QString name = longDateText(day) + (day == today ? ", today" : "");
        QCOMPARE(accessibleName(w.dayPanel(k)), name);
        QCOMPARE(accessibleName(listOf(w.dayPanel(k))), name);
        // The line under the title is no window to a reader.
        QCOMPARE(QAccessible::queryAccessibleInterface(w.dayPanel(k)->findChild<QWidget *>("lineTop"))->role(), QAccessible::Separator);
        if (listOf(w.dayPanel(k))->topLevelItemCount() > 0)
            QCOMPARE(QAccessible::queryAccessibleInterface(listOf(w.dayPanel(k)))->child(1)->text(QAccessible::Name),
                     QStringLiteral("12:00 day %1, End time: 13:00, Staff Member: Dana Whitfield").arg(k - 3));
    }
    // Every cell of the month is its full date; the buttons say what they do.
    QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(view);
    QCOMPARE(grid->text(QAccessible::Name), QLocale().standaloneMonthName(clicked.month()) + " " + QString::number(clicked.year()));
    int dates = 0;
    for (int i = 0; i < grid->childCount(); ++i) {
        QAccessibleInterface *cell = grid->child(i);
        if (cell->role() != QAccessible::Cell || cell->state().invisible)
            continue;
        const QString number = cell->text(QAccessible::Value);
        const QString name = cell->text(QAccessible::Name);
        QVERIFY2(name.contains(QRegularExpression("\\b" + number + "\\b")), qPrintable(name + " / " + number));
        if (name == longDateText(clicked)) {
            QCOMPARE(cell->state().selected, true);
            QCOMPARE(cell->rect(), QRect(view->viewport()->mapToGlobal(view->visualRect(view->currentIndex()).topLeft()),
                                         view->visualRect(view->currentIndex()).size()));
        }
        ++dates;
    }
    QCOMPARE(dates, 42);
    QCOMPARE(accessibleName(calendar->findChild<QWidget *>("qt_calendar_prevmonth")), QStringLiteral("Previous month"));
    QCOMPARE(accessibleName(calendar->findChild<QWidget *>("qt_calendar_nextmonth")), QStringLiteral("Next month"));
    QCOMPARE(QAccessible::queryAccessibleInterface(calendar->findChild<QWidget *>("qt_calendar_monthbutton"))->text(QAccessible::Description),
             QStringLiteral("Month"));
    QCOMPARE(QAccessible::queryAccessibleInterface(calendar->findChild<QWidget *>("qt_calendar_yearbutton"))->text(QAccessible::Description),
             QStringLiteral("Year"));
    QCOMPARE(accessibleName(calendar->findChild<QWidget *>("qt_calendar_yearedit")), QStringLiteral("Year"));
    QVERIFY(db.prompt().shown.isEmpty());

    // At midnight the mark moves on.
    w.markToday(today.addDays(1));
    QCOMPARE(calendar->dateTextFormat(today).fontWeight() == QFont::Bold, false);
    QCOMPARE(calendar->dateTextFormat(today.addDays(1)).fontWeight(), int(QFont::Bold));
    for (int k = 0; k < 7; ++k)
        QCOMPARE(w.dayPanel(k)->findChild<QLabel *>("lblWeekDay")->font().bold(), clicked.addDays(k - 3) == today.addDays(1));
}

void tst_MainWindow::deleteFromPopup_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("before"); // what the user did first
    QTest::addColumn<int>("panel");      // where the right button is then pressed
    QTest::addColumn<int>("row");        // on which entry; -1: blank space
    QTest::addColumn<QString>("selected"); // the one entry highlighted in the week before that press
    QTest::addColumn<QString>("reported"); // the event the popup acts on; empty: none (-1)
    QTest::addColumn<QString>("press");    // "right" button at the row, or a key on the selection
    QTest::addColumn<bool>("locked");      // another program holds the file locked for writing
    QTest::addColumn<QString>("after");    // the entry chosen afterwards, for the keys to go on with
    QTest::newRow("answered yes") << true << "" << 3 << 1 << "" << "Doomed" << "right" << false << "08:00 Keep";
    QTest::newRow("answered no") << false << "" << 3 << 1 << "" << "Doomed" << "right" << false << "10:00 Doomed";
    QTest::newRow("empty day, yes") << true << "" << 4 << -1 << "" << "" << "right" << false << "";
    // The editor's reload puts another entry under the pointer; the same double
    // click must not choose it.
    QTest::newRow("blank space after a double-click edit") << true << "edit" << 3 << -1 << "10:00 Doomed" << "Doomed" << "right" << false << "08:00 Keep";
    // The edit moved the event to another week: nothing is chosen, and nothing looks chosen.
    QTest::newRow("blank space after an edit moved it away") << true << "moved away" << 3 << -1 << "" << "" << "right" << false << "";
    QTest::newRow("blank space of a day left for another") << true << "other day" << 3 << -1 << "09:00 Later" << "" << "right" << false << "";
    // The same at the keyboard: Tab into the day, arrows to the entry.
    QTest::newRow("Delete key") << true << "keys" << 3 << 1 << "10:00 Doomed" << "Doomed" << "Delete" << false << "08:00 Keep";
    QTest::newRow("Delete key on the first entry") << true << "keys" << 3 << 0 << "08:00 Keep" << "Keep" << "Delete" << false << "10:00 Doomed";
    QTest::newRow("Delete key, answered no") << false << "keys" << 3 << 0 << "08:00 Keep" << "Keep" << "Delete" << false << "08:00 Keep";
    QTest::newRow("Menu key, then Delete") << true << "keys" << 3 << 1 << "10:00 Doomed" << "Doomed" << "Menu" << false << "08:00 Keep";
    QTest::newRow("Shift+F10, then Delete") << true << "keys" << 5 << 0 << "09:00 Later" << "Later" << "Shift+F10" << false << "";
    QTest::newRow("Return edits, then Delete") << true << "Return" << 3 << 1 << "10:00 Doomed" << "Doomed" << "Delete" << false << "08:00 Keep";
    QTest::newRow("Return edits, then Delete amid three") << true << "Return" << 3 << 0 << "08:00 Keep" << "Keep" << "Delete" << false << "10:00 Doomed";
    // A locked file: said after the wait, nothing lost, the choice stays.
    QTest::newRow("locked file, Delete key") << true << "keys" << 3 << 1 << "10:00 Doomed" << "Doomed" << "Delete" << true << "10:00 Doomed";
    QTest::newRow("locked file, popup") << true << "" << 3 << 0 << "" << "Keep" << "right" << true << "08:00 Keep";
}

void tst_MainWindow::deleteFromPopup()
{
    QFETCH(bool, yes);
    QFETCH(QString, before);
    QFETCH(int, panel);
    QFETCH(int, row);
    QFETCH(QString, selected);
    QFETCH(QString, reported);
    QFETCH(QString, press);
    QFETCH(bool, locked);
    QFETCH(QString, after);
    TestDatabase db;
    const QDate day(2026, 6, 15);
    QHash<QString, int> ids{{"", -1}};
    ids["Keep"] = db.addEvent("Keep", QDateTime(day, QTime(8, 0), Qt::UTC), QDateTime(day, QTime(9, 0), Qt::UTC), 1);
    ids["Doomed"] = db.addEvent("Doomed", QDateTime(day, QTime(10, 0), Qt::UTC), QDateTime(day, QTime(11, 0), Qt::UTC), 1);
    ids["Later"] = db.addEvent("Later", QDateTime(day.addDays(2), QTime(9, 0), Qt::UTC), QDateTime(day.addDays(2), QTime(10, 0), Qt::UTC), 1);
    TestMainWindow w(db.services);
    w.Form_Load();
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QTreeWidget *list = listOf(w.dayPanel(panel));
    auto entry = [&w](int p, int r) { return listOf(w.dayPanel(p))->visualItemRect(listOf(w.dayPanel(p))->topLevelItem(r)).center(); };
    if (before == "edit") {
        db.modal().steps.enqueue([&db, day](QDialog &) {
            db.addEvent("Early", QDateTime(day, QTime(6, 0), Qt::UTC), QDateTime(day, QTime(7, 0), Qt::UTC), 1);
        });
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry(3, 1));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entry(3, 1));
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, entry(3, 1));
        QCOMPARE(db.modal().shownNames, QStringList{"frmEventEditor"});
    } else if (before == "moved away") {
        // The editor takes the focus, and the main window gets it back when it closes.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        db.modal().steps.enqueue([&db, &ids](QDialog &d) {
            d.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&d));
            db.exec(QStringLiteral("UPDATE tblScheduledEvents SET EventTime = '2026-06-22 10:00:00', "
                                   "EventTimeEnd = '2026-06-22 11:00:00' WHERE idScheduledEvent = %1").arg(ids["Doomed"]));
        });
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry(3, 1));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entry(3, 1));
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, entry(3, 1));
        QCOMPARE(db.modal().shownNames, QStringList{"frmEventEditor"});
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTRY_COMPARE(QApplication::focusWidget(), list);
        QTRY_COMPARE(faintFrames(w), QStringList());
    } else if (before == "other day") {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry(3, 0));
        QTest::mouseClick(listOf(w.dayPanel(5))->viewport(), Qt::LeftButton, {}, entry(5, 0));
    } else if (before == "keys" || before == "Return") {
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        listOf(w.dayPanel(panel - 1))->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), list);
        for (int i = 0; i < row; ++i)
            QTest::keyClick(list, Qt::Key_Down);
        if (before == "Return") {
            db.modal().steps.enqueue([&db, day](QDialog &) {
                db.addEvent("Early", QDateTime(day, QTime(6, 0), Qt::UTC), QDateTime(day, QTime(7, 0), Qt::UTC), 1);
            });
            QTest::keyClick(list, Qt::Key_Return);
            QCOMPARE(db.modal().shownNames, QStringList{"frmEventEditor"});
        }
    }
    QStringList highlighted;
    for (int k = 0; k < 7; ++k)
        for (QTreeWidgetItem *item : listOf(w.dayPanel(k))->selectedItems())
            highlighted << item->text(0);
    QCOMPARE(highlighted.join('|'), selected);

    w.choose = "mnuPopDeleteAppointment";
    db.prompt().answers.enqueue(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    std::unique_ptr<FileLock> lock;
    if (locked) {
        lock = std::make_unique<FileLock>(db.path());
        QVERIFY(lock->held);
    }
    if (press == "right") {
        const QPoint pos = row >= 0 ? entry(panel, row) : QPoint(5, list->viewport()->height() - 3);
        QTest::mousePress(list->viewport(), Qt::RightButton, {}, pos);
    } else {
        QTest::keySequence(list, QKeySequence(press));
    }

    QCOMPARE(w.popups, press == "Delete" ? 0 : 1);
    QCOMPARE(w.selectedDayIndex(), panel);
    QCOMPARE(w.selectedEventId(), ids.value(reported, -1));
    QCOMPARE(db.prompt().shown.size(), locked ? 2 : 1);
    if (locked) {
        const FakePrompt::Shown said = db.prompt().shown.at(1);
        QCOMPARE(said.icon, Prompt::Icon::Critical);
        QCOMPARE(said.text, "An error occured while deleting the record\r\nAnother program holds the calendar file " + db.path()
                                + " locked. Close that program or wait until it has finished, then try again.");
        lock.reset();
    }
    const FakePrompt::Shown asked = db.prompt().shown.first();
    QCOMPARE(asked.text, QStringLiteral("Are you sure?"));
    QCOMPARE(asked.title, QStringLiteral("Orvenna"));
    QCOMPARE(asked.icon, Prompt::Icon::Question);
    QCOMPARE(asked.buttons, Prompt::Buttons::YesNo);

    // Only the reported event is gone, and only on Yes.
    QStringList left;
    for (const char *title : {"Keep", "Doomed", "Later"})
        if (db.scalar(QStringLiteral("SELECT count(*) FROM tblScheduledEvents WHERE idScheduledEvent = %1").arg(ids[title])).toInt())
            left << title;
    QStringList expected{"Keep", "Doomed", "Later"};
    if (yes && !locked)
        expected.removeOne(reported);
    QCOMPARE(left, expected);
    QCOMPARE(listOf(w.dayPanel(3))->topLevelItemCount(),
             int(expected.contains("Keep")) + int(expected.contains("Doomed") && before != "moved away")
                 + int(before == "edit" || before == "Return"));

    // The next entry of the day (or the one before) is chosen, and only what is chosen looks so.
    QCOMPARE(chosen(w).join('|'), after);
    QTRY_COMPARE(faintFrames(w), QStringList());
    if (after.isEmpty())
        return;
    // Return opens what is chosen.
    const QStringList shownBefore = db.modal().shownNames;
    QTest::keyClick(listOf(w.dayPanel(panel)), Qt::Key_Return);
    QCOMPARE(db.modal().shownNames, shownBefore + QStringList{"frmEventEditor"});
}

void tst_MainWindow::damagedDatabase_data()
{
    QTest::addColumn<QString>("file"); // "tool": made by the tool, then damaged; "none": missing; else its content
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("templates");
    // After the fixed line, %1 the file; empty: nothing to say. A line break, then the driver's words as the
    // box's details, where the reason is said in plain words.
    QTest::addColumn<QString>("reason");
    const QString notCalendar = "The file %1 is not a calendar database: its tables are missing. Replace it with a "
                                "calendar file, or make a new one with orvenna-newdb.\n";
    QTest::newRow("missing") << "none" << "" << 0 << 0
                             << "The calendar file %1 is missing. Put it back, or make a new one with orvenna-newdb.\n"
                                "Could not find file '%1'.";
    QTest::newRow("not a database") << QString(2048, QLatin1Char('\a')) << "" << 0 << 0
                                    << notCalendar + "Could not open '%1': Unable to execute statement: file is not a database";
    QTest::newRow("empty file") << "" << "" << 0 << 0
                                << notCalendar + "Unable to execute statement: no such table: tblScheduledEvents";
    // Never read, never written: a later Orvenna may keep the rows otherwise.
    QTest::newRow("made by a newer version") << "tool" << QString("PRAGMA user_version = %1").arg(store::kSchemaVersion + 1) << 0 << 0
                                             << "The calendar file %1 was made by a newer version of Orvenna, which this one "
                                                "cannot use, so it was left as it is. Open it with that newer Orvenna.\n"
                                                "Could not open '%1': The calendar's schema is version "
                                                + QString::number(store::kSchemaVersion + 1) + "; this Orvenna knows versions up to "
                                                + QString::number(store::kSchemaVersion) + ".";
    // An unreadable row is named once; every other row of its day is listed.
    QTest::newRow("null title") << "tool" << "UPDATE tblScheduledEvents SET title = NULL WHERE idScheduledEvent = 2" << 2 << 3 << "Invalid use of Null: column 'Title'.";
    QTest::newRow("start not a date") << "tool" << "UPDATE tblScheduledEvents SET EventTime = '2026-06-15 10:xx' WHERE idScheduledEvent = 2"
                                      << 2 << 3 << "Type mismatch: '2026-06-15 10:xx' is not a date and time.";
    QTest::newRow("id beyond 32 bits") << "tool" << "UPDATE tblScheduledEvents SET idScheduledEvent = 4294967296 WHERE idScheduledEvent = 1"
                                       << 2 << 3
                                       << "Type mismatch: '4294967296' in column 'idScheduledEvent' is not a 32-bit whole number.";
    // No start at all: the event belongs to no day.
    QTest::newRow("null start") << "tool" << "UPDATE tblScheduledEvents SET EventTime = NULL WHERE idScheduledEvent = 2" << 2 << 3 << "";
    // The template fill stops quietly at the damaged row.
    QTest::newRow("null template title") << "tool" << "UPDATE tblPredefinedEvents SET title = NULL WHERE idPredefinedEvent = 2" << 3 << 1 << "";
}

void tst_MainWindow::damagedDatabase()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(int, events);
    QFETCH(int, templates);
    QFETCH(QString, reason);
    const bool made = file == QLatin1String("tool");
    TestDatabase db(made);
    const QDate day(2026, 6, 15);
    if (made) {
        for (int i = 0; i < 3; ++i)
            db.addEvent(QStringLiteral("Event %1").arg(i), QDateTime(day, QTime(8 + 2 * i, 0), Qt::UTC),
                        QDateTime(day, QTime(9 + 2 * i, 0), Qt::UTC), 1);
        for (const char *t : {"One", "Two", "Three"})
            db.addTemplate(t, "");
        db.exec(damage);
    } else if (file != QLatin1String("none")) {
        QFile f(db.path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file.toLatin1());
    }

    TestMainWindow w(db.services);
    w.Form_Load();
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    // The window is on screen before anything is said.
    QVERIFY(db.prompt().shown.isEmpty());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QApplication::processEvents();
    QCOMPARE(listOf(w.dayPanel(3))->topLevelItemCount(), events);
    QCOMPARE(w.findChild<QListWidget *>("lstEventTemplates")->count(), templates);
    QCOMPARE(w.dayPanel(3)->dayTitle(), longDateText(day));
    if (reason.isEmpty()) {
        QVERIFY(db.prompt().shown.isEmpty());
    } else {
        // One message naming the file and the reason, not one per reload.
        QCOMPARE(db.prompt().shown.size(), 1);
        const FakePrompt::Shown said = db.prompt().shown.first();
        QCOMPARE(said.icon, Prompt::Icon::Critical);
        const QString told = QString(reason).replace("%1", db.path());
        QCOMPARE(said.text, "The events of the week could not be read from " + QDir::toNativeSeparators(db.path()) + ".\r\n" + told.section('\n', 0, 0));
        QCOMPARE(said.details, told.section('\n', 1));
    }
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    QCOMPARE(db.prompt().shown.size(), reason.isEmpty() ? 0 : 1);
    if (!made) {
        // Later commands take their own quiet paths; the file stays as it was, or missing.
        w.choose = "mnuPopDeleteAppointment";
        w.ctlDayDetail_RightMouseClick(2, -1);
        QCOMPARE(db.prompt().shown.last().text, QStringLiteral("Are you sure?"));
        QFile f(db.path());
        QCOMPARE(f.open(QIODevice::ReadOnly), file != QLatin1String("none"));
        QCOMPARE(f.readAll(), f.isOpen() ? file.toLatin1() : QByteArray());
    }
}

void tst_MainWindow::shortcuts_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("selected"); // the entry selected before; empty: none
    QTest::addColumn<QString>("result");
    QTest::newRow("Ctrl+N: a new event for today") << "Ctrl+N" << "" << "editor";
    QTest::newRow("Ctrl+P: the selected event printed") << "Ctrl+P" << "Doomed" << "report";
    QTest::newRow("Ctrl+P, none selected: how to print") << "Ctrl+P" << "" << "instructions";
    QTest::newRow("Ctrl+T: today's week") << "Ctrl+T" << "Keep" << "today";
    QTest::newRow("F5: the week read again, selection kept") << "F5" << "Keep" << "reloaded";
    // Return in the template list drops the template on a day, as a drag does.
    QTest::newRow("Return on a template: the chosen date") << "Return" << "" << "template";
    QTest::newRow("Return on a template: the selected entry's day") << "Return" << "Later" << "template";
    QTest::newRow("Return on a template: an entry chosen on the first day") << "Return" << "First" << "template";
    // After a delete from the popup.
    QTest::newRow("Ctrl+Z: the delete undone") << "Ctrl+Z" << "" << "undone";
    QTest::newRow("Ctrl+Shift+Z: done again") << "Ctrl+Z, Ctrl+Shift+Z" << "" << "redone";
    QTest::newRow("Ctrl+Y: done again") << "Ctrl+Z, Ctrl+Y" << "" << "redone";
}

void tst_MainWindow::shortcuts()
{
    QFETCH(QString, keys);
    QFETCH(QString, selected);
    QFETCH(QString, result);
    TestDatabase db;
    const QDate day(2026, 6, 15);
    QHash<QString, int> ids;
    ids["Keep"] = db.addEvent("Keep", QDateTime(day, QTime(8, 0), Qt::UTC), QDateTime(day, QTime(9, 0), Qt::UTC), db.addStaff("Ann", ""));
    ids["Doomed"] = db.addEvent("Doomed", QDateTime(day, QTime(10, 0), Qt::UTC), QDateTime(day, QTime(11, 0), Qt::UTC), 1);
    ids["Later"] = db.addEvent("Later", QDateTime(day.addDays(2), QTime(9, 0), Qt::UTC), QDateTime(day.addDays(2), QTime(10, 0), Qt::UTC), 1);
    ids["First"] = db.addEvent("First", QDateTime(day.addDays(-3), QTime(9, 0), Qt::UTC), QDateTime(day.addDays(-3), QTime(10, 0), Qt::UTC), 1);
    db.addTemplate("Rondo", "Four against two");
    const QHash<QString, int> panelOf{{"Keep", 3}, {"Doomed", 3}, {"Later", 5}, {"First", 0}};
    TestMainWindow w(db.services);
    w.Form_Load();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.findChild<QCalendarWidget *>("mView")->setSelectedDate(day);
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    if (!selected.isEmpty())
        QVERIFY(w.dayPanel(panelOf[selected])->selectEvent(ids[selected]));
    Listening reader;
    QDate editorDay;
    QString editorTitle;
    if (result == "editor" || result == "template")
        db.modal().steps.enqueue([&editorDay, &editorTitle](QDialog &d) {
            editorDay = d.findChild<QDateEdit *>("dtStartDate")->date();
            editorTitle = d.findChild<QComboBox *>("cmbPredefinedEvents")->currentText();
            // The editor has the keys while it is open.
            d.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&d));
        });
    db.addEvent("Added meanwhile", QDateTime(day, QTime(9, 0), Qt::UTC), QDateTime(day, QTime(9, 30), Qt::UTC), 1);
    if (result == "undone" || result == "redone") {
        w.choose = "mnuPopDeleteAppointment";
        w.ctlDayDetail_RightMouseClick(3, ids["Doomed"]);
        QCOMPARE(db.count("tblScheduledEvents"), 4);
    }

    if (result == "template")
        w.findChild<QListWidget *>("lstEventTemplates")->setFocus();
    QTest::keySequence(result == "template" ? QApplication::focusWidget() : &w, QKeySequence(keys));

    const QDate today = QDate::currentDate();
    if (result == "editor") {
        QCOMPARE(db.modal().shownNames, QStringList{"frmEventEditor"});
        QCOMPARE(editorDay, today);
        // Back in the main window, a frame shows where the keys are.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(QApplication::focusWidget() && QApplication::focusWidget()->window() == &w);
        QCOMPARE(visibleRings(w).size(), 1);
    } else if (result == "template") {
        QCOMPARE(db.modal().shownNames, QStringList{"frmEventEditor"});
        QCOMPARE(editorDay, selected.isEmpty() ? day : day.addDays(panelOf[selected] - 3));
        QCOMPARE(editorTitle, QStringLiteral("Rondo"));
    } else if (result == "report") {
        QFile report(db.folder() + "/printEvent.html");
        QVERIFY(report.open(QIODevice::ReadOnly));
        QVERIFY(report.readAll().contains("Doomed"));
        QVERIFY(db.prompt().shown.isEmpty());
    } else if (result == "instructions") {
        // The mouse's way as it always read, then the keys' way.
        const QStringList said = db.prompt().texts();
        QCOMPARE(said.size(), 1);
        QCOMPARE(said.at(0).section("\r\n", 0, 0), QStringLiteral("Left-Mouse Click on the Event and then Right-Mouse Click and select Print..."));
        QVERIFY2(said.at(0).section("\r\n", 1).contains("Ctrl+P"), qPrintable(said.at(0)));
        QVERIFY(!QFile::exists(db.folder() + "/printEvent.html"));
    } else if (result == "today") {
        QCOMPARE(w.findChild<QCalendarWidget *>("mView")->selectedDate(), today);
        QCOMPARE(w.weekDate(), QDateTime(today, QTime(0, 0)));
        QCOMPARE(w.dayPanel(3)->DayDate().date(), today);
    } else if (result == "undone" || result == "redone") {
        QCOMPARE(db.count("tblScheduledEvents"), result == "undone" ? 5 : 4);
        QCOMPARE(shownTitles(w, 3).contains("10:00 Doomed"), result == "undone");
    } else if (result == "reloaded") {
        QCOMPARE(listOf(w.dayPanel(3))->topLevelItem(1)->text(0), QStringLiteral("09:00 Added meanwhile"));
        // The same week again is nothing new to a screen reader.
        QCOMPARE(heardNames(QAccessible::NameChanged, "pnlDayDetails"), QStringList());
        QCOMPARE(w.dayPanel(3)->selectedEventId(), ids["Keep"]);
    }
    if (result != "editor" && result != "template")
        QVERIFY(db.modal().shownNames.isEmpty() || db.modal().shownNames == QStringList{"frmPrint"});
}

void tst_MainWindow::boxesOverTheirWindow_data()
{
    QTest::addColumn<QString>("owner");
    QTest::newRow("the main window") << "main";
    QTest::newRow("an editor not on screen yet") << "editor"; // its load failed
    QTest::newRow("none given") << "none";
}

void tst_MainWindow::boxesOverTheirWindow()
{
    QFETCH(QString, owner);
    TestDatabase db;
    WidgetPrompt real;
    db.services.prompt = &real;
    TestMainWindow w(db.services);
    w.Form_Load();
    w.move(300, 200);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    frmEventEditor editor(db.services, &w);
    QWidget *parent = owner == "main" ? static_cast<QWidget *>(&w) : owner == "editor" ? &editor : nullptr;

    QRect box;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&box]() {
        if (auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            box = shown->geometry();
            shown->accept();
        }
    });
    poll.start(10);
    real.inform(parent, "Where is this box?");
    QVERIFY(box.isValid());
    // Centred over the main window, give or take the frame Qt allows for.
    const QPoint off = box.center() - w.geometry().center();
    QVERIFY2(std::abs(off.x()) <= 20 && std::abs(off.y()) <= 50,
             qPrintable(QStringLiteral("box at %1,%2, window centre at %3,%4").arg(box.center().x()).arg(box.center().y())
                            .arg(w.geometry().center().x()).arg(w.geometry().center().y())));
}

void tst_MainWindow::resizesInProportion()
{
    TestDatabase db;
    TestMainWindow w(db.services);
    w.Form_Load();
    w.show();
    QCOMPARE(w.centralWidget()->size(), QSize(634, 454));
    QCOMPARE(w.dayPanel(6)->geometry(), QRect(8, 304, 217, 113));
    w.resize(w.width() * 2, w.height() + 454);
    QApplication::processEvents();
    QCOMPARE(w.centralWidget()->size(), QSize(1268, 908));
    QCOMPARE(w.dayPanel(6)->geometry(), QRect(16, 608, 434, 226));
    QCOMPARE(w.findChild<QListWidget *>("lstEventTemplates")->geometry(), QRect(10, 32, 306, 164));
    // The day panel lays out its own list to its new size.
    QCOMPARE(listOf(w.dayPanel(6))->width(), 434);
}

namespace {

// Every row of the three tables, with its key, sorted.
QStringList tables(TestDatabase &db)
{
    const QString sql = QStringLiteral(
        "SELECT group_concat(r, '/') FROM (SELECT r FROM ("
        " SELECT 'E'||idScheduledEvent||' '||title||'|'||Description||'|'||Notes||'|'||EventTime||'|'||EventTimeEnd||'|'||idPOC AS r"
        " FROM tblScheduledEvents"
        " UNION ALL SELECT 'T'||idPredefinedEvent||' '||title||'|'||Description FROM tblPredefinedEvents"
        " UNION ALL SELECT 'S'||idPOC||' '||pocName||'|'||pocDescription FROM tblPOCs) ORDER BY r)");
    return db.scalar(sql).toString().split('/', Qt::SkipEmptyParts);
}

} // namespace

void tst_MainWindow::undoAndRedo_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("meanwhile"); // what another copy writes before the undo; {id}: the event's key
    QTest::addColumn<QStringList>("answers"); // to undo's and redo's questions, in turn
    QTest::addColumn<QString>("undoText");
    QTest::addColumn<QString>("asked");  // the first question's start; empty: none
    QTest::addColumn<QString>("undone"); // "before" the action, "theirs" (after the other copy's write), or rows
    QTest::addColumn<QString>("redone"); // "after" the action, "theirs", or rows
    const QStringList none;
    QTest::newRow("add") << "add" << "" << none << "&Undo Add 'Warm-up && stretch'" << "" << "before" << "after";
    QTest::newRow("template drop") << "drop" << "" << none << "&Undo Add 'Passing drill'" << "" << "before" << "after";
    QTest::newRow("edit") << "edit" << "" << none << "&Undo Edit 'Warm-up && stretch'" << "" << "before" << "after";
    // Given to another staff member, busy then: asked first (the fake answers Yes).
    QTest::newRow("edit, staff member busy then") << "edit staff" << "" << none << "&Undo Edit 'Warm-up && stretch'" << ""
                                                  << "before" << "after";
    QTest::newRow("delete in the editor") << "delete in editor" << "" << none << "&Undo Delete 'Shape play'" << ""
                                          << "before" << "after";
    QTest::newRow("delete from the popup") << "delete" << "" << none << "&Undo Delete 'Shape play'" << "" << "before" << "after";
    QTest::newRow("template edit") << "template edit" << "" << none << "&Undo Edit Activity 'Passing drill'" << ""
                                   << "before" << "after";
    QTest::newRow("staff delete") << "staff delete" << "" << none << "&Undo Delete Staff Member 'Jane Coachwright'" << ""
                                  << "before" << "after";
    // Named as it was; the undo puts back the name and the notes.
    QTest::newRow("staff rename") << "staff rename" << "" << none << "&Undo Edit Staff Member 'Jane Coachwright'" << ""
                                  << "before" << "after";
    QTest::newRow("template delete") << "template delete" << "" << none << "&Undo Delete Activity 'Passing drill'" << ""
                                     << "before" << "after";
    // Named by its new title; the week shown loses it and gets it back.
    QTest::newRow("edit moving it two weeks back") << "move" << "" << none << "&Undo Edit 'Cool-down'" << "" << "before"
                                                   << "after";
    // Another copy changed the row since: asked first; No keeps theirs, on redo too.
    const QString changed = "Someone else changed \"Warm-up & stretch\" since:\r\n\r\nNotes: was \"Cones\", now \"Theirs\"";
    const QString theirs = "UPDATE tblScheduledEvents SET Notes = 'Theirs' WHERE idScheduledEvent = {id}";
    QTest::newRow("edit, changed meanwhile, No") << "edit" << theirs << QStringList{"No", "No"} << "" << changed << "theirs"
                                                 << "theirs";
    QTest::newRow("edit, end changed meanwhile, No")
        << "edit" << "UPDATE tblScheduledEvents SET EventTimeEnd = '2026-06-15 12:00:00' WHERE idScheduledEvent = {id}"
        << QStringList{"No", "No"} << "" << "Someone else changed \"Warm-up & stretch\" since:\r\n" << "theirs" << "theirs";
    QTest::newRow("template edit, changed meanwhile, No")
        << "template edit" << "UPDATE tblPredefinedEvents SET Description = 'Theirs'" << QStringList{"No", "No"} << ""
        << "Someone else changed the activity or drill since:\r\n\r\n\"Passing drill\" is now \"Passing drill\""
        << "theirs" << "theirs";
    QTest::newRow("edit, changed meanwhile, Yes") << "edit" << theirs << QStringList{"Yes"} << "" << changed << "before"
                                                  << "after";
    QTest::newRow("edit, deleted meanwhile, Yes") << "edit" << "DELETE FROM tblScheduledEvents WHERE idScheduledEvent = {id}"
                                                  << QStringList{"Yes"} << ""
                                                  << "Someone else changed or deleted 1 of these events since:\r\n"
                                                  << "before" << "after";
    QTest::newRow("add, deleted meanwhile") << "add" << "DELETE FROM tblScheduledEvents WHERE idScheduledEvent = {id}" << none
                                            << "" << "" << "theirs" << "after";
    // The deleted event's key is taken meanwhile: it comes back under a new
    // one, and redo deletes it there, not the row now under the old key.
    QTest::newRow("delete, key taken meanwhile") << "delete"
        << "INSERT INTO tblScheduledEvents(idScheduledEvent, title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
           "VALUES({id}, 'Squatter', '', '', '2026-06-16 08:00:00', '2026-06-16 09:00:00', 1)"
        << none << "" << ""
        << "E{id} Squatter|||2026-06-16 08:00:00|2026-06-16 09:00:00|1/E{new} Shape play|Rondo|Bring Sam's bibs|2026-06-15 10:00:00|2026-06-15 11:00:00|1"
        << "E{id} Squatter|||2026-06-16 08:00:00|2026-06-16 09:00:00|1";
    // Its new key is taken too, after the redo: the next undo brings it back
    // under a third key, and the redo deletes it there.
    QTest::newRow("delete, key taken twice") << "delete"
        << "INSERT INTO tblScheduledEvents(idScheduledEvent, title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
           "VALUES({id}, 'Squatter', '', '', '2026-06-16 08:00:00', '2026-06-16 09:00:00', 1)"
        << none << "" << ""
        << "E{id} Squatter|||2026-06-16 08:00:00|2026-06-16 09:00:00|1/E{new} Shape play|Rondo|Bring Sam's bibs|2026-06-15 10:00:00|2026-06-15 11:00:00|1"
        << "E{id} Squatter|||2026-06-16 08:00:00|2026-06-16 09:00:00|1";
    // A locked file: said, nothing written, and the step stays to be undone later.
    QTest::newRow("undo on a locked file") << "delete" << "lock" << none << "" << "" << "before" << "after";
    QTest::newRow("redo on a locked file") << "delete" << "lock redo" << none << "" << "" << "before" << "after";
    // Moving and copying: dropped on another day (Ctrl held: a copy), or with the keys.
    const QString moved = "E{id} Shape play|Rondo|Bring Sam's bibs|2026-06-%1:00|2026-06-%2:00|1";
    QTest::newRow("drag to another day") << "drop move" << "" << none << "&Undo Move 'Shape play'" << "" << "before"
                                         << moved.arg("17 10:00", "17 11:00");
    // Dropped back on its own day: nothing to write, nothing to undo.
    QTest::newRow("drag onto its own day") << "drop home" << "" << none << "none" << "" << "" << "";
    QTest::newRow("drag with Ctrl: a copy") << "drop Ctrl" << "" << none << "&Undo Copy 'Shape play'" << "" << "before" << "after";
    QTest::newRow("Ctrl+X, Ctrl+V") << "keys X" << "" << none << "&Undo Move 'Shape play'" << "" << "before" << "after";
    // A cut event is placed once: a second Ctrl+V elsewhere leaves it where it went.
    QTest::newRow("Ctrl+X, Ctrl+V, Ctrl+V on another day") << "keys X twice" << "" << none << "&Undo Move 'Shape play'" << ""
                                                           << "before" << moved.arg("17 10:00", "17 11:00");
    // Then on from its new day: the week read again shows it only there.
    QTest::newRow("Ctrl+X, Ctrl+V, Alt+Down") << "keys X Down" << "" << none << "&Undo Move 'Shape play'" << ""
                                              << moved.arg("17 10:00", "17 11:00") << moved.arg("17 10:15", "17 11:15");
    // A move or copy writes only the time: the apostrophe in the notes stays.
    QTest::newRow("Ctrl+C, Ctrl+V") << "keys C" << "" << none << "&Undo Copy 'Shape play'" << "" << "before"
                                    << moved.arg("15 10:00", "15 11:00") + "/" + moved.arg("17 10:00", "17 11:00").replace("{id}", "{new}");
    QTest::newRow("Alt+Down: 15 minutes later") << "keys Down" << "" << none << "&Undo Move 'Shape play'" << "" << "before"
                                                << moved.arg("15 10:15", "15 11:15");
    // The entry stays chosen where it went, so the keys go on with it; one step each.
    QTest::newRow("Alt+Up twice: half an hour earlier") << "keys Up Up" << "" << none << "&Undo Move 'Shape play'" << ""
                                                        << moved.arg("15 09:45", "15 10:45") << moved.arg("15 09:30", "15 10:30");
    // Changed by another copy since the week was read: the editor's question; Yes moves the version shown.
    QTest::newRow("drag over another copy's change, Yes") << "drop over theirs" << "" << QStringList{"Yes"}
                                                          << "&Undo Move 'Shape play'" << "" << "before" << "after";
    // Nothing moves when the answer is No.
    QTest::newRow("drag over another copy's change, No") << "drop over theirs" << "" << QStringList{"No"} << "none"
        << "Someone else changed this event since you opened it:\r\nChanged by coach2 on 12/7/2026 10:14\r\n\r\n"
           "Notes: was \"Bring Sam's bibs\", now \"Theirs\"" << "" << "";
    // Only one staff member's events that overlap clash: not one ending as it starts, nor another's.
    QTest::newRow("drag next to the staff member's other event") << "drop touching" << "" << none
                                                                  << "&Undo Move 'Shape play'" << "" << "before" << "after";
    QTest::newRow("drag onto another staff member's event") << "drop other's" << "" << none << "&Undo Move 'Shape play'"
                                                            << "" << "before" << "after";
    QTest::newRow("drag between two of the staff member's events, No") << "drop two clashes" << "" << QStringList{"No"}
        << "none" << "Jane Coachwright already has 'Meeting' 09:30-10:15 and 'Match' 10:30-12:00 that day. Move anyway?"
        << "" << "";
    QTest::newRow("drag onto the staff member's other event, No") << "drop clash" << "" << QStringList{"No"} << "none"
        << "Jane Coachwright already has 'Match' 10:30-12:00 that day. Move anyway?" << "" << "";
    QTest::newRow("copy onto the staff member's other event, Yes") << "keys C clash" << "" << QStringList{"Yes"}
        << "&Undo Copy 'Shape play'" << "Jane Coachwright already has 'Match' 10:30-12:00 that day. Copy anyway?"
        << "before" << "after";
}

void tst_MainWindow::undoAndRedo()
{
    QFETCH(QString, action);
    QFETCH(QString, meanwhile);
    QFETCH(QStringList, answers);
    QFETCH(QString, undoText);
    QFETCH(QString, asked);
    QFETCH(QString, undone);
    QFETCH(QString, redone);
    using namespace driver;
    TestDatabase db;
    const QDate day(2026, 6, 15);
    db.exec("DELETE FROM tblPOCs");
    db.exec("DELETE FROM tblPredefinedEvents");
    db.addTemplate("Passing drill", "Pairs pass.");
    const int jane = db.addStaff("Jane Coachwright", "Head coach");
    int id = action == "add" || action == "drop"
        ? -1
        : db.addEvent(action.startsWith("edit") ? "Warm-up & stretch" : "Shape play", QDateTime(day, QTime(10, 0), Qt::UTC),
                      QDateTime(day, QTime(11, 0), Qt::UTC), jane, "Rondo", "Bring Sam's bibs");
    TestMainWindow w(db.services);
    w.Form_Load();
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    auto *undo = w.findChild<QAction *>("mnuUndo");
    auto *redo = w.findChild<QAction *>("mnuRedo");
    QStringList before = tables(db);
    auto week = [&w]() {
        QStringList shown;
        for (int panel = 0; panel < 7; ++panel)
            shown << shownTitles(w, panel).join(',');
        return shown;
    };
    QStringList weekBefore = week();

    if (action == "add" || action == "drop") {
        db.modal().steps.enqueue([&](QDialog &editor) {
            if (action == "add") {
                retype(titleList(editor), "Warm-up & stretch");
                retype(notes(editor), "Bring bibs");
            }
            press(editor, "saveAndClose");
        });
        w.choose = "popAddAppointment";
        if (action == "add")
            w.ctlDayDetail_RightMouseClick(3, -1);
        else
            w.ctlDayDetail_TemplateDropped(3);
        id = db.scalar("SELECT max(idScheduledEvent) FROM tblScheduledEvents").toInt();
        QCOMPARE(shownTitles(w, 3).size(), 1);
    } else if (action.startsWith("edit") || action == "delete in editor" || action == "move") {
        if (action == "edit staff") {
            db.addEvent("Busy", QDateTime(day, QTime(10, 30), Qt::UTC), QDateTime(day, QTime(12, 0), Qt::UTC),
                        db.addStaff("Sam Otherby", ""));
            w.mView_DateClick(QDateTime(day, QTime(0, 0)));
            before = tables(db);
            weekBefore = week();
        }
        db.modal().steps.enqueue([&](QDialog &editor) {
            if (action.startsWith("edit")) {
                if (action == "edit staff")
                    pick(staffList(editor), staffList(editor)->findText("Sam Otherby"));
                retype(notes(editor), "Cones");
                press(editor, "saveAndClose");
            } else if (action == "move") {
                retype(titleList(editor), "Cool-down");
                auto *start = control(editor, "dtStartDate");
                editor.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&editor));
                start->setFocus(Qt::TabFocusReason);
                QTest::keyClicks(start, "6/01/2026");
                press(editor, "saveAndClose");
            } else {
                press(editor, "deleteRecord");
            }
        });
        w.ctlDayDetail_ScheduledEventSelected(3, id);
        if (action == "edit staff")
            QCOMPARE(db.prompt().texts(), QStringList{"Sam Otherby already has 'Busy' 10:30-12:00 that day. Save anyway?"});
    } else if (action == "delete") {
        w.choose = "mnuPopDeleteAppointment";
        w.ctlDayDetail_RightMouseClick(3, id);
    } else if (action.startsWith("drop ") || action.startsWith("keys")) {
        bool added = false;
        auto onDay5 = [&](const char *title, QTime start, QTime end, int staff) {
            db.addEvent(title, QDateTime(day.addDays(2), start, Qt::UTC), QDateTime(day.addDays(2), end, Qt::UTC), staff);
            added = true;
        };
        if (action.endsWith("clash") || action.endsWith("clashes"))
            onDay5("Match", QTime(10, 30), QTime(12, 0), jane);
        if (action.endsWith("clashes"))
            onDay5("Meeting", QTime(9, 30), QTime(10, 15), jane);
        if (action.endsWith("touching"))
            onDay5("Match", QTime(11, 0), QTime(12, 0), jane);
        if (action.endsWith("other's"))
            onDay5("Match", QTime(10, 30), QTime(12, 0), db.addStaff("Sam Otherby", ""));
        // Without answers or an expected question, nothing may be asked.
        const bool questions = !answers.isEmpty() || !asked.isEmpty();
        if (action == "drop over theirs") {
            db.exec(QStringLiteral("UPDATE tblScheduledEvents SET Notes = 'Theirs' WHERE idScheduledEvent = %1").arg(id));
            db.exec(QStringLiteral("UPDATE tblChangeHistory SET changedBy = 'coach2', changedAt = '2026-12-07 10:14:00'"
                                   " WHERE tableName = 'tblscheduledevents' AND idRow = %1").arg(id));
        }
        for (const QString &answer : answers)
            db.prompt().answers.enqueue(answer == "No" ? Prompt::Answer::No : Prompt::Answer::Yes);
        answers.clear();
        // The week shows the other events; a change of the moved one's notes stays unseen.
        if (added)
            w.mView_DateClick(QDateTime(day, QTime(0, 0)));
        before = tables(db);
        weekBefore = week();
        if (action.startsWith("drop")) {
            // Offscreen has no drag and drop: the drop arrives as the window system would send it.
            QMimeData mime;
            mime.setData(ctlWeekDayView::eventMimeType(), QByteArray::number(id));
            const Qt::KeyboardModifiers keys = action == "drop Ctrl" ? Qt::ControlModifier : Qt::NoModifier;
            const QPoint at(20, 30);
            QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, keys);
            QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, keys);
            QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, keys);
            for (QDropEvent *event : std::initializer_list<QDropEvent *>{&enter, &move, &drop})
                QApplication::sendEvent(w.dayPanel(action == "drop home" ? 3 : 5), event);
            QCOMPARE(drop.dropAction(), keys ? Qt::CopyAction : Qt::MoveAction);
        } else {
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QVERIFY(w.dayPanel(3)->selectEvent(id));
            QWidget *from = listOf(w.dayPanel(3));
            if (action == "keys Down") {
                QTest::keyClick(from, Qt::Key_Down, Qt::AltModifier);
            } else if (action == "keys Up Up") {
                QTest::keyClick(from, Qt::Key_Up, Qt::AltModifier);
                QTest::keyClick(from, Qt::Key_Up, Qt::AltModifier);
            } else {
                QTest::keyClick(from, action.startsWith("keys X") ? Qt::Key_X : Qt::Key_C, Qt::ControlModifier);
                QTest::keyClick(listOf(w.dayPanel(5)), Qt::Key_V, Qt::ControlModifier);
                if (action == "keys X twice")
                    QTest::keyClick(listOf(w.dayPanel(4)), Qt::Key_V, Qt::ControlModifier);
                if (action == "keys X Down")
                    QTest::keyClick(listOf(w.dayPanel(5)), Qt::Key_Down, Qt::AltModifier);
            }
        }
        if (action != "drop home")
            QTRY_VERIFY(tables(db) != before || !db.prompt().shown.isEmpty());
        QTest::qWait(0);
        if (!questions)
            QCOMPARE(db.prompt().texts(), QStringList());
        if (!asked.isEmpty()) {
            QCOMPARE(db.prompt().texts().value(0).left(asked.size()), asked);
            asked.clear();
        }
        if (undoText == "none") {
            QCOMPARE(tables(db), before);
            QVERIFY(!undo->isEnabled());
            return;
        }
        if (action.startsWith("drop") || action.startsWith("keys X") || action.startsWith("keys C"))
            QCOMPARE(shownTitles(w, 5).filter("Shape play"), QStringList{action.endsWith("Down") ? "10:15 Shape play" : "10:00 Shape play"});
        // The day marks one staff member's entries that overlap, each naming the other.
        if (action.endsWith("clash")) {
            QCOMPARE(shownTip(listOf(w.dayPanel(5)), 1).section('\n', -1), "At the same time as: Shape play");
            QCOMPARE(shownTip(listOf(w.dayPanel(5)), 0).section('\n', -1), "At the same time as: Match");
            QCOMPARE(shownTip(listOf(w.dayPanel(3)), 0), QString());
        }
        if (action.endsWith("touching") || action.endsWith("other's")) {
            QCOMPARE(shownTip(listOf(w.dayPanel(5)), 0), QString());
            QCOMPARE(shownTip(listOf(w.dayPanel(5)), 1), QString());
        }
    } else {
        db.modal().steps.enqueue([&](QDialog &manager) {
            if (action == "template edit") {
                retype(control<QPlainTextEdit>(manager, "txtDescription"), "Triangles.");
                press(manager, "saveAndClose");
            } else if (action == "staff rename") {
                retype(control<QComboBox>(manager, "cmbPOC"), "Jane Coach");
                retype(control<QPlainTextEdit>(manager, "txtDescription"), "Assistant");
                press(manager, "saveAndClose");
            } else {
                press(manager, "deleteRecord");
                press(manager, "saveAndClose");
            }
        });
        w.findChild<QAction *>(action.startsWith("template") ? "mnuPredefinedEvents" : "mnuPOCs")->trigger();
    }
    const QStringList after = tables(db);
    const QStringList weekAfter = week();
    QVERIFY(after != before);
    QVERIFY(undo->isEnabled());
    QVERIFY(!redo->isEnabled());
    if (!undoText.isEmpty())
        QCOMPARE(undo->text(), undoText);

    std::unique_ptr<FileLock> lock;
    if (meanwhile == "lock") {
        lock = std::make_unique<FileLock>(db.path());
        QVERIFY(lock->held);
    } else if (!meanwhile.isEmpty() && meanwhile != "lock redo") {
        db.exec(QString(meanwhile).replace("{id}", QString::number(id)));
    }
    const QStringList theirs = tables(db);
    auto expected = [&](QString rows) {
        if (rows == "before")
            return before;
        if (rows == "after")
            return after;
        if (rows == "theirs")
            return theirs;
        const int newKey = db.scalar("SELECT max(idScheduledEvent) FROM tblScheduledEvents").toInt();
        QStringList listed = rows.replace("{id}", QString::number(id)).replace("{new}", QString::number(newKey)).split('/');
        for (const QString &row : before)
            if (!row.startsWith('E'))
                listed << row;
        listed.sort();
        return listed;
    };
    for (const QString &answer : answers)
        db.prompt().answers.enqueue(answer == "No" ? Prompt::Answer::No : Prompt::Answer::Yes);
    db.prompt().shown.clear();
    if (lock) {
        const QString text = undo->text();
        undo->trigger();
        QCOMPARE(db.prompt().shown.size(), 1);
        QVERIFY2(db.prompt().shown[0].text.startsWith("An error occured while undoing; nothing was changed.\r\n"),
                 qPrintable(db.prompt().shown[0].text));
        QCOMPARE(tables(db), theirs);
        QCOMPARE(undo->text(), text);
        QVERIFY(!redo->isEnabled());
        lock.reset();
        db.prompt().shown.clear();
    }
    const QString step = undo->text();
    undo->trigger();
    QCOMPARE(db.prompt().shown.isEmpty() ? QString() : db.prompt().shown[0].text.left(asked.size()), asked);
    QCOMPARE(tables(db), expected(undone));
    QVERIFY(redo->isEnabled());
    QCOMPARE(redo->text(), QString(step).replace("&Undo", "&Redo"));
    // The week shown follows what the undo wrote.
    if (action == "add" && meanwhile.isEmpty())
        QCOMPARE(shownTitles(w, 3), QStringList());
    if (undone == "before")
        QCOMPARE(week(), weekBefore);
    if (meanwhile == "lock redo") {
        lock = std::make_unique<FileLock>(db.path());
        QVERIFY(lock->held);
        const QString text = redo->text();
        redo->trigger();
        QCOMPARE(db.prompt().shown.size(), 1);
        QVERIFY2(db.prompt().shown[0].text.startsWith("An error occured while redoing; nothing was changed.\r\n"),
                 qPrintable(db.prompt().shown[0].text));
        QCOMPARE(tables(db), expected(undone));
        QCOMPARE(redo->text(), text);
        QVERIFY(!undo->isEnabled());
        lock.reset();
    }
    redo->trigger();
    QCOMPARE(tables(db), expected(redone));
    if (redone == "after")
        QCOMPARE(week(), weekAfter);
    if (QTest::currentDataTag() == QLatin1String("delete, key taken twice")) {
        const int moved = id + 1;
        db.exec(QString(meanwhile).replace("{id}", QString::number(moved)).replace("Squatter", "Second squatter"));
        const QStringList twice = tables(db);
        undo->trigger();
        QCOMPARE(db.scalar(QStringLiteral("SELECT title FROM tblScheduledEvents WHERE idScheduledEvent = %1").arg(moved + 1)),
                 QVariant("Shape play"));
        redo->trigger();
        QCOMPARE(tables(db), twice);
        QVERIFY(db.prompt().shown.isEmpty());
    }
    QCOMPARE(db.prompt().answers.size(), 0);
}

void tst_MainWindow::find_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("then"); // keys in the find window, or "double click N" on result N
    QTest::addColumn<QStringList>("listed"); // the results: date and time | title | staff member
    QTest::addColumn<QString>("shown"); // the event chosen in its week; empty: the week as it was
    const QString passing = "Mon 6/15/2026 10:00 AM|Passing drill|Ann Lee",
                  shooting = "Mon 3/02/2026 5:30 PM|Shooting drill|Zoë Brandt",
                  cafe = "Thu 11/20/2025 9:00 AM|Team talk|";
    QTest::newRow("Return: the newest in its week") << "drill" << "Return" << QStringList{passing, shooting}
                                                    << "Passing drill";
    QTest::newRow("Down, Return: the next one") << "drill" << "Down, Return" << QStringList{passing, shooting}
                                                << "Shooting drill";
    QTest::newRow("double click") << "drill" << "double click 1" << QStringList{passing, shooting} << "Shooting drill";
    QTest::newRow("Return in the results") << "drill" << "Tab, Down, Return" << QStringList{passing, shooting}
                                           << "Shooting drill";
    QTest::newRow("Return before the pause is over") << "shoot" << "Return at once" << QStringList{} << "Shooting drill";
    QTest::newRow("staff member, accent not typed") << "zoe" << "Return" << QStringList{shooting} << "Shooting drill";
    QTest::newRow("notes, accent typed") << "CAFÉ" << "Return" << QStringList{cafe} << "Team talk";
    QTest::newRow("several words") << "drill ann" << "" << QStringList{passing} << "";
    QTest::newRow("quotes and operators") << "\"drill\" OR -ann*" << "Return" << QStringList{} << "";
    QTest::newRow("no match, Return") << "volleyball" << "Return" << QStringList{} << "";
    QTest::newRow("Escape") << "drill" << "Escape" << QStringList{passing, shooting} << "";
    // 205 warm-ups, one a day from 1/01/2024.
    QTest::newRow("more than shown") << "warm" << "Return" << QStringList{"Tue 7/23/2024 7:00 AM|Warm-up|", "200 in all"}
                                     << "Warm-up";
}

void tst_MainWindow::find()
{
    QFETCH(QString, typed);
    QFETCH(QString, then);
    QFETCH(QStringList, listed);
    QFETCH(QString, shown);
    TestDatabase db;
    const int ann = db.addStaff("Ann Lee", "");
    const int zoe = db.addStaff("Zoë Brandt", "");
    auto at = [](int y, int m, int d, int h, int min) { return QDateTime(QDate(y, m, d), QTime(h, min), Qt::UTC); };
    QHash<QString, int> ids;
    ids["Shooting drill"] = db.addEvent("Shooting drill", at(2026, 3, 2, 17, 30), at(2026, 3, 2, 18, 30), zoe);
    ids["Passing drill"] = db.addEvent("Passing drill", at(2026, 6, 15, 10, 0), at(2026, 6, 15, 11, 0), ann);
    db.addEvent("Early passing", at(2026, 6, 15, 8, 0), at(2026, 6, 15, 9, 0), ann);
    ids["Team talk"] = db.addEvent("Team talk", at(2025, 11, 20, 9, 0), at(2025, 11, 20, 10, 0), 7, "", "Over a café");
    db.exec("INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 204) "
            "SELECT 'Warm-up', '', '', date('2024-01-01', '+' || i || ' days') || ' 07:00:00', "
            "date('2024-01-01', '+' || i || ' days') || ' 07:15:00', 7 FROM n");
    ids["Warm-up"] = db.scalar("SELECT max(idScheduledEvent) FROM tblScheduledEvents").toInt();
    const QDate start(2026, 1, 10);
    TestMainWindow w(db.services);
    w.Form_Load();
    w.findChild<QCalendarWidget *>("mView")->setSelectedDate(start);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(w.weekDate().date(), start);

    QStringList got;
    QString told;
    db.modal().steps.enqueue([&](QDialog &d) {
        d.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        auto *field = d.findChild<QLineEdit *>("txtFind");
        auto *results = d.findChild<QTreeWidget *>("lvResults");
        QVERIFY(field && results && d.findChild<QLabel *>("lblFound"));
        QCOMPARE(QApplication::focusWidget(), field);
        QTest::keyClicks(field, typed);
        auto rows = [results]() {
            QStringList r;
            for (int i = 0; i < results->topLevelItemCount(); ++i) {
                const QTreeWidgetItem *item = results->topLevelItem(i);
                r << item->text(0) + "|" + item->text(1) + "|" + item->text(2);
            }
            return r;
        };
        if (then != "Return at once") {
            // The results follow the typing, without a key to ask for them.
            QTRY_VERIFY(!d.findChild<QLabel *>("lblFound")->text().isEmpty());
            got = rows();
            told = d.findChild<QLabel *>("lblFound")->text();
        }
        if (then.startsWith("double click ")) {
            QTreeWidgetItem *item = results->topLevelItem(then.section(' ', 2).toInt());
            QVERIFY(item);
            const QPoint pos = results->visualItemRect(item).center();
            QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, pos);
            QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, pos);
        } else if (then == "Return at once") {
            QTest::keyClick(field, Qt::Key_Return);
        } else if (!then.isEmpty()) {
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(then));
        }
        if (!shown.isEmpty())
            QCOMPARE(d.result(), int(QDialog::Accepted));
        else if (then != "Escape")
            QVERIFY(d.isVisible()); // nothing to show: the window stays for other words
    });
    QTest::keySequence(&w, QKeySequence(Qt::CTRL | Qt::Key_F));
    QCOMPARE(db.modal().shownNames, QStringList{"frmFind"});
    if (then != "Return at once" && listed.endsWith("200 in all")) {
        QCOMPARE(got.size(), 200);
        QCOMPARE(got.first(), listed.first());
        QCOMPARE(told, "The newest 200 events found; more words find fewer.");
    } else if (then != "Return at once") {
        QCOMPARE(got, listed);
        QCOMPARE(told, listed.isEmpty() ? "No event holds these words."
                       : listed.size() == 1 ? "1 event found."
                                            : QString("%1 events found.").arg(listed.size()));
    }
    if (shown.isEmpty()) {
        QCOMPARE(w.weekDate().date(), start);
        QCOMPARE(w.findChild<QCalendarWidget *>("mView")->selectedDate(), start);
        return;
    }
    // Its week, with the event chosen and the keys on it.
    const QDate day = w.dayPanel(3)->DayDate().date();
    QCOMPARE(w.findChild<QCalendarWidget *>("mView")->selectedDate(), day);
    QCOMPARE(w.weekDate().date(), day);
    QCOMPARE(w.dayPanel(3)->selectedEventId(), ids[shown]);
    QCOMPARE(db.scalar(QString("SELECT substr(EventTime, 1, 10) FROM tblScheduledEvents WHERE idScheduledEvent = %1")
                           .arg(ids[shown]))
                 .toString(),
             day.toString(Qt::ISODate));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(QApplication::focusWidget(), listOf(w.dayPanel(3)));

    // Opened again: the same words and results, selected so typing replaces them.
    db.modal().steps.enqueue([&](QDialog &d) {
        auto *field = d.findChild<QLineEdit *>("txtFind");
        QCOMPARE(field->selectedText(), typed);
        QCOMPARE(d.findChild<QTreeWidget *>("lvResults")->currentItem()->text(1), shown);
        QTest::keyClicks(field, "volleyball");
        QTRY_COMPARE(d.findChild<QTreeWidget *>("lvResults")->topLevelItemCount(), 0);
        QTest::keyClick(field, Qt::Key_Escape);
    });
    QTest::keySequence(&w, QKeySequence(Qt::CTRL | Qt::Key_F));
    QCOMPARE(db.modal().shownNames, (QStringList{"frmFind", "frmFind"}));
    QCOMPARE(w.weekDate().date(), day);
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
