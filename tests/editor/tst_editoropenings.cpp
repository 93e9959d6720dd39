#include "EditorDriver.h"

#include "editor/frmEventEditor.h"
#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QDragEnterEvent>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>

using namespace driver;

namespace {

// Chooses a popup entry instead of opening the popup at the mouse.
class TestMainWindow : public frmEventsMain
{
public:
    using frmEventsMain::frmEventsMain;
    QString choose;

    void showPopup(QMenu *menu, const QPoint &) override
    {
        if (auto *action = menu->findChild<QAction *>(choose))
            action->trigger();
    }
};

QTreeWidget *eventList(ctlWeekDayView *panel)
{
    return panel->findChild<QTreeWidget *>("lvEventList");
}

QStringList listed(ctlWeekDayView *panel)
{
    QStringList out;
    for (int i = 0; i < eventList(panel)->topLevelItemCount(); ++i)
        out << eventList(panel)->topLevelItem(i)->text(0);
    return out;
}

// Offscreen has no real drag and drop: hand the day the events a drop brings.
bool dropTemplate(QWidget *target, const QString &title)
{
    QMimeData mime;
    mime.setData(ctlWeekDayView::templateMimeType(), QByteArray());
    mime.setText(title);
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &move);
    QDropEvent drop(pos, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

void selectTemplate(frmEventsMain &w, int row)
{
    auto *list = w.findChild<QListWidget *>("lstEventTemplates");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    QCOMPARE(list->currentRow(), row);
}

struct Fixture
{
    TestDatabase db;
    int passing = db.addTemplate("Passing drill", "Pairs pass over 10 yards.");
    int sprints = db.addTemplate("Sprints", "6 x 40 yards");
    int coolDown = db.addTemplate("Cool-down", "Easy jog");
    int jane = db.addStaff("Jane Coachwright", "");
    int omar = db.addStaff("Omar Field", "");
};

} // namespace

class tst_EditorOpenings : public QObject
{
    Q_OBJECT

private slots:
    void newEvent_data();
    void newEvent();
    void doubleClickOpensStoredEvent();
    void dropWithoutTemplatesDoesNothing();
    void twoEditorsInARow();
};

void tst_EditorOpenings::newEvent_data()
{
    QTest::addColumn<QString>("how");          // "menu", "popup", "drop on panel", "drop on list"
    QTest::addColumn<int>("panel");
    QTest::addColumn<QDate>("clicked");        // invalid: the week of start-up
    QTest::addColumn<int>("templateRow");      // selected in the main window's list before a drop
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("words");
    QTest::newRow("Insert menu") << "menu" << -1 << QDate() << 0 << "Passing drill" << "Pairs pass over 10 yards.";
    QTest::newRow("popup Insert, day without events") << "popup" << 0 << QDate() << 0 << "Passing drill"
                                                      << "Pairs pass over 10 yards.";
    QTest::newRow("popup Insert after a date click, month end") << "popup" << 5 << QDate(2027, 2, 27) << 0
                                                                << "Passing drill" << "Pairs pass over 10 yards.";
    QTest::newRow("drop on a panel") << "drop on panel" << 6 << QDate() << 1 << "Sprints" << "6 x 40 yards";
    QTest::newRow("drop on a day's list, leap day") << "drop on list" << 4 << QDate(2028, 2, 28) << 2 << "Cool-down"
                                                    << "Easy jog";
}

void tst_EditorOpenings::newEvent()
{
    QFETCH(QString, how);
    QFETCH(int, panel);
    QFETCH(QDate, clicked);
    QFETCH(int, templateRow);
    QFETCH(QString, title);
    QFETCH(QString, words);
    Fixture f;
    TestMainWindow w(f.db.services);
    w.Form_Load();
    if (clicked.isValid())
        w.mView_DateClick(QDateTime(clicked, QTime(0, 0)));
    const QDateTime expected = panel < 0 ? QDateTime(QDate::currentDate(), QTime(0, 0))
                                         : w.weekDate().addDays(panel - 3);
    const QDate shownDay = panel < 0 ? QDate::currentDate() : expected.date();
    if (how == "popup" && panel == 5)
        f.db.addEvent("Already there", QDateTime(shownDay, QTime(7, 0), Qt::UTC),
                      QDateTime(shownDay, QTime(8, 0), Qt::UTC), f.jane);

    bool inspected = false;
    f.db.modal().steps.enqueue([&](QDialog &dialog) {
        auto *editor = qobject_cast<frmEventEditor *>(&dialog);
        QVERIFY(editor);
        inspected = true;
        QCOMPARE(editor->parentWidget(), &w);
        QCOMPARE(titleList(*editor)->currentText(), title);
        QCOMPARE(description(*editor)->toPlainText(), words);
        // The date handed over, with its time of day, as wall-clock time.
        QCOMPARE(startDate(*editor)->date(), expected.date());
        QCOMPARE(startDate(*editor)->dateTime().time(), expected.time());
        QCOMPARE(endDate(*editor)->date(), expected.date());
        QCOMPARE(endDate(*editor)->dateTime().time(), expected.time());
        QCOMPARE(startTime(*editor)->time(), QTime(12, 0));
        QCOMPARE(endTime(*editor)->time(), QTime(12, 0));
        QCOMPARE(staffList(*editor)->currentText(), QStringLiteral("Jane Coachwright"));
        QVERIFY(notes(*editor)->toPlainText().isEmpty());
        QVERIFY(!editor->isExistingRecord());
        retype(notes(*editor), "from the opening");
        press(*editor, "saveAndClose");
        QVERIFY(!editor->isVisible());
    });

    if (how == "menu") {
        w.findChild<QAction *>("mnuNewAppointment")->trigger();
    } else if (how == "popup") {
        w.choose = "popAddAppointment";
        QTest::mousePress(eventList(w.dayPanel(panel))->viewport(), Qt::RightButton);
    } else {
        selectTemplate(w, templateRow);
        QWidget *target = how == "drop on list" ? eventList(w.dayPanel(panel))->viewport()
                                                : static_cast<QWidget *>(w.dayPanel(panel));
        QVERIFY(dropTemplate(target, title));
    }
    if (QTest::currentTestFailed())
        return; // a check inside the editor step failed
    QVERIFY(inspected);
    QCOMPARE(f.db.modal().shownNames, QStringList("frmEventEditor"));
    QVERIFY(f.db.prompt().shown.isEmpty());

    // Saved at noon on the day handed over, and the week shows it.
    QCOMPARE(f.db.scalar("SELECT EventTime FROM tblScheduledEvents WHERE Notes = 'from the opening'").toString(),
             shownDay.toString("yyyy-MM-dd") + " 12:00:00");
    if (panel >= 0)
        QVERIFY(listed(w.dayPanel(panel)).contains("12:00 " + title));
}

void tst_EditorOpenings::doubleClickOpensStoredEvent()
{
    Fixture f;
    const QDate today = QDate::currentDate();
    const int id = f.db.addEvent("Match prep", QDateTime(today, QTime(7, 30), Qt::UTC),
                                 QDateTime(today, QTime(9, 0), Qt::UTC), f.omar, "Shape", "Bibs");
    TestMainWindow w(f.db.services);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTreeWidget *list = eventList(w.dayPanel(3));
    QCOMPARE(listed(w.dayPanel(3)), QStringList("07:30 Match prep"));

    f.db.modal().steps.enqueue([&](QDialog &dialog) {
        auto *editor = qobject_cast<frmEventEditor *>(&dialog);
        QVERIFY(editor);
        QVERIFY(editor->isExistingRecord());
        QCOMPARE(editor->currentEventId(), id);
        QCOMPARE(titleList(*editor)->count(), 1);
        QCOMPARE(titleList(*editor)->currentText(), QStringLiteral("Match prep"));
        QCOMPARE(description(*editor)->toPlainText(), QStringLiteral("Shape"));
        QCOMPARE(startDate(*editor)->date(), today);
        QCOMPARE(startTime(*editor)->time(), QTime(7, 30));
        QCOMPARE(endTime(*editor)->time(), QTime(9, 0));
        QCOMPARE(staffList(*editor)->currentText(), QStringLiteral("Omar Field"));
        retype(titleList(*editor), "Match prep, revised");
        press(*editor, "saveAndClose");
    });
    const QPoint entry = list->visualItemRect(list->topLevelItem(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entry);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(f.db.modal().shownNames, QStringList("frmEventEditor"));
    QCOMPARE(f.db.count("tblScheduledEvents"), 1);
    QCOMPARE(listed(w.dayPanel(3)), QStringList("07:30 Match prep, revised"));
}

void tst_EditorOpenings::dropWithoutTemplatesDoesNothing()
{
    TestDatabase db;
    db.addStaff("Jane Coachwright", "");
    TestMainWindow w(db.services);
    w.Form_Load();
    QCOMPARE(w.findChild<QListWidget *>("lstEventTemplates")->count(), 0);
    dropTemplate(w.dayPanel(2), QString());
    QVERIFY(db.modal().shownNames.isEmpty());
    QVERIFY(db.prompt().shown.isEmpty());
    QCOMPARE(db.count("tblScheduledEvents"), 0);
}

void tst_EditorOpenings::twoEditorsInARow()
{
    Fixture f;
    TestMainWindow w(f.db.services);
    w.Form_Load();
    const QDate today = QDate::currentDate();

    f.db.modal().steps.enqueue([&](QDialog &dialog) {
        retype(titleList(dialog), "Abandoned");
        retype(description(dialog), "Abandoned");
        retype(notes(dialog), "Abandoned");
        pick(staffList(dialog), 1);
        startTime(dialog)->setTime(QTime(6, 15));
        // Meanwhile another event lands on today; the week reload must show it.
        f.db.addEvent("Added elsewhere", QDateTime(today, QTime(5, 0), Qt::UTC),
                      QDateTime(today, QTime(6, 0), Qt::UTC), f.jane);
        dialog.close(); // the close box
    });
    f.db.modal().steps.enqueue([&](QDialog &dialog) {
        QCOMPARE(titleList(dialog)->currentText(), QStringLiteral("Passing drill"));
        QCOMPARE(description(dialog)->toPlainText(), QStringLiteral("Pairs pass over 10 yards."));
        QVERIFY(notes(dialog)->toPlainText().isEmpty());
        QCOMPARE(staffList(dialog)->currentText(), QStringLiteral("Jane Coachwright"));
        QCOMPARE(startTime(dialog)->time(), QTime(12, 0));
    });
    QAction *insert = w.findChild<QAction *>("mnuNewAppointment");
    insert->trigger();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(f.db.count("tblScheduledEvents"), 1);
    QCOMPARE(listed(w.dayPanel(3)), QStringList("05:00 Added elsewhere"));
    insert->trigger();
    QCOMPARE(f.db.modal().shownNames, QStringList({"frmEventEditor", "frmEventEditor"}));
    QVERIFY(f.db.modal().steps.isEmpty());
    QCOMPARE(f.db.count("tblScheduledEvents"), 1);
}

QTEST_MAIN(tst_EditorOpenings)
#include "tst_editoropenings.moc"
