#include "EditorDriver.h"

#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"

using namespace driver;

namespace {

// Chooses Insert instead of opening the popup at the mouse.
class TestMainWindow : public frmEventsMain
{
public:
    using frmEventsMain::frmEventsMain;
    void showPopup(QMenu *menu, const QPoint &) override { control<QAction>(*menu, "popAddAppointment")->trigger(); }
};

QTreeWidget *eventList(ctlWeekDayView *panel) { return control<QTreeWidget>(*panel, "lvEventList"); }

// Selects the template in the main window's list and drops it on target.
// Offscreen has no real drag and drop: hand the day the events a drop brings.
bool dropTemplate(const QWidget &w, QWidget *target, const QString &title)
{
    auto *templates = control<QListWidget>(w, "lstEventTemplates");
    clickEntry(templates, templates->row(templates->findItems(title, Qt::MatchExactly).value(0)));
    QMimeData mime;
    mime.setData(ctlWeekDayView::templateMimeType(), QByteArray());
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QDropEvent drop(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    for (QDropEvent *event : std::initializer_list<QDropEvent *>{&enter, &move, &drop})
        QApplication::sendEvent(target, event);
    return enter.isAccepted() && move.isAccepted() && drop.isAccepted();
}

// What an editor shows: title|description|notes|start time|end time|staff.
QString shows(const QWidget &e)
{
    return QStringList{titleList(e)->currentText(), description(e)->toPlainText(), notes(e)->toPlainText(),
                       control<QTimeEdit>(e, "dtStartTime")->time().toString("hh:mm"),
                       control<QTimeEdit>(e, "dtEndTime")->time().toString("hh:mm"),
                       staffList(e)->currentText()}.join('|');
}

// The rest of what a new event's editor shows: no notes, noon to noon, the first staff member.
const QString kNoon = "||12:00|12:00|Jane Coachwright";
// What the Insert menu's editor shows.
const QString kFresh = "Passing drill|Pairs pass.\nSwitch feet." + kNoon;

} // namespace

class tst_EditorOpenings : public QObject
{
    Q_OBJECT

private slots:
    void opening_data();
    void opening();
    void othersFollow_data();
    void othersFollow();
};

void tst_EditorOpenings::opening_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("panel");     // the day panel used or, for the menu, showing today
    QTest::addColumn<QDate>("clicked"); // invalid: the week of start-up
    QTest::addColumn<QString>("shown"); // by the editor, its title the template dropped; empty: no templates
    // Done by another tool to the stored event before it is opened; then no editor opens, and this is said.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("told");
    QTest::newRow("Insert menu") << "menu" << 3 << QDate() << kFresh << "" << "";
    QTest::newRow("popup Insert") << "popup" << 0 << QDate() << kFresh << "" << "";
    QTest::newRow("popup Insert after a date click, month end") << "popup" << 5 << QDate(2027, 2, 27) << kFresh << "" << "";
    QTest::newRow("drop on a panel") << "drop" << 6 << QDate() << "Sprints|6 x 40 yards" + kNoon << "" << "";
    QTest::newRow("drop on a list, leap day") << "list drop" << 4 << QDate(2028, 2, 28) << "Cool-down|Easy jog" + kNoon << "" << "";
    QTest::newRow("drop without templates") << "drop" << 2 << QDate() << "" << "" << "";
    QTest::newRow("double click") << "double click" << 3 << QDate() << "Match prep|Shape|Bibs|07:30|09:00|Omar Field" << ""
                                  << "";
    // Empty texts left as NULL are empty; a value that is needed and cannot be read opens no half-filled editor.
    QTest::newRow("double click, NULL description and notes")
        << "double click" << 3 << QDate() << "Match prep|||07:30|09:00|Omar Field"
        << "UPDATE tblScheduledEvents SET Description = NULL, Notes = NULL" << "";
    QTest::newRow("double click, NULL staff member") << "double click" << 3 << QDate()
                                                     << "Match prep|Shape|Bibs|07:30|09:00|Omar Field"
                                                     << "UPDATE tblScheduledEvents SET idPOC = NULL"
                                                     << "Invalid use of Null: column 'idPOC'.";
    QTest::newRow("double click, end written by another tool")
        << "double click" << 3 << QDate() << "Match prep|Shape|Bibs|07:30|09:00|Omar Field"
        << "UPDATE tblScheduledEvents SET EventTimeEnd = substr(EventTimeEnd, 1, 19) || 'Z'"
        << "Type mismatch: '%1 09:00:00Z' is not a date and time.";
}

void tst_EditorOpenings::opening()
{
    QFETCH(QString, how);
    QFETCH(int, panel);
    QFETCH(QDate, clicked);
    QFETCH(QString, shown);
    QFETCH(QString, damage);
    QFETCH(QString, told);
    const QString title = shown.section('|', 0, 0);
    const QString time = shown.section('|', 3, 3);
    const bool stored = how == "double click";
    Fixture f;
    const QDate today = QDate::currentDate();
    f.db.addEvent("Match prep", at(today, 7, 30), at(today, 9, 0), f.omar, "Shape", "Bibs");
    if (!damage.isEmpty())
        f.db.exec(damage);
    if (shown.isEmpty())
        f.db.exec("DELETE FROM tblPredefinedEvents");
    TestMainWindow w(f.db.services);
    w.Form_Load();
    w.show();
    if (clicked.isValid())
        w.mView_DateClick(QDateTime(clicked, QTime(0, 0)));
    // A day panel hands over its day with the time of day of the week shown.
    const QDateTime day = how == "menu" || stored ? QDateTime(today, QTime(0, 0)) : w.weekDate().addDays(panel - 3);
    ctlWeekDayView *dayPanel = w.dayPanel(panel);

    f.db.modal().steps.enqueue([&](QDialog &editor) {
        QCOMPARE(editor.parentWidget(), &w);
        QCOMPARE(shows(editor), shown);
        for (const char *date : {"dtStartDate", "dtEndDate"})
            QCOMPARE(control<QDateEdit>(editor, date)->dateTime(), QDateTime(day.date(), day.time(), Qt::UTC));
        retype(notes(editor), "from the opening");
        press(editor, "saveAndClose");
    });
    // Then the Insert menu's editor starts afresh; closing it with changes asks, Escape as the close
    // box, and discarding them writes nothing; the week reloads even so, showing what the store got
    // meanwhile. Without changes it just closes.
    f.db.modal().steps.enqueue([&](QDialog &editor) {
        QCOMPARE(shows(editor), kFresh);
        retype(notes(editor), "abandoned");
        f.db.prompt().answers << Prompt::Answer::Cancel << Prompt::Answer::Discard;
        QTest::keyClick(notes(editor), Qt::Key_Escape);
        QVERIFY(editor.isVisible());
        QCOMPARE(notes(editor)->toPlainText(), "abandoned");
        f.db.addEvent("Added elsewhere", at(day.date(), 5, 0), at(day.date(), 6, 0), f.jane);
        editor.close();
        QVERIFY(!editor.isVisible());
    });
    f.db.modal().steps.enqueue([&](QDialog &editor) {
        QTest::keyClick(titleList(editor), Qt::Key_Escape);
        QVERIFY(!editor.isVisible());
    });

    if (how == "menu")
        control<QAction>(w, "mnuNewAppointment")->trigger();
    else if (how == "popup")
        QTest::mousePress(eventList(dayPanel)->viewport(), Qt::RightButton);
    else if (stored)
        clickEntry(eventList(dayPanel), 0, true);
    else
        QVERIFY(dropTemplate(w, how == "drop" ? dayPanel : eventList(dayPanel)->viewport(), title));
    if (!told.isEmpty()) { // no editor, nothing written
        QCOMPARE(f.db.prompt().texts(), QStringList("An error occured while loading the record.\r\n"
                                                    + told.arg(today.toString(Qt::ISODate))));
        QVERIFY(f.db.modal().shownNames.isEmpty() && f.db.count("tblScheduledEvents") == 1);
        return;
    }
    QVERIFY(f.db.prompt().shown.isEmpty());
    if (shown.isEmpty()) { // nothing opened, nothing written
        QVERIFY(f.db.modal().shownNames.isEmpty() && f.db.count("tblScheduledEvents") == 1);
        return;
    }
    control<QAction>(w, "mnuNewAppointment")->trigger();
    control<QAction>(w, "mnuNewAppointment")->trigger();
    QCOMPARE(f.db.modal().shownNames, QStringList({"frmEventEditor", "frmEventEditor", "frmEventEditor"}));
    QCOMPARE(f.db.prompt().texts(), QStringList(2, "Do you want to save your changes before closing?"));

    // Saved on the day handed over: inserted, or the stored row updated.
    QCOMPARE(f.db.count("tblScheduledEvents"), stored ? 2 : 3);
    QCOMPARE(f.db.scalar("SELECT EventTime FROM tblScheduledEvents WHERE Notes = 'from the opening'").toString(),
             day.date().toString("yyyy-MM-dd ") + time + ":00");
    QCOMPARE(eventList(dayPanel)->findItems(time + " " + title, Qt::MatchExactly).size(), 1);
    QCOMPARE(eventList(dayPanel)->findItems("05:00 Added elsewhere", Qt::MatchExactly).size(), 1);
}

void tst_EditorOpenings::othersFollow_data()
{
    QTest::addColumn<QString>("window"); // where the write is made
    QTest::addColumn<int>("weeksAway");  // the shown week from today's, where the editor saves
    // The shown middle day's entries, or the template list, while that window is still open.
    QTest::addColumn<QStringList>("followed");
    QTest::newRow("event saved in the shown week") << "editor" << 0
                                                   << QStringList{"05:00 Written elsewhere", "07:30 Match prep",
                                                                  "12:00 Passing drill"};
    QTest::newRow("event saved in another week") << "editor" << -2 << QStringList();
    QTest::newRow("event moved out of the shown week") << "moved" << 0 << QStringList{"05:00 Written elsewhere"};
    QTest::newRow("template added") << "templates" << 0 << QStringList{"Passing drill", "Sprints", "Cool-down", "Rondo"};
}

void tst_EditorOpenings::othersFollow()
{
    QFETCH(QString, window);
    QFETCH(int, weeksAway);
    QFETCH(QStringList, followed);
    Fixture f;
    const QDate today = QDate::currentDate();
    f.db.addEvent("Match prep", at(today, 7, 30), at(today, 9, 0), f.omar);
    TestMainWindow w(f.db.services);
    w.Form_Load();
    w.mView_DateClick(QDateTime(today.addDays(7 * weeksAway), QTime(0, 0)));
    auto *templates = control<QListWidget>(w, "lstEventTemplates");
    templates->setCurrentRow(1);
    QStringList shown;
    f.db.modal().steps.enqueue([&](QDialog &d) {
        // Written by another copy: seen now only if the week is read again.
        const QDate middle = w.weekDate().date();
        f.db.addEvent("Written elsewhere", at(middle, 5, 0), at(middle, 6, 0), f.jane);
        if (window == "moved") {
            for (const char *date : {"dtStartDate", "dtEndDate"})
                control<QDateEdit>(d, date)->setDate(today.addDays(14));
        }
        if (window != "templates") {
            retype(notes(d), "saved here");
        } else {
            press(d, "addNewEvent");
            retype(titleList(d), "Rondo");
        }
        press(d, "saveAndClose");
        QTreeWidget *day = eventList(w.dayPanel(3));
        for (int i = 0; window != "templates" && i < day->topLevelItemCount(); ++i)
            shown << day->topLevelItem(i)->text(0);
        for (int i = 0; window == "templates" && i < templates->count(); ++i)
            shown << templates->item(i)->text();
    });
    if (window == "moved")
        clickEntry(eventList(w.dayPanel(3)), 0, true);
    else
        control<QAction>(w, window == "editor" ? "mnuNewAppointment" : "mnuPredefinedEvents")->trigger();
    QCOMPARE(f.db.modal().shownNames.size(), 1);
    QCOMPARE(shown, followed);
    QCOMPARE(templates->currentItem()->text(), QStringLiteral("Sprints"));
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_EditorOpenings)
#include "tst_editoropenings.moc"
