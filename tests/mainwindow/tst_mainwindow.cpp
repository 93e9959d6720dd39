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
    void startUp();
    void weekAroundClickedDate_data();
    void weekAroundClickedDate();
    void deleteFromPopup_data();
    void deleteFromPopup();
    void templateList_data();
    void templateList();
    void unusableDatabase_data();
    void unusableDatabase();
    void damagedRows_data();
    void damagedRows();
    void hardInput();
    void menus_data();
    void menus();
    void printInstructions();
    void closeEndsTheProgram();
    void resizesInProportion();
};

void tst_MainWindow::startUp()
{
    TestDatabase db;
    const QDate today = QDate::currentDate();
    db.addEvent("Today's drill", QDateTime(today, QTime(9, 0), Qt::UTC), QDateTime(today, QTime(10, 0), Qt::UTC), 1);
    TestMainWindow w(db.services);
    const QDateTime before = QDateTime::currentDateTime();
    w.Form_Load();

    QCOMPARE(w.windowTitle(), QStringLiteral("Orvenna"));
    QCOMPARE(w.findChild<QCalendarWidget *>("mView")->selectedDate(), today);
    QCOMPARE(w.findChild<QLabel *>("lblHeading")->text(), longDateText(today));
    // The first week is around the present moment, time of day included.
    QVERIFY(w.weekDate() >= before.addSecs(-1) && w.weekDate() <= QDateTime::currentDateTime());
    QCOMPARE(w.dayPanel(3)->DayDate(), w.weekDate());
    QCOMPARE(listOf(w.dayPanel(3))->topLevelItem(0)->text(0), QStringLiteral("09:00 Today's drill"));
    QVERIFY(db.prompt().shown.isEmpty());
    QCOMPARE(w.connectionString(), db.connectionString());
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

void tst_MainWindow::templateList_data()
{
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("empty") << QStringList();
    QTest::newRow("one") << QStringList{"Warm-up"};
    QTest::newRow("three, in stored order") << QStringList{"Zig-zag", "Agility", "Cool-down"};
}

void tst_MainWindow::templateList()
{
    QFETCH(QStringList, titles);
    TestDatabase db;
    QList<int> ids;
    for (const QString &t : titles)
        ids << db.addTemplate(t, t + " description");
    TestMainWindow w(db.services);
    w.Form_Load();
    auto *list = w.findChild<QListWidget *>("lstEventTemplates");
    QCOMPARE(list->count(), titles.size());
    for (int i = 0; i < titles.size(); ++i) {
        QCOMPARE(list->item(i)->text(), titles.at(i));
        QCOMPARE(list->item(i)->data(Qt::UserRole).toInt(), ids.at(i));
    }
    QCOMPARE(list->currentRow(), titles.isEmpty() ? -1 : 0);
    QCOMPARE(list->selectedItems().size(), titles.isEmpty() ? 0 : 1);
}

void tst_MainWindow::unusableDatabase_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray() << "Could not find file";
    QTest::newRow("not a database") << QByteArray(2048, '\x07') << "not a database";
    QTest::newRow("empty file") << QByteArray("", 0) << "no such table";
}

void tst_MainWindow::unusableDatabase()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    TestDatabase db(false);
    const bool file = !content.isNull();
    if (file) {
        QFile f(db.path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    TestMainWindow w(db.services);
    w.Form_Load();

    QCOMPARE(db.prompt().shown.size(), 1);
    const FakePrompt::Shown said = db.prompt().shown.first();
    QCOMPARE(said.icon, Prompt::Icon::Critical);
    QVERIFY2(said.text.contains(QDir::toNativeSeparators(db.path())), qPrintable(said.text));
    QVERIFY2(said.text.contains(reason), qPrintable(said.text));
    QCOMPARE(w.findChild<QListWidget *>("lstEventTemplates")->count(), 0);
    for (int k = 0; k < 7; ++k) {
        QCOMPARE(listOf(w.dayPanel(k))->topLevelItemCount(), 0);
        QVERIFY(!w.dayPanel(k)->dayTitle().isEmpty());
    }

    // Later commands take their own quiet paths: no crash, no more boxes, no file.
    w.mView_DateClick(QDateTime(QDate(2026, 5, 1), QTime(0, 0)));
    QCOMPARE(w.dayPanel(3)->DayDate().date(), QDate(2026, 5, 1));
    w.choose = "mnuPopDeleteAppointment";
    w.ctlDayDetail_RightMouseClick(2, -1);
    QCOMPARE(db.prompt().texts(), QStringList({said.text, "Are you sure?"}));
    QCOMPARE(QFile::exists(db.path()), file);
    if (file) {
        QFile f(db.path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
}

void tst_MainWindow::damagedRows_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("templates");
    QTest::addColumn<QString>("reason"); // empty: nothing to say
    QTest::newRow("null title") << "UPDATE tblScheduledEvents SET title = NULL WHERE idScheduledEvent = 2" << 1 << 3 << "Null";
    QTest::newRow("start not a date") << "UPDATE tblScheduledEvents SET EventTime = '2026-06-15 10:xx' WHERE idScheduledEvent = 2"
                                      << 1 << 3 << "not a date";
    // No start at all: the event belongs to no day.
    QTest::newRow("null start") << "UPDATE tblScheduledEvents SET EventTime = NULL WHERE idScheduledEvent = 2" << 2 << 3 << "";
    // The template fill stops quietly at the damaged row.
    QTest::newRow("null template title") << "UPDATE tblPredefinedEvents SET title = NULL WHERE idPredefinedEvent = 2" << 3 << 1 << "";
}

void tst_MainWindow::damagedRows()
{
    QFETCH(QString, damage);
    QFETCH(int, events);
    QFETCH(int, templates);
    QFETCH(QString, reason);
    TestDatabase db;
    const QDate day(2026, 6, 15);
    for (int i = 0; i < 3; ++i)
        db.addEvent(QStringLiteral("Event %1").arg(i), QDateTime(day, QTime(8 + 2 * i, 0), Qt::UTC), QDateTime(day, QTime(9 + 2 * i, 0), Qt::UTC), 1);
    for (const char *t : {"One", "Two", "Three"})
        db.addTemplate(t, "");
    db.exec(damage);

    TestMainWindow w(db.services);
    w.Form_Load();
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    QCOMPARE(listOf(w.dayPanel(3))->topLevelItemCount(), events);
    QCOMPARE(w.findChild<QListWidget *>("lstEventTemplates")->count(), templates);
    if (reason.isEmpty()) {
        QVERIFY(db.prompt().shown.isEmpty());
    } else {
        QCOMPARE(db.prompt().shown.size(), 1);
        QVERIFY2(db.prompt().shown.first().text.contains(reason), qPrintable(db.prompt().shown.first().text));
    }
    // Said once, not again on every reload of the same damage.
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    QCOMPARE(db.prompt().shown.size(), reason.isEmpty() ? 0 : 1);
}

void tst_MainWindow::hardInput()
{
    TestDatabase db;
    const QDate day(2026, 6, 15);
    const QString big = QString(1 << 20, QLatin1Char('m'));
    const QString odd = QString::fromUtf8("Üben \"#1\" -- ; DROP <b>練習</b> 🏃\r\nline\rtwo\nthree");
    db.addEvent(odd, QDateTime(day, QTime(7, 0), Qt::UTC), QDateTime(day, QTime(8, 0), Qt::UTC), 1, big, big);
    db.addEvent(big, QDateTime(day, QTime(9, 0), Qt::UTC), QDateTime(day, QTime(10, 0), Qt::UTC), 1);
    db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
            "INSERT INTO tblPredefinedEvents(title, Description) SELECT 'Template ' || i, '' FROM n");

    TestMainWindow w(db.services);
    w.Form_Load();
    w.mView_DateClick(QDateTime(day, QTime(0, 0)));
    QTreeWidget *list = listOf(w.dayPanel(3));
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("07:00 ") + odd);
    QCOMPARE(list->topLevelItem(1)->text(0).size(), 6 + big.size());
    auto *templates = w.findChild<QListWidget *>("lstEventTemplates");
    QCOMPARE(templates->count(), 10000);
    QCOMPARE(templates->item(9999)->text(), QStringLiteral("Template 10000"));
    QVERIFY(db.prompt().shown.isEmpty());
}

void tst_MainWindow::menus_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("File") << "mnuRootFile" << "&File";
    QTest::newRow("Insert") << "mnuRootEvents" << "&Insert";
    QTest::newRow("Manage") << "mnuTools" << "&Manage";
    QTest::newRow("About") << "mnuAbout" << "&About";
    QTest::newRow("print instructions") << "mnuPrintAppointment" << "&Print Selected Activity/Drill";
    QTest::newRow("close") << "mnuClose" << "&Close";
    QTest::newRow("new event") << "mnuNewAppointment" << "&Activity / Drill";
    QTest::newRow("templates") << "mnuPredefinedEvents" << "&Activities / Drills";
    QTest::newRow("staff") << "mnuPOCs" << "&Coaching Staff";
    QTest::newRow("popup insert") << "popAddAppointment" << "Insert";
    QTest::newRow("popup delete") << "mnuPopDeleteAppointment" << "Delete";
    QTest::newRow("popup print") << "mnuPopPrintAppointment" << "Print";
}

void tst_MainWindow::menus()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    TestDatabase db;
    TestMainWindow w(db.services);
    if (auto *menu = w.findChild<QMenu *>(name)) {
        QCOMPARE(menu->title(), caption);
        return;
    }
    auto *action = w.findChild<QAction *>(name);
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->text(), caption);

    // The bar holds File, Insert, Manage and About, in this order.
    QStringList bar;
    for (QAction *a : w.menuBar()->actions())
        bar << a->text();
    QCOMPARE(bar, QStringList({"&File", "&Insert", "&Manage", "&About"}));
}

void tst_MainWindow::printInstructions()
{
    TestDatabase db;
    TestMainWindow w(db.services);
    w.Form_Load();
    w.findChild<QAction *>("mnuPrintAppointment")->trigger();
    QCOMPARE(db.prompt().shown.size(), 1);
    const FakePrompt::Shown s = db.prompt().shown.first();
    QCOMPARE(s.text, QStringLiteral("Left-Mouse Click on the Event and then Right-Mouse Click and select Print..."));
    QCOMPARE(s.title, QStringLiteral("Instructions"));
    QCOMPARE(s.icon, Prompt::Icon::Information);
    QCOMPARE(s.buttons, Prompt::Buttons::Ok);
}

void tst_MainWindow::closeEndsTheProgram()
{
    TestDatabase db;
    TestMainWindow w(db.services);
    w.Form_Load();
    w.show();
    QSignalSpy closed(&w, &frmEventsMain::closed);
    w.findChild<QAction *>("mnuClose")->trigger();
    QCOMPARE(closed.count(), 1);
    QVERIFY(!w.isVisible());
    QVERIFY(db.prompt().shown.isEmpty());
}

void tst_MainWindow::resizesInProportion()
{
    TestDatabase db;
    TestMainWindow w(db.services);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget *client = w.centralWidget();
    client->resize(634, 454);
    QApplication::processEvents();
    const QRect panelDesign = w.dayPanel(6)->geometry();
    const QRect listDesign = w.findChild<QListWidget *>("lstEventTemplates")->geometry();
    QCOMPARE(panelDesign, QRect(8, 304, 217, 113));

    w.resize(w.width() * 2, w.height() + client->height());
    QApplication::processEvents();
    QCOMPARE(client->size(), QSize(1268, 908));
    const QRect panel = w.dayPanel(6)->geometry();
    QVERIFY(qAbs(panel.x() - 2 * panelDesign.x()) <= 1 && qAbs(panel.width() - 2 * panelDesign.width()) <= 1);
    QVERIFY(qAbs(panel.y() - 2 * panelDesign.y()) <= 1 && qAbs(panel.height() - 2 * panelDesign.height()) <= 1);
    const QRect list = w.findChild<QListWidget *>("lstEventTemplates")->geometry();
    QVERIFY(qAbs(list.width() - 2 * listDesign.width()) <= 1 && qAbs(list.height() - 2 * listDesign.height()) <= 1);
    // The day panel lays out its own list to its new size.
    QCOMPARE(listOf(w.dayPanel(6))->width(), panel.width());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
