#include "EditorDriver.h"

#include "editor/frmEventEditor.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <QLabel>

#include <ctime>

using namespace driver;

namespace {

const QDate kDay(2026, 12, 5);

QDateTime at(const QDate &d, int h, int m)
{
    return QDateTime(d, QTime(h, m), Qt::UTC);
}

// Three templates and two staff members, as a coaching staff would have.
struct Fixture
{
    TestDatabase db;
    int passing = db.addTemplate("Passing drill", "Pairs pass over 10 yards.\r\nSwitch feet every minute.");
    int sprints = db.addTemplate("Sprints", "6 x 40 yards");
    int coolDown = db.addTemplate("Cool-down", "Easy jog and stretching");
    int jane = db.addStaff("Jane Coachwright", "Head coach");
    int omar = db.addStaff("Omar Field", "Assistant");

    QString stored(const QString &column, int eventId)
    {
        return db.scalar(QStringLiteral("SELECT %1 FROM tblScheduledEvents WHERE idScheduledEvent = %2")
                             .arg(column).arg(eventId)).toString();
    }
    int lastEvent() { return db.scalar("SELECT max(idScheduledEvent) FROM tblScheduledEvents").toInt(); }
};

QStringList entries(QComboBox *combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

} // namespace

class tst_frmEventEditor : public QObject
{
    Q_OBJECT

private slots:
    void window();
    void controls_data();
    void controls();
    void tabOrder();
    void newEventDefaults();
    void chooseTemplate_data();
    void chooseTemplate();
    void typedTitleIsNotAChoice();
    void loadStoredEvent_data();
    void loadStoredEvent();
    void datesStayInAnyTimeZone_data();
    void datesStayInAnyTimeZone();
    void loadFailure_data();
    void loadFailure();
    void save_data();
    void save();
    void apostrophesBecomeBlanks_data();
    void apostrophesBecomeBlanks();
    void failedSaveKeepsWindow_data();
    void failedSaveKeepsWindow();
    void deleteRecord_data();
    void deleteRecord();
    void deleteFailure();
    void printRefused_data();
    void printRefused();
    void printStoredValues();
    void closeBoxWritesNothing();
    void layoutRule_data();
    void layoutRule();
    void layoutFollowsResize();
};

void tst_frmEventEditor::window()
{
    Fixture f;
    QWidget owner;
    owner.setGeometry(60, 50, 700, 500);
    owner.show();
    frmEventEditor editor(f.db.services, &owner);
    QCOMPARE(editor.objectName(), QStringLiteral("frmEventEditor"));
    QCOMPARE(editor.windowTitle(), QStringLiteral("Activity / Drill"));
    QCOMPARE(editor.minimumSize(), QSize(397, 318));
    QCOMPARE(editor.maximumSize(), QSize(397, 318));
    const Qt::WindowFlags flags = editor.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    editor.show();
    QApplication::processEvents();
    const QPoint offset = editor.frameGeometry().center() - owner.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, "not centred on its owner");
}

void tst_frmEventEditor::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("staff caption") << "Label5" << "Staff Member" << QRect(8, 32, 73, 25);
    QTest::newRow("title caption") << "Label1" << "Activity / Drill" << QRect(8, 56, 72, 17);
    QTest::newRow("description caption") << "Label2" << "Description" << QRect(0, 80, 73, 17);
    QTest::newRow("start caption") << "Label3" << "Start time" << QRect(16, 152, 57, 17);
    QTest::newRow("end caption") << "Label4" << "End time" << QRect(16, 184, 57, 25);
    QTest::newRow("notes caption") << "lblNotes" << "NOTES:" << QRect(8, 208, 73, 17);
    QTest::newRow("picture") << "Picture1" << "" << QRect(320, 144, 57, 73);
    QTest::newRow("start date") << "dtStartDate" << "ddd M/dd/yyyy" << QRect(80, 152, 129, 25);
    QTest::newRow("start time") << "dtStartTime" << "h:mm AP" << QRect(208, 152, 89, 25);
    QTest::newRow("end date") << "dtEndDate" << "ddd M/dd/yyyy" << QRect(80, 184, 129, 25);
    QTest::newRow("end time") << "dtEndTime" << "h:mm AP" << QRect(208, 184, 89, 25);
}

void tst_frmEventEditor::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    auto *w = editor.findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->geometry(), geometry);
    if (auto *label = qobject_cast<QLabel *>(w); label && !text.isEmpty()) {
        QCOMPARE(label->text(), text);
        QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= label->width(), "caption is cut short");
    }
    if (auto *picker = qobject_cast<QDateTimeEdit *>(w))
        QCOMPARE(picker->displayFormat(), text);
}

void tst_frmEventEditor::tabOrder()
{
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    editor.show();
    QApplication::setActiveWindow(&editor);
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    titleList(editor)->setFocus();
    const QStringList expected = {"txtDescription", "txtNotes", "dtStartDate", "dtEndDate",
                                  "dtStartTime", "dtEndTime", "cmbPOCs", "cmbPredefinedEvents"};
    for (const QString &name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        while (focus && focus->objectName().isEmpty())
            focus = focus->parentWidget(); // the line edit inside a list or picker
        QVERIFY(focus);
        QCOMPARE(focus->objectName(), name);
    }
}

void tst_frmEventEditor::newEventDefaults()
{
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    QCOMPARE(entries(titleList(editor)), QStringList({"Passing drill", "Sprints", "Cool-down"}));
    QCOMPARE(titleList(editor)->itemData(2).toInt(), f.coolDown);
    QCOMPARE(titleList(editor)->currentText(), QStringLiteral("Passing drill"));
    QCOMPARE(description(editor)->toPlainText(), QStringLiteral("Pairs pass over 10 yards.\nSwitch feet every minute."));
    QCOMPARE(entries(staffList(editor)), QStringList({"Jane Coachwright", "Omar Field"}));
    QCOMPARE(staffList(editor)->currentText(), QStringLiteral("Jane Coachwright"));
    QCOMPARE(startTime(editor)->time(), QTime(12, 0));
    QCOMPARE(endTime(editor)->time(), QTime(12, 0));
    QCOMPARE(startTime(editor)->text(), QStringLiteral("12:00 PM"));
    QVERIFY(notes(editor)->toPlainText().isEmpty());
    QVERIFY(!editor.isExistingRecord());
    QCOMPARE(editor.currentEventId(), -1);
    QCOMPARE(editor.connectionString(), f.db.connectionString());
}

void tst_frmEventEditor::chooseTemplate_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("byKeys");
    QTest::addColumn<QString>("expected");
    QTest::newRow("third, by mouse") << 2 << false << "Easy jog and stretching";
    QTest::newRow("third, by arrow keys") << 2 << true << "Easy jog and stretching";
    QTest::newRow("first again reloads its text") << 0 << false << "Pairs pass over 10 yards.\nSwitch feet every minute.";
}

void tst_frmEventEditor::chooseTemplate()
{
    QFETCH(int, row);
    QFETCH(bool, byKeys);
    QFETCH(QString, expected);
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    editor.setStartDate(at(kDay, 0, 0));
    editor.setEndDate(at(kDay.addDays(1), 0, 0));
    editor.show();
    retype(description(editor), "my own words");
    retype(notes(editor), "bring cones");
    pick(staffList(editor), 1);
    if (byKeys) {
        titleList(editor)->setFocus();
        for (int i = 0; i < row; ++i)
            QTest::keyClick(titleList(editor), Qt::Key_Down);
    } else {
        pick(titleList(editor), row);
    }
    QCOMPARE(titleList(editor)->currentIndex(), row);
    QCOMPARE(description(editor)->toPlainText(), expected);
    QCOMPARE(notes(editor)->toPlainText(), QStringLiteral("bring cones"));
    QCOMPARE(startDate(editor)->date(), kDay);
    QCOMPARE(endDate(editor)->date(), kDay.addDays(1));
    QCOMPARE(startTime(editor)->time(), QTime(12, 0));
    QCOMPARE(staffList(editor)->currentText(), QStringLiteral("Omar Field"));
}

void tst_frmEventEditor::typedTitleIsNotAChoice()
{
    // Typing a template's title is a title, not a pick: the description stays.
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    editor.show();
    retype(description(editor), "kept");
    retype(titleList(editor), "Sprints");
    QTest::keyClick(titleList(editor)->lineEdit(), Qt::Key_Return);
    QTest::keyClick(titleList(editor)->lineEdit(), Qt::Key_Tab);
    QCOMPARE(description(editor)->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(titleList(editor)->currentText(), QStringLiteral("Sprints"));
}

void tst_frmEventEditor::loadStoredEvent_data()
{
    QTest::addColumn<int>("eventId");
    QTest::addColumn<int>("staffId"); // 0: the fixture's second member; -1: a deleted member
    QTest::addColumn<bool>("rowExists");
    QTest::newRow("ordinary") << 0 << 0 << true;
    QTest::newRow("staff member deleted") << 0 << -1 << true;
    QTest::newRow("keys past 32767") << 40000 << 40001 << true;
    QTest::newRow("no such event") << 0 << 0 << false;
}

void tst_frmEventEditor::loadStoredEvent()
{
    QFETCH(int, eventId);
    QFETCH(int, staffId);
    QFETCH(bool, rowExists);
    Fixture f;
    if (staffId > 0)
        f.db.exec(QStringLiteral("INSERT INTO tblPOCs(idPOC, pocName, pocDescription) VALUES(%1, 'Pat Far', '')").arg(staffId));
    const int staff = staffId == 0 ? f.omar : staffId;
    int id = f.db.addEvent("Match prep", at(kDay, 9, 5), at(kDay.addDays(1), 17, 45), staffId == -1 ? 999 : staff,
                           "Line one\r\nLine two", "Bring bibs");
    if (eventId) {
        f.db.exec(QStringLiteral("UPDATE tblScheduledEvents SET idScheduledEvent = %1").arg(eventId));
        id = eventId;
    }
    if (!rowExists)
        f.db.exec("DELETE FROM tblScheduledEvents");

    frmEventEditor editor(f.db.services, nullptr);
    editor.loadScheduledEvent(id);
    QVERIFY(f.db.prompt().shown.isEmpty());
    QVERIFY(editor.isExistingRecord());
    QCOMPARE(editor.currentEventId(), id);
    if (!rowExists) {
        QCOMPARE(titleList(editor)->count(), 0);
        QVERIFY(titleList(editor)->currentText().isEmpty());
        QVERIFY(description(editor)->toPlainText().isEmpty());
        return;
    }
    QCOMPARE(entries(titleList(editor)), QStringList("Match prep"));
    QCOMPARE(titleList(editor)->itemData(0).toInt(), id);
    QCOMPARE(description(editor)->toPlainText(), QStringLiteral("Line one\nLine two"));
    QCOMPARE(notes(editor)->toPlainText(), QStringLiteral("Bring bibs"));
    QCOMPARE(startDate(editor)->date(), kDay);
    QCOMPARE(startTime(editor)->time(), QTime(9, 5));
    QCOMPARE(endDate(editor)->date(), kDay.addDays(1));
    QCOMPARE(endTime(editor)->time(), QTime(17, 45));
    QCOMPARE(staffList(editor)->currentText(), staffId == -1 ? QStringLiteral("Jane Coachwright")
                                                             : staffList(editor)->itemText(staffList(editor)->findData(staff)));

    // Picking its own entry again must not pull in a template's description.
    editor.show();
    pick(titleList(editor), 0);
    QCOMPARE(description(editor)->toPlainText(), QStringLiteral("Line one\nLine two"));

    // Saved untouched, the row reads back the same, line breaks included.
    press(editor, "saveAndClose");
    QCOMPARE(f.stored("Description", id), QStringLiteral("Line one\r\nLine two"));
    QCOMPARE(f.stored("EventTime", id), QStringLiteral("2026-12-05 09:05:00"));
    QCOMPARE(f.stored("EventTimeEnd", id), QStringLiteral("2026-12-06 17:45:00"));
    QCOMPARE(f.stored("idPOC", id).toInt(), staffId == -1 ? f.jane : staff);
    QCOMPARE(f.db.count("tblScheduledEvents"), 1);
}

void tst_frmEventEditor::datesStayInAnyTimeZone_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("east of UTC") << QByteArray("Asia/Tokyo");
    QTest::newRow("west of UTC") << QByteArray("America/New_York");
    QTest::newRow("fourteen hours ahead") << QByteArray("Pacific/Kiritimati");
}

void tst_frmEventEditor::datesStayInAnyTimeZone()
{
    QFETCH(QByteArray, zone);
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    struct Restore
    {
        QByteArray tz;
        ~Restore()
        {
            qputenv("TZ", tz);
            tzset();
        }
    } restore{saved};

    Fixture f;
    const int id = f.db.addEvent("Early", at(kDay, 0, 30), at(kDay, 23, 45), f.jane);
    frmEventEditor editor(f.db.services, nullptr);
    editor.loadScheduledEvent(id);
    QCOMPARE(startDate(editor)->date(), kDay);
    QCOMPARE(endDate(editor)->date(), kDay);
    // The main window hands over local dates with a time of day.
    editor.setStartDate(QDateTime(kDay.addDays(1), QTime(0, 10)));
    editor.setEndDate(QDateTime(kDay.addDays(1), QTime(23, 50)));
    QCOMPARE(startDate(editor)->date(), kDay.addDays(1));
    QCOMPARE(endDate(editor)->date(), kDay.addDays(1));
    editor.show();
    press(editor, "saveAndClose");
    QCOMPARE(f.stored("EventTime", id), QStringLiteral("2026-12-06 00:30:00"));
    QCOMPARE(f.stored("EventTimeEnd", id), QStringLiteral("2026-12-06 23:45:00"));
}

void tst_frmEventEditor::loadFailure_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("NULL notes") << "UPDATE tblScheduledEvents SET Notes = NULL";
    QTest::newRow("start is no date") << "UPDATE tblScheduledEvents SET EventTime = 'soon'";
    QTest::newRow("table gone") << "DROP TABLE tblScheduledEvents";
}

void tst_frmEventEditor::loadFailure()
{
    QFETCH(QString, damage);
    Fixture f;
    const int id = f.db.addEvent("Match prep", at(kDay, 9, 0), at(kDay, 10, 0), f.jane, "desc", "notes");
    f.db.exec(damage);
    frmEventEditor editor(f.db.services, nullptr);
    editor.loadScheduledEvent(id);
    QCOMPARE(f.db.prompt().shown.size(), 1);
    const FakePrompt::Shown box = f.db.prompt().shown.first();
    QVERIFY2(box.text.startsWith("An error occured while loading the record.\r\n"), qPrintable(box.text));
    QVERIFY(box.text.size() > int(strlen("An error occured while loading the record.\r\n")));
    QCOMPARE(box.icon, Prompt::Icon::Critical);
    QCOMPARE(box.title, QStringLiteral("Orvenna"));
    QVERIFY(!editor.isExistingRecord());
    QCOMPARE(editor.currentEventId(), -1);
}

void tst_frmEventEditor::save_data()
{
    QTest::addColumn<bool>("stored");
    QTest::newRow("new event inserts") << false;
    QTest::newRow("stored event updates") << true;
}

void tst_frmEventEditor::save()
{
    QFETCH(bool, stored);
    Fixture f;
    const int other = f.db.addEvent("Other", at(kDay, 8, 0), at(kDay, 9, 0), f.jane, "o", "o");
    const int id = stored ? f.db.addEvent("Old", at(kDay, 8, 0), at(kDay, 9, 0), f.jane, "d", "n") : -1;
    const int before = f.db.count("tblScheduledEvents");

    frmEventEditor editor(f.db.services, nullptr);
    if (stored)
        editor.loadScheduledEvent(id);
    editor.setStartDate(at(QDate(2027, 3, 14), 0, 0));
    editor.setEndDate(at(QDate(2027, 3, 15), 0, 0));
    editor.show();
    retype(titleList(editor), "Set pieces");
    retype(description(editor), "Corners\nFree kicks");
    retype(notes(editor), "");
    startTime(editor)->setTime(QTime(14, 30, 59));
    endTime(editor)->setTime(QTime(9, 5));
    pick(staffList(editor), 1);
    press(editor, "saveAndClose");

    QVERIFY(f.db.prompt().shown.isEmpty());
    QVERIFY(!editor.isVisible());
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QCOMPARE(f.db.count("tblScheduledEvents"), stored ? before : before + 1);
    const int row = stored ? id : f.lastEvent();
    QCOMPARE(f.stored("title", row), QStringLiteral("Set pieces"));
    QCOMPARE(f.stored("Description", row), QStringLiteral("Corners\r\nFree kicks"));
    QCOMPARE(f.stored("Notes", row), QString(""));
    QVERIFY(!f.db.scalar(QStringLiteral("SELECT Notes IS NULL FROM tblScheduledEvents WHERE idScheduledEvent = %1").arg(row)).toBool());
    QCOMPARE(f.stored("EventTime", row), QStringLiteral("2027-03-14 14:30:00"));
    QCOMPARE(f.stored("EventTimeEnd", row), QStringLiteral("2027-03-15 09:05:00"));
    QCOMPARE(f.stored("idPOC", row).toInt(), f.omar);
    QCOMPARE(f.stored("title", other), QStringLiteral("Other"));
}

void tst_frmEventEditor::apostrophesBecomeBlanks_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("column");
    QTest::newRow("title") << "cmbPredefinedEvents" << "title";
    QTest::newRow("description") << "txtDescription" << "Description";
    QTest::newRow("notes") << "txtNotes" << "Notes";
}

void tst_frmEventEditor::apostrophesBecomeBlanks()
{
    QFETCH(QString, field);
    QFETCH(QString, column);
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    editor.show();
    QWidget *w = editor.findChild<QWidget *>(field);
    if (auto *combo = qobject_cast<QComboBox *>(w))
        retype(combo, "Coach's drill");
    else
        retype(qobject_cast<QPlainTextEdit *>(w), "Coach's drill");
    press(editor, "saveAndClose");
    QCOMPARE(f.stored(column, f.lastEvent()), QStringLiteral("Coach s drill"));
}

void tst_frmEventEditor::failedSaveKeepsWindow_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("staffTyped");  // empty: keep the selection
    QTest::addColumn<QString>("damage");      // run before saving
    QTest::addColumn<QString>("repair");      // run before saving again; empty: no second try
    QTest::addColumn<QString>("firstLine");
    const QString refuseInsert = "CREATE TRIGGER refuse BEFORE INSERT ON tblScheduledEvents "
                                 "BEGIN SELECT RAISE(ABORT, 'disk is write-protected'); END";
    const QString refuseUpdate = "CREATE TRIGGER refuse BEFORE UPDATE ON tblScheduledEvents "
                                 "BEGIN SELECT RAISE(ABORT, 'disk is write-protected'); END";
    const QString insertLine = "An error occured while adding a new record";
    const QString updateLine = "An error occured while updating the record";
    QTest::newRow("empty staff table") << false << "" << "DELETE FROM tblPOCs" << "" << insertLine;
    QTest::newRow("staff name typed, new") << false << "Nobody Known" << "" << "" << insertLine;
    QTest::newRow("staff name typed, stored") << true << "Jane" << "" << "" << updateLine;
    QTest::newRow("insert refused by store") << false << "" << refuseInsert << "DROP TRIGGER refuse" << insertLine;
    QTest::newRow("update refused by store") << true << "" << refuseUpdate << "DROP TRIGGER refuse" << updateLine;
    QTest::newRow("column renamed") << false << ""
                                    << "ALTER TABLE tblScheduledEvents RENAME COLUMN Notes TO Remarks"
                                    << "ALTER TABLE tblScheduledEvents RENAME COLUMN Remarks TO Notes" << insertLine;
}

void tst_frmEventEditor::failedSaveKeepsWindow()
{
    QFETCH(bool, stored);
    QFETCH(QString, staffTyped);
    QFETCH(QString, damage);
    QFETCH(QString, repair);
    QFETCH(QString, firstLine);
    Fixture f;
    const int id = stored ? f.db.addEvent("Old", at(kDay, 8, 0), at(kDay, 9, 0), f.jane, "d", "n") : -1;
    if (damage.startsWith("DELETE"))
        f.db.exec(damage);
    frmEventEditor editor(f.db.services, nullptr);
    if (stored)
        editor.loadScheduledEvent(id);
    editor.show();
    retype(titleList(editor), "Typed title");
    retype(notes(editor), "Typed notes");
    if (!staffTyped.isEmpty())
        retype(staffList(editor), staffTyped);
    if (!damage.isEmpty() && !damage.startsWith("DELETE"))
        f.db.exec(damage);
    const int rows = f.db.count("tblScheduledEvents");
    press(editor, "saveAndClose");

    QCOMPARE(f.db.prompt().shown.size(), 1);
    const FakePrompt::Shown box = f.db.prompt().shown.first();
    QVERIFY2(box.text.startsWith(firstLine + "\r\n"), qPrintable(box.text));
    QVERIFY(box.text.size() > firstLine.size() + 2);
    QCOMPARE(box.icon, Prompt::Icon::Critical);
    QCOMPARE(box.buttons, Prompt::Buttons::Ok);
    QCOMPARE(box.title, QStringLiteral("Orvenna"));
    QVERIFY(editor.isVisible());
    QCOMPARE(titleList(editor)->currentText(), QStringLiteral("Typed title"));
    QCOMPARE(notes(editor)->toPlainText(), QStringLiteral("Typed notes"));
    QCOMPARE(f.db.count("tblScheduledEvents"), rows);
    if (stored)
        QCOMPARE(f.stored("title", id), QStringLiteral("Old"));

    if (repair.isEmpty())
        return;
    f.db.exec(repair);
    press(editor, "saveAndClose");
    QCOMPARE(f.db.prompt().shown.size(), 1);
    QVERIFY(!editor.isVisible());
    QCOMPARE(f.stored("title", stored ? id : f.lastEvent()), QStringLiteral("Typed title"));
}

void tst_frmEventEditor::deleteRecord_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("yes");
    QTest::newRow("stored, answered No") << true << false;
    QTest::newRow("stored, answered Yes") << true << true;
    QTest::newRow("never stored, answered No") << false << false;
    QTest::newRow("never stored, answered Yes") << false << true;
}

void tst_frmEventEditor::deleteRecord()
{
    QFETCH(bool, stored);
    QFETCH(bool, yes);
    Fixture f;
    // Event 1 shares its key with the first template: a new event's title
    // list carries that template's key, which must never reach a delete.
    const int first = f.db.addEvent("Keep me", at(kDay, 8, 0), at(kDay, 9, 0), f.jane);
    QCOMPARE(first, f.passing);
    const int id = f.db.addEvent("Old one", at(kDay, 10, 0), at(kDay, 11, 0), f.jane);
    frmEventEditor editor(f.db.services, nullptr);
    if (stored)
        editor.loadScheduledEvent(id);
    editor.show();
    retype(titleList(editor), "Shown title");
    f.db.prompt().answers.enqueue(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    press(editor, "deleteRecord");

    QCOMPARE(f.db.prompt().shown.size(), 1);
    const FakePrompt::Shown box = f.db.prompt().shown.first();
    QCOMPARE(box.text, QStringLiteral("Are you sure you want to delete the event 'Shown title'?"));
    QCOMPARE(box.icon, Prompt::Icon::Question);
    QCOMPARE(box.buttons, Prompt::Buttons::YesNo);
    QCOMPARE(box.title, QStringLiteral("Orvenna"));
    QCOMPARE(editor.isVisible(), !yes);
    QCOMPARE(f.db.count("tblScheduledEvents"), stored && yes ? 1 : 2);
    QCOMPARE(f.stored("title", first), QStringLiteral("Keep me"));
}

void tst_frmEventEditor::deleteFailure()
{
    Fixture f;
    const int id = f.db.addEvent("Old one", at(kDay, 10, 0), at(kDay, 11, 0), f.jane);
    frmEventEditor editor(f.db.services, nullptr);
    editor.loadScheduledEvent(id);
    editor.show();
    f.db.exec("CREATE TRIGGER refuse BEFORE DELETE ON tblScheduledEvents BEGIN SELECT RAISE(ABORT, 'locked'); END");
    press(editor, "deleteRecord");
    QCOMPARE(f.db.prompt().shown.size(), 2);
    const FakePrompt::Shown box = f.db.prompt().shown.at(1);
    QVERIFY2(box.text.startsWith("An error occured while deleting the record\r\n"), qPrintable(box.text));
    QVERIFY(box.text.contains("locked"));
    QCOMPARE(box.icon, Prompt::Icon::Critical);
    QCOMPARE(f.db.count("tblScheduledEvents"), 1);
}

void tst_frmEventEditor::printRefused_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("icon");
    const QString loading = "An error occured while loading the record.\r\n";
    QTest::newRow("new event") << "new" << "Please save first" << int(Prompt::Icon::Information);
    QTest::newRow("load failed, still new") << "broken" << "Please save first" << int(Prompt::Icon::Information);
    QTest::newRow("store file gone") << "gone" << loading << int(Prompt::Icon::Critical);
}

void tst_frmEventEditor::printRefused()
{
    QFETCH(QString, state);
    QFETCH(QString, message);
    QFETCH(int, icon);
    Fixture f;
    const int id = f.db.addEvent("Old one", at(kDay, 10, 0), at(kDay, 11, 0), f.jane, "d", "n");
    if (state == "broken")
        f.db.exec("UPDATE tblScheduledEvents SET title = NULL");
    frmEventEditor editor(f.db.services, nullptr);
    if (state != "new")
        editor.loadScheduledEvent(id);
    editor.show();
    if (state == "gone")
        QVERIFY(QFile::remove(f.db.path()));
    f.db.prompt().shown.clear();
    press(editor, "printEvent");

    QCOMPARE(f.db.prompt().shown.size(), 1);
    const FakePrompt::Shown box = f.db.prompt().shown.first();
    QVERIFY2(box.text.startsWith(message), qPrintable(box.text));
    if (state == "gone")
        QVERIFY(box.text.size() > message.size());
    else
        QCOMPARE(box.text, message);
    QCOMPARE(int(box.icon), icon);
    QCOMPARE(box.buttons, Prompt::Buttons::Ok);
    QCOMPARE(box.title, QStringLiteral("Orvenna"));
    QVERIFY(f.db.modal().shownNames.isEmpty());
    QVERIFY(!QFile::exists(f.db.folder() + "/printEvent.html"));
    QVERIFY(editor.isVisible());
}

void tst_frmEventEditor::printStoredValues()
{
    Fixture f;
    const int id = f.db.addEvent("Stored title", at(kDay, 10, 0), at(kDay, 11, 0), f.jane, "Stored words", "Stored notes");
    frmEventEditor editor(f.db.services, nullptr);
    editor.loadScheduledEvent(id);
    editor.show();
    retype(titleList(editor), "Unsaved title");
    retype(notes(editor), "Unsaved notes");
    press(editor, "printEvent");

    QCOMPARE(f.db.modal().shownNames, QStringList("frmPrint"));
    QFile report(f.db.folder() + "/printEvent.html");
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(report.readAll());
    QVERIFY(html.contains("Stored title"));
    QVERIFY(html.contains("Stored notes"));
    QVERIFY(!html.contains("Unsaved"));
    QVERIFY(f.db.prompt().shown.isEmpty());
    QVERIFY(editor.isVisible());
    QCOMPARE(titleList(editor)->currentText(), QStringLiteral("Unsaved title"));
}

void tst_frmEventEditor::closeBoxWritesNothing()
{
    Fixture f;
    const int id = f.db.addEvent("Old one", at(kDay, 10, 0), at(kDay, 11, 0), f.jane, "d", "n");
    frmEventEditor editor(f.db.services, nullptr);
    editor.loadScheduledEvent(id);
    editor.show();
    retype(titleList(editor), "Changed");
    retype(notes(editor), "Changed");
    // A stray Escape does not throw the typing away.
    QTest::keyClick(notes(editor), Qt::Key_Escape);
    QVERIFY(editor.isVisible());
    editor.close();
    QVERIFY(!editor.isVisible());
    QCOMPARE(editor.result(), int(QDialog::Rejected));
    QCOMPARE(f.db.count("tblScheduledEvents"), 1);
    QCOMPARE(f.stored("title", id), QStringLiteral("Old one"));
    QCOMPARE(f.stored("Notes", id), QStringLiteral("n"));
    QVERIFY(f.db.prompt().shown.isEmpty());
}

void tst_frmEventEditor::layoutRule_data()
{
    // Outer sizes in pixels; the window's frame is added on top of the client area.
    QTest::addColumn<QSize>("outer");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<bool>("notesHeightApplied");
    QTest::newRow("as designed") << QSize() << true << true;
    QTest::newRow("199 wide") << QSize(199, 400) << false << false;
    QTest::newRow("200 wide") << QSize(200, 400) << true << true;
    QTest::newRow("lower than the notes") << QSize(420, 223) << false << false;
    QTest::newRow("notes height would be negative") << QSize(420, 263) << true << false;
    QTest::newRow("notes height zero") << QSize(420, 264) << true << true;
    QTest::newRow("tall and wide") << QSize(600, 520) << true << true;
}

void tst_frmEventEditor::layoutRule()
{
    QFETCH(QSize, outer);
    QFETCH(bool, applied);
    QFETCH(bool, notesHeightApplied);
    Fixture f;
    QMargins frame;
    {
        frmEventEditor probe(f.db.services, nullptr);
        probe.show();
        QApplication::processEvents();
        const QRect o = probe.frameGeometry(), g = probe.geometry();
        frame = QMargins(g.left() - o.left(), g.top() - o.top(), o.right() - g.right(), o.bottom() - g.bottom());
    }
    frmEventEditor editor(f.db.services, nullptr);
    if (outer.isValid())
        editor.setFixedSize(outer.shrunkBy(frame));
    editor.show();
    QApplication::processEvents();
    const int w = editor.frameGeometry().width();
    const int h = editor.frameGeometry().height();
    if (outer.isValid())
        QCOMPARE(QSize(w, h), outer);

    const struct { const char *name; QRect design; } stretched[] = {
        {"cmbPredefinedEvents", QRect(80, 56, 305, 19)}, {"txtDescription", QRect(80, 80, 305, 57)},
        {"cmbPOCs", QRect(80, 32, 305, 19)}, {"txtNotes", QRect(8, 224, 377, 89)}};
    for (const auto &s : stretched) {
        const QRect g = editor.findChild<QWidget *>(s.name)->geometry();
        QCOMPARE(g.topLeft(), s.design.topLeft());
        QCOMPARE(g.x() + g.width(), applied ? w - 30 : s.design.x() + s.design.width());
    }
    const QRect n = notes(editor)->geometry();
    QCOMPARE(n.y() + n.height(), notesHeightApplied ? h - 40 : 224 + 89);
    QCOMPARE(description(editor)->height(), 57);
}

void tst_frmEventEditor::layoutFollowsResize()
{
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    editor.show();
    editor.setFixedSize(500, 450);
    QApplication::processEvents();
    const QRect outer = editor.frameGeometry();
    QCOMPARE(notes(editor)->x() + notes(editor)->width(), outer.width() - 30);
    QCOMPARE(notes(editor)->y() + notes(editor)->height(), outer.height() - 40);
    QCOMPARE(staffList(editor)->x() + staffList(editor)->width(), outer.width() - 30);
}

QTEST_MAIN(tst_frmEventEditor)
#include "tst_frmEventEditor.moc"
