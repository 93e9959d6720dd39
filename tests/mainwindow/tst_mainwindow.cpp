#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"
#include "ui/Regional.h"

#include <QAction>
#include <QCalendarWidget>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

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
    void resizesInProportion();
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
    db.addEvent(odd, QDateTime(today, QTime(9, 0), Qt::UTC), QDateTime(today, QTime(10, 0), Qt::UTC), 1, big, big);
    db.addEvent(big, QDateTime(today, QTime(7, 0), Qt::UTC), QDateTime(today, QTime(8, 0), Qt::UTC), 1);
    db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                           "INSERT INTO tblPredefinedEvents(title, Description) SELECT 'Template ' || i, '' FROM n")
                .arg(templates));
    if (templates == 0)
        db.exec("DELETE FROM tblPredefinedEvents");
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
    // Templates in stored order, keys beside them, the first selected.
    auto *list = w.findChild<QListWidget *>("lstEventTemplates");
    QCOMPARE(list->count(), templates);
    if (templates > 0) {
        QCOMPARE(list->item(templates - 1)->text(), QStringLiteral("Template %1").arg(templates));
        QCOMPARE(list->item(templates - 1)->data(Qt::UserRole).toInt(), templates);
    }
    QCOMPARE(list->selectedItems().size(), templates > 0 ? 1 : 0);
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
    QTest::addColumn<QDate>("clicked");
    QTest::newRow("month end") << QDate(2026, 1, 31);
    QTest::newRow("year end") << QDate(2026, 12, 31);
    QTest::newRow("leap day") << QDate(2028, 2, 29);
    QTest::newRow("month start") << QDate(2027, 3, 1);
    QTest::newRow("a Monday") << QDate(2026, 12, 7);
    // Days the store's dates cannot name stay empty, without a message.
    QTest::newRow("the last week") << QDate(9999, 12, 30);
    QTest::newRow("the first week") << QDate(1, 1, 2);
}

void tst_MainWindow::weekAroundClickedDate()
{
    QFETCH(QDate, clicked);
    TestDatabase db;
    for (int i = -4; i <= 4; ++i)
        db.addEvent(QStringLiteral("day %1").arg(i), QDateTime(clicked.addDays(i), QTime(12, 0), Qt::UTC),
                    QDateTime(clicked.addDays(i), QTime(13, 0), Qt::UTC), 1);
    TestMainWindow w(db.services);
    w.Form_Load();
    const QString heading = w.findChild<QLabel *>("lblHeading")->text();

    auto *calendar = w.findChild<QCalendarWidget *>("mView");
    calendar->setSelectedDate(clicked);
    QCOMPARE(calendar->selectedDate(), clicked);
    emit calendar->clicked(clicked);

    QCOMPARE(w.weekDate(), QDateTime(clicked, QTime(0, 0)));
    for (int k = 0; k < 7; ++k) {
        ctlWeekDayView *panel = w.dayPanel(k);
        const QDate day = clicked.addDays(k - 3);
        QCOMPARE(panel->DayDate(), QDateTime(day, QTime(0, 0)));
        QCOMPARE(panel->dayTitle(), longDateText(day));
        const bool named = day.year() >= 1 && day.year() <= 9999;
        QCOMPARE(listOf(panel)->topLevelItemCount(), named ? 1 : 0);
        if (named)
            QCOMPARE(listOf(panel)->topLevelItem(0)->text(0), QStringLiteral("12:00 day %1").arg(k - 3));
    }
    QCOMPARE(w.findChild<QLabel *>("lblHeading")->text(), heading);
    QVERIFY(db.prompt().shown.isEmpty());
}

void tst_MainWindow::deleteFromPopup_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("before"); // what the user did first
    QTest::addColumn<int>("panel");      // where the right button is then pressed
    QTest::addColumn<int>("row");        // on which entry; -1: blank space
    QTest::addColumn<QString>("selected"); // the one entry highlighted in the week before that press
    QTest::addColumn<QString>("reported"); // the event the popup acts on; empty: none (-1)
    QTest::newRow("answered yes") << true << "" << 3 << 1 << "" << "Doomed";
    QTest::newRow("answered no") << false << "" << 3 << 1 << "" << "Doomed";
    QTest::newRow("empty day, yes") << true << "" << 4 << -1 << "" << "";
    // The editor's reload puts another entry under the pointer; the same double
    // click must not choose it.
    QTest::newRow("blank space after a double-click edit") << true << "edit" << 3 << -1 << "10:00 Doomed" << "Doomed";
    QTest::newRow("blank space of a day left for another") << true << "other day" << 3 << -1 << "09:00 Later" << "";
}

void tst_MainWindow::deleteFromPopup()
{
    QFETCH(bool, yes);
    QFETCH(QString, before);
    QFETCH(int, panel);
    QFETCH(int, row);
    QFETCH(QString, selected);
    QFETCH(QString, reported);
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
    } else if (before == "other day") {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry(3, 0));
        QTest::mouseClick(listOf(w.dayPanel(5))->viewport(), Qt::LeftButton, {}, entry(5, 0));
    }
    QStringList highlighted;
    for (int k = 0; k < 7; ++k)
        for (QTreeWidgetItem *item : listOf(w.dayPanel(k))->selectedItems())
            highlighted << item->text(0);
    QCOMPARE(highlighted.join('|'), selected);

    const QPoint pos = row >= 0 ? entry(panel, row) : QPoint(5, list->viewport()->height() - 3);
    w.choose = "mnuPopDeleteAppointment";
    db.prompt().answers.enqueue(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, pos);

    QCOMPARE(w.popups, 1);
    QCOMPARE(w.selectedDayIndex(), panel);
    QCOMPARE(w.selectedEventId(), ids.value(reported));
    QCOMPARE(db.prompt().shown.size(), 1);
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
    if (yes)
        expected.removeOne(reported);
    QCOMPARE(left, expected);
    QCOMPARE(listOf(w.dayPanel(3))->topLevelItemCount(), expected.size() - 1 + (before == "edit"));
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

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
