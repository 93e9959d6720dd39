#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
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
    emit calendar->clicked(clicked);

    QCOMPARE(w.weekDate(), QDateTime(clicked, QTime(0, 0)));
    for (int k = 0; k < 7; ++k) {
        ctlWeekDayView *panel = w.dayPanel(k);
        const QDate day = clicked.addDays(k - 3);
        QCOMPARE(panel->DayDate(), QDateTime(day, QTime(0, 0)));
        QCOMPARE(panel->dayTitle(), longDateText(day));
        QCOMPARE(listOf(panel)->topLevelItemCount(), 1);
        QCOMPARE(listOf(panel)->topLevelItem(0)->text(0), QStringLiteral("12:00 day %1").arg(k - 3));
    }
    QCOMPARE(w.findChild<QLabel *>("lblHeading")->text(), heading);
}

void tst_MainWindow::deleteFromPopup_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("emptyDay");
    QTest::newRow("answered yes") << true << false;
    QTest::newRow("answered no") << false << false;
    QTest::newRow("empty day, yes") << true << true;
}

void tst_MainWindow::deleteFromPopup()
{
    QFETCH(bool, yes);
    QFETCH(bool, emptyDay);
    TestDatabase db;
    const QDate day(2026, 6, 15);
    const int keep = db.addEvent("Keep", QDateTime(day, QTime(8, 0), Qt::UTC), QDateTime(day, QTime(9, 0), Qt::UTC), 1);
    const int doomed = db.addEvent("Doomed", QDateTime(day, QTime(10, 0), Qt::UTC), QDateTime(day, QTime(11, 0), Qt::UTC), 1);
    TestMainWindow w(db.services);
    w.Form_Load();
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    const int panelIndex = emptyDay ? 4 : 3;
    QTreeWidget *list = listOf(w.dayPanel(panelIndex));
    const QPoint pos = emptyDay ? QPoint(5, 5) : list->visualItemRect(list->topLevelItem(1)).center();
    w.choose = "mnuPopDeleteAppointment";
    db.prompt().answers.enqueue(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, pos);

    QCOMPARE(w.popups, 1);
    QCOMPARE(w.selectedDayIndex(), panelIndex);
    QCOMPARE(w.selectedEventId(), emptyDay ? -1 : doomed);
    QCOMPARE(db.prompt().shown.size(), 1);
    const FakePrompt::Shown asked = db.prompt().shown.first();
    QCOMPARE(asked.text, QStringLiteral("Are you sure?"));
    QCOMPARE(asked.title, QStringLiteral("Orvenna"));
    QCOMPARE(asked.icon, Prompt::Icon::Question);
    QCOMPARE(asked.buttons, Prompt::Buttons::YesNo);

    const bool gone = yes && !emptyDay;
    QCOMPARE(db.count("tblScheduledEvents"), gone ? 1 : 2);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblScheduledEvents WHERE idScheduledEvent = %1").arg(keep)).toInt(), 1);
    QCOMPARE(listOf(w.dayPanel(3))->topLevelItemCount(), gone ? 1 : 2);
}

void tst_MainWindow::damagedDatabase_data()
{
    QTest::addColumn<QString>("file"); // "tool": made by the tool, then damaged; "none": missing; else its content
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("templates");
    QTest::addColumn<QString>("reason"); // empty: nothing to say
    QTest::newRow("missing") << "none" << "" << 0 << 0 << "Could not find file";
    QTest::newRow("not a database") << QString(2048, QLatin1Char('\a')) << "" << 0 << 0 << "not a database";
    QTest::newRow("empty file") << "" << "" << 0 << 0 << "no such table";
    QTest::newRow("null title") << "tool" << "UPDATE tblScheduledEvents SET title = NULL WHERE idScheduledEvent = 2" << 1 << 3 << "Null";
    QTest::newRow("start not a date") << "tool" << "UPDATE tblScheduledEvents SET EventTime = '2026-06-15 10:xx' WHERE idScheduledEvent = 2"
                                      << 1 << 3 << "not a date";
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
        QVERIFY2(said.text.contains(QDir::toNativeSeparators(db.path())) && said.text.contains(reason), qPrintable(said.text));
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
