#include "EditorDriver.h"

#include "editor/frmEventEditor.h"

#include <QAccessible>

#include <ctime>

using namespace driver;

static const QDate kDay(2026, 12, 5);

class tst_frmEventEditor : public QObject
{
    Q_OBJECT

private slots:
    void edit_data();
    void edit();
    void toolbar_data();
    void toolbar();
    void layoutRule_data();
    void layoutRule();
    void tabRing();
};

// The window opens on the title; Tab goes round the fields in their order, then the toolbar's buttons, and back; Shift+Tab the other way.
void tst_frmEventEditor::tabRing()
{
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    editor.show();
    editor.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    // It opens on the first field.
    QCOMPARE(QApplication::focusWidget(), titleList(editor));
    const QStringList ring{"cmbPredefinedEvents", "txtDescription", "txtNotes", "dtStartDate", "dtEndDate",
                           "dtStartTime", "dtEndTime", "cmbPOCs", "saveAndClose", "printEvent", "deleteRecord",
                           "cmbPredefinedEvents"};
    // What a screen reader calls each: its name (a combo box's typing field's,
    // since Linux readers name the box by its value), and the caption that labels it.
    const QStringList spoken{"Activity / Drill (Activity / Drill)", "Description (Description)", "Notes (NOTES:)",
                             "Start date", "End date", "Start time", "End time", "Staff Member (Staff Member)",
                             "Save and Close", "Print", "Delete", "Activity / Drill (Activity / Drill)"};
    for (const bool back : {false, true}) {
        QStringList visited, heard;
        titleList(editor)->setFocus(Qt::TabFocusReason);
        for (int n = 0; n < ring.size(); ++n) {
            QWidget *w = QApplication::focusWidget();
            auto *button = qobject_cast<QToolButton *>(w);
            visited << (button ? button->defaultAction()->objectName() : w->objectName());
            QAccessibleInterface *field = QAccessible::queryAccessibleInterface(w);
            const auto labels = field->relations(QAccessible::Label);
            auto *combo = qobject_cast<QComboBox *>(w);
            const QString name = (combo ? QAccessible::queryAccessibleInterface(combo->lineEdit()) : field)->text(QAccessible::Name);
            // Elsewhere the box itself is named.
            QCOMPARE(combo ? combo->accessibleName() : name, name);
            heard << name
                    + (labels.isEmpty() ? QString() : " (" + labels.first().first->text(QAccessible::Name) + ")");
            QTest::keyClick(w, Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
        }
        QStringList expected = ring, expectedHeard = spoken;
        if (back) {
            std::reverse(expected.begin(), expected.end());
            std::reverse(expectedHeard.begin(), expectedHeard.end());
        }
        QCOMPARE(visited, expected);
        QCOMPARE(heard, expectedHeard);
    }
}

void tst_frmEventEditor::edit_data()
{
    // "new"; "stored"; "staff gone": stored, its staff member deleted; "east of UTC": stored, opened at UTC+14;
    // "null texts": stored, its description and notes NULL as another tool may leave them; "new, null template":
    // new, the third template's description NULL.
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("title"); // typed after description and notes, then left with Return and Tab
    QTest::addColumn<int>("pickTitle"); // then picked from the title list; -1: none
    QTest::addColumn<QString>("saved"); // title|description as stored
    // Typed into pickers, each entered with Tab and left with Tab: "picker=keys;..."; '>' and '<' are Ctrl+Right/Left.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("when"); // start|end as stored
    // Saved with these keys typed into the notes instead of a click on Save and Close; "Tab": Tab to it, Return.
    QTest::addColumn<QString>("saveKeys");
    const QString words = "|Coach s cones\r\nand bibs", noon = "2026-12-05 12:00:00|2026-12-06 12:00:00";
    QTest::newRow("new event inserts, blanks apostrophes") << "new" << "Coach's drill" << -1 << "Coach s drill" + words
                                                           << "" << noon << QString();
    QTest::newRow("stored event updates") << "stored" << "Coach's drill" << -1 << "Coach s drill" + words << ""
                                          << noon << QString();
    QTest::newRow("third template: new description") << "new" << "" << 2 << "Cool-down|Easy jog" << "" << noon << QString();
    QTest::newRow("typed template title loads nothing") << "new" << "Sprints" << -1 << "Sprints" + words << ""
                                                        << noon << QString();
    QTest::newRow("stored event's own entry loads nothing") << "stored" << "" << 0 << "Old" + words << "" << noon << QString();
    QTest::newRow("staff member deleted") << "staff gone" << "" << -1 << "Old" + words << "" << noon << QString();
    QTest::newRow("east of UTC") << "east of UTC" << "" << -1 << "Old" + words << "" << noon << QString();
    // Separators and Ctrl+arrows move between a picker's sections; only Tab leaves it.
    QTest::newRow("whole times typed") << "stored" << "" << -1 << "Old" + words
                                       << "dtStartTime=2:30 AM;dtEndTime=4:05 PM"
                                       << "2026-12-05 02:30:00|2026-12-06 16:05:00" << QString();
    // '@': entered with a click on the hour instead of Tab.
    QTest::newRow("whole time typed after a click") << "new" << "" << -1 << "Passing drill" + words
                                                    << "dtStartTime=@2:30 PM;dtEndTime=@4:05 PM"
                                                    << "2026-12-05 14:30:00|2026-12-06 16:05:00" << QString();
    QTest::newRow("whole dates typed") << "new" << "" << -1 << "Passing drill" + words
                                       << "dtStartDate=11/20/2026;dtEndDate=1/02/2027"
                                       << "2026-11-20 12:00:00|2027-01-02 12:00:00" << QString();
    // A click on the weekday name starts the date at its month, as Tab does.
    QTest::newRow("whole dates typed after a click on the weekday") << "new" << "" << -1 << "Passing drill" + words
                                                                    << "dtStartDate=@11/20/2026;dtEndDate=@1/02/2027"
                                                                    << "2026-11-20 12:00:00|2027-01-02 12:00:00" << QString();
    QTest::newRow("Ctrl+arrows between sections") << "new" << "" << -1 << "Passing drill" + words
                                                  << "dtStartTime=1>45>AM<<<7;dtEndTime=<3"
                                                  << "2026-12-05 07:45:00|2026-12-06 15:00:00" << QString();
    // Two digits typed into the hour are the hour on the 24-hour clock; AM/PM typed after them still counts.
    QTest::newRow("24-hour times typed") << "new" << "" << -1 << "Passing drill" + words
                                         << "dtStartTime=14:30;dtEndTime=23:05"
                                         << "2026-12-05 14:30:00|2026-12-06 23:05:00" << QString();
    QTest::newRow("24-hour morning and midnight") << "stored" << "" << -1 << "Old" + words
                                                  << "dtStartTime=00:15;dtEndTime=09:40"
                                                  << "2026-12-05 00:15:00|2026-12-06 09:40:00" << QString();
    QTest::newRow("24-hour times without a colon") << "new" << "" << -1 << "Passing drill" + words
                                                   << "dtStartTime=1430;dtEndTime=2305"
                                                   << "2026-12-05 14:30:00|2026-12-06 23:05:00" << QString();
    QTest::newRow("two-digit hour, then PM") << "new" << "" << -1 << "Passing drill" + words
                                             << "dtStartTime=10:30 PM;dtEndTime=12:00 AM"
                                             << "2026-12-05 22:30:00|2026-12-06 00:00:00" << QString();
    QTest::newRow("template's NULL description read as empty") << "new, null template" << "" << 2 << "Cool-down|"
                                                               << "" << noon << QString();
    QTest::newRow("NULL description and notes read as empty") << "null texts" << "" << -1 << "Old" + words << ""
                                                              << noon << QString();
    // Saved from the keyboard; an Alt+letter that is no command types nothing.
    QTest::newRow("Ctrl+S saves") << "stored" << "" << -1 << "Old" + words << "" << noon << "Ctrl+S";
    QTest::newRow("Alt+S saves, types nothing") << "new" << "" << -1 << "Passing drill" + words << "" << noon
                                                << "Alt+S";
    QTest::newRow("Alt+letter types nothing") << "stored" << "" << -1 << "Old" + words << "" << noon
                                              << "Alt+X, Alt+U, Ctrl+S";
    QTest::newRow("Tab to Save and Close") << "new" << "Coach's drill" << -1 << "Coach s drill" + words << ""
                                           << noon << "Tab";
}

void tst_frmEventEditor::edit()
{
    QFETCH(QString, event);
    QFETCH(QString, title);
    QFETCH(int, pickTitle);
    QFETCH(QString, saved);
    QFETCH(QString, typed);
    QFETCH(QString, when);
    QFETCH(QString, saveKeys);
    const QByteArray oldZone = qgetenv("TZ");
    const auto restoreZone = qScopeGuard([&oldZone] { qputenv("TZ", oldZone); tzset(); });
    qputenv("TZ", event == "east of UTC" ? "Pacific/Kiritimati" : oldZone);
    tzset();
    Fixture f;
    f.db.addEvent("Other", at(kDay, 8, 0), at(kDay, 9, 0), f.jane, "o", "o");
    const bool gone = event == "staff gone";
    const int id = f.db.addEvent("Old", at(kDay, 12, 0), at(kDay.addDays(1), 12, 0), gone ? 999 : f.omar, "d", "n");
    if (event == "new, null template")
        f.db.exec(QString("UPDATE tblPredefinedEvents SET Description = NULL WHERE idPredefinedEvent = %1").arg(f.coolDown));
    if (event == "null texts")
        f.db.exec(QString("UPDATE tblScheduledEvents SET Description = NULL, Notes = NULL WHERE idScheduledEvent = %1").arg(id));
    const int staff = gone ? f.jane : f.omar; // the first one when its own is gone
    // Made by one coach and changed by another, as the calendar keeps it (in UTC); a row stored before the
    // calendar kept history has none.
    f.db.exec(QString("UPDATE tblChangeHistory SET createdBy = 'coach1', createdAt = '2026-12-07 09:05:00', changedBy = %1, "
                      "changedAt = %2 WHERE tableName = 'tblscheduledevents' AND idRow = %3")
                  .arg(gone ? "NULL" : "'coach2'", gone ? "NULL" : "'2026-12-07 10:14:00'")
                  .arg(id));
    if (event == "null texts")
        f.db.exec("DELETE FROM tblChangeHistory");
    const QStringList before = f.events();
    frmEventEditor editor(f.db.services, nullptr);
    editor.show();
    if (event.startsWith("new")) { // as the main window hands a day over
        editor.setStartDate(QDateTime(kDay, QTime(0, 10)));
        editor.setEndDate(QDateTime(kDay.addDays(1), QTime(0, 10)));
        pick(staffList(editor), 1);
    } else {
        editor.loadScheduledEvent(id);
    }
    QCOMPARE(control<QDateEdit>(editor, "dtStartDate")->date(), kDay);
    QCOMPARE(control<QDateEdit>(editor, "dtEndDate")->date(), kDay.addDays(1));
    QCOMPARE(staffList(editor)->currentData().toInt(), staff);
    // Who saved the stored event last, in this computer's time; the tooltip also says who made it.
    const QString made = "Created by coach1 on 12/7/2026 09:05";
    const QString history = event.startsWith("new") || event == "null texts" ? QString()
                            : gone                                         ? made
                            : event == "east of UTC"                       ? "Changed by coach2 on 12/8/2026 00:14"
                                                                           : "Changed by coach2 on 12/7/2026 10:14";
    const QLabel *changedBy = control<QLabel>(editor, "lblChanged");
    QCOMPARE(changedBy->isVisible() ? changedBy->text() : QString(), history);
    if (event == "stored")
        QCOMPARE(changedBy->toolTip(), made + "\n" + history);
    if (event == "null texts")
        QCOMPARE(description(editor)->toPlainText() + '|' + notes(editor)->toPlainText(), "|");
    retype(description(editor), "Coach's cones\rand bibs");
    retype(notes(editor), "Coach's cones\rand bibs");
    if (!title.isEmpty())
        retype(titleList(editor), title + "\r\t");
    if (pickTitle >= 0)
        pick(titleList(editor), pickTitle);
    for (const QString &entry : typed.split(';', Qt::SkipEmptyParts)) {
        QWidget *picker = control(editor, qPrintable(entry.section('=', 0, 0)));
        editor.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        picker->setFocus(Qt::TabFocusReason);
        for (const QChar c : entry.section('=', 1)) {
            if (c == '@') {
                QLineEdit *line = picker->findChild<QLineEdit *>();
                QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(6, line->height() / 2));
                QTest::qWait(0);
            } else if (c == '>' || c == '<')
                QTest::keyClick(picker, c == '>' ? Qt::Key_Right : Qt::Key_Left, Qt::ControlModifier);
            else
                QTest::keyClicks(picker, QString(c));
        }
        QVERIFY(picker->hasFocus());
        QTest::keyClick(picker, Qt::Key_Tab);
        QVERIFY(!picker->hasFocus());
    }
    if (saveKeys.isEmpty()) {
        press(editor, "saveAndClose");
    } else {
        editor.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        notes(editor)->setFocus();
        QWidget *save = control<QToolBar>(editor, "tlbrTop")->widgetForAction(control<QAction>(editor, "saveAndClose"));
        for (int n = 0; saveKeys == "Tab" && n < 8 && !save->hasFocus(); ++n)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keySequence(QApplication::focusWidget(), QKeySequence(saveKeys == "Tab" ? "Return" : saveKeys));
    }

    // A new event over "Old", of the same staff member, is asked about first (the fake answers Yes); nothing else.
    QCOMPARE(f.db.prompt().texts().size(), event.startsWith("new") ? 1 : 0);
    for (const QString &said : f.db.prompt().texts())
        QVERIFY2(event.startsWith("new") && said.startsWith("Omar Field already has 'Old' 12:00-12:00")
                     && said.endsWith(" that day. Save anyway?"),
                 qPrintable(said));
    QVERIFY(!editor.isVisible());
    // Added after the others, or in place of the stored one.
    const QString row = saved + "|Coach s cones\r\nand bibs|" + when + "|%1";
    QCOMPARE(f.events(), before.mid(0, event.startsWith("new") ? 2 : 1) << row.arg(staff));
    // The key is told where the button is.
    QCOMPARE(control<QAction>(editor, "saveAndClose")->toolTip(), "Save and Close (Ctrl+S)");
}

void tst_frmEventEditor::toolbar_data()
{
    QTest::addColumn<bool>("stored");
    // Done to the store before the window opens; "later ": once it has loaded, and after a '|' while the
    // first question is shown.
    QTest::addColumn<QString>("cause");
    // Of the toolbar button, or "Escape" or "close" (the close box); after commas the answers to the
    // questions: Yes, No, Cancel, Save, Discard (Yes when none is given).
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("prompt"); // the boxes shown; a "..." at the end stands for the reason, {path} the file
    QTest::addColumn<bool>("open");
    // Left in the store: "before" (the window opened), "after" (the cause was done), "theirs" (the later
    // cause was done), "none", or the one row there is.
    QTest::addColumn<QString>("rows");
    const QString ask = "Are you sure you want to delete the event 'Typed'?";
    const QString adding = "An error occured while adding a new record\r\n...";
    const QString refuse = "CREATE TRIGGER refuse BEFORE %1 ON tblScheduledEvents BEGIN SELECT RAISE(ABORT, 'no'); END";
    QTest::newRow("Delete, No") << true << "" << "deleteRecord,No" << ask << true << "before";
    QTest::newRow("Delete, Yes") << true << "" << "deleteRecord" << ask << false << "none";
    QTest::newRow("Delete never stored, Yes") << false << "" << "deleteRecord" << ask << false << "before";
    QTest::newRow("Print before saving") << false << "" << "printEvent" << "Please save first" << true << "before";
    QTest::newRow("Print with unsaved changes") << true << "" << "printEvent" << "" << true << "before";
    QTest::newRow("empty staff table") << false << "DELETE FROM tblPOCs" << "saveAndClose" << adding << true << "before";
    QTest::newRow("insert refused") << false << refuse.arg("INSERT") << "saveAndClose" << adding << true << "before";
    QTest::newRow("update refused") << true << refuse.arg("UPDATE") << "saveAndClose"
                                    << "An error occured while updating the record\r\n..." << true << "before";
    // The reason in plain words, with the file's path; the driver's own words are the box's details.
    QTest::newRow("read-only file") << true << "read-only" << "saveAndClose"
                                    << "An error occured while updating the record\r\nThe calendar file {path} is "
                                       "read-only, so nothing can be saved. Make the file and its folder writable, "
                                       "then try again." << true << "before";
    // The report finds no row for an event whose staff member was deleted: say why, and what to do.
    QTest::newRow("Print, staff member deleted")
        << true << "UPDATE tblScheduledEvents SET idPOC = 999" << "printEvent"
        << "The event 'Match prep' cannot be printed: the staff member it names no longer exists.\r\nPick another "
           "staff member in the event's Staff Member list, choose Save and Close, then print it again."
        << true << "after";
    // Over the staff member's other event: No keeps the window and everything typed, and saves nothing.
    QTest::newRow("clash, No: still open")
        << false << "INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) VALUES('Busy', "
                    "'', '', '2000-01-01 11:00:00', '2000-01-01 13:00:00', (SELECT min(idPOC) FROM tblPOCs))"
        << "saveAndClose,No" << "Jane Coachwright already has 'Busy' 11:00-13:00 that day. Save anyway?" << true << "after";
    // Deleted by another copy while the window was open: saving asks before anything typed is lost.
    const QString gone = "This event no longer exists; another copy of Orvenna may have deleted it.\r\n...";
    QTest::newRow("deleted meanwhile, Yes: a new event") << true << "later DELETE FROM tblScheduledEvents"
                                                         << "saveAndClose" << gone << false
                                                         << "Typed|Shape|Typed notes|2026-12-05 10:00:00|2026-12-05 11:00:00";
    QTest::newRow("deleted meanwhile, No: still open") << true << "later DELETE FROM tblScheduledEvents"
                                                       << "saveAndClose,No" << gone << true << "none";
    // Changed by another copy meanwhile: saving says what they changed, each field with its old and new value.
    // Who saved it and when on the line after the first: coach2 the first time, coach3 while asked.
    const QString unsigned_ = "Someone else changed this event since you opened it:\r\n\r\n%1\r\n\r\nOverwrite it "
                              "with your version? Choose No to keep the other version; what you changed here is then "
                              "not saved.";
    const QString changed = QString(unsigned_).replace("it:\r\n", "it:\r\nChanged by coach2 on 12/7/2026 10:14\r\n");
    const QString changedAgain = QString(unsigned_).replace("it:\r\n", "it:\r\nChanged by coach3 on 12/7/2026 10:20\r\n");
    const QString mine = "Typed|Shape|Typed notes|2026-12-05 10:00:00|2026-12-05 11:00:00";
    QTest::newRow("their staff member only, overwritten")
        << true << "later UPDATE tblScheduledEvents SET idPOC = 2" << "saveAndClose"
        << changed.arg("Staff member: was Jane Coachwright, now Omar Field") << false << mine;
    QTest::newRow("their end only, kept")
        << true << "later UPDATE tblScheduledEvents SET EventTimeEnd = '2026-12-05 11:45:00'" << "saveAndClose,No"
        << changed.arg("End: was {day} 11:00, now {day} 11:45") << false << "theirs";
    QTest::newRow("their notes only, kept")
        << true << "later UPDATE tblScheduledEvents SET Notes = 'Bring cones'" << "saveAndClose,No"
        << changed.arg("Notes: was \"Bring bibs\", now \"Bring cones\"") << false << "theirs";
    // Changed by a tool that keeps no history (or before the calendar kept it): no one is named.
    QTest::newRow("their notes, by no one known")
        << true << "later UPDATE tblScheduledEvents SET Notes = 'Bring cones';DELETE FROM tblChangeHistory"
        << "saveAndClose,No" << unsigned_.arg("Notes: was \"Bring bibs\", now \"Bring cones\"") << false << "theirs";
    QTest::newRow("their start and end")
        << true << "later UPDATE tblScheduledEvents SET EventTime = '2026-12-05 09:30:00', "
                   "EventTimeEnd = '2026-12-06 08:00:00'" << "saveAndClose,No"
        << changed.arg("Start: was {day} 10:00, now {day} 09:30\r\nEnd: was {day} 11:00, now {next} 08:00")
        << false << "theirs";
    // Another save lands while the question is open: it is not overwritten unasked.
    const QString twice = "later UPDATE tblScheduledEvents SET Notes = 'Bring cones'|";
    const QString notesAndEnd = changed.arg("Notes: was \"Bring bibs\", now \"Bring cones\"") + "|"
                                + changedAgain.arg("End: was {day} 11:00, now {day} 11:45");
    QTest::newRow("saved again while asked, overwritten")
        << true << twice + "UPDATE tblScheduledEvents SET EventTimeEnd = '2026-12-05 11:45:00'" << "saveAndClose,Yes,Yes"
        << notesAndEnd << false << mine;
    QTest::newRow("saved again while asked, kept")
        << true << twice + "UPDATE tblScheduledEvents SET EventTimeEnd = '2026-12-05 11:45:00'" << "saveAndClose,Yes,No"
        << notesAndEnd << false << "Match prep|Shape|Bring cones|2026-12-05 10:00:00|2026-12-05 11:45:00";
    QTest::newRow("deleted while asked, a new event")
        << true << twice + "DELETE FROM tblScheduledEvents" << "saveAndClose,Yes,Yes"
        << changed.arg("Notes: was \"Bring bibs\", now \"Bring cones\"") + "|This event no longer exists; another "
           "copy of Orvenna may have deleted it.\r\nDo you want to save your changes as a new event?"
        << false << mine;
    // Escape and the close box ask before typing is thrown away.
    const QString closing = "Do you want to save your changes before closing?";
    QTest::newRow("Escape, Cancel") << true << "" << "Escape,Cancel" << closing << true << "before";
    QTest::newRow("Escape, Discard") << true << "" << "Escape,Discard" << closing << false << "before";
    QTest::newRow("close box, Save") << true << "" << "close,Save" << closing << false << mine;
    QTest::newRow("close box, Save, insert refused") << false << refuse.arg("INSERT") << "close,Save"
                                                     << closing + "|" + adding << true << "before";
}

void tst_frmEventEditor::toolbar()
{
    QFETCH(bool, stored);
    QFETCH(QString, cause);
    QFETCH(QString, key);
    QFETCH(QString, prompt);
    QFETCH(bool, open);
    QFETCH(QString, rows);
    Fixture f;
    // Its key is also the first template's, which a new event's title list
    // carries: that key must never reach a delete.
    const int id = f.db.addEvent("Match prep", at(kDay, 10, 0), at(kDay, 11, 0), f.jane, "Shape", "Bring bibs");
    QCOMPARE(id, f.passing);
    const QStringList before = f.events();
    if (cause == "read-only") { // a write version above 2 in the header, which holds for root too
        // Made by the version before history was kept, so it stays without it; the event loads all the same.
        f.db.exec("DROP TABLE tblChangeHistory");
        f.db.exec("PRAGMA user_version = 3");
        QFile file(f.db.path());
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(18) && file.write("\x03", 1) == 1);
    } else if (!cause.isEmpty() && !cause.startsWith("later ")) {
        f.db.exec(cause);
    }
    const QStringList after = f.events();
    frmEventEditor editor(f.db.services, nullptr);
    if (stored)
        editor.loadScheduledEvent(id);
    // Another copy's save, as another login at a known time.
    auto theirSave = [&f](const QString &statements, const char *who, const char *when) {
        for (const QString &statement : statements.split(';'))
            f.db.exec(statement);
        f.db.exec(QStringLiteral("UPDATE tblChangeHistory SET changedBy = '%1', changedAt = '%2' WHERE changedBy IS NOT NULL")
                      .arg(QLatin1String(who), QLatin1String(when)));
    };
    if (cause.startsWith("later "))
        theirSave(cause.mid(6).section('|', 0, 0), "coach2", "2026-12-07 10:14:00");
    if (cause.contains('|'))
        f.db.prompt().meanwhile = [theirSave, cause] { theirSave(cause.section('|', 1), "coach3", "2026-12-07 10:20:00"); };
    const QStringList theirs = f.events();
    editor.show();
    retype(titleList(editor), "Typed");
    retype(notes(editor), "Typed notes");
    const QString button = key.section(',', 0, 0);
    const QMap<QString, Prompt::Answer> answers{{"No", Prompt::Answer::No}, {"Cancel", Prompt::Answer::Cancel},
                                                {"Save", Prompt::Answer::Save}, {"Discard", Prompt::Answer::Discard}};
    for (const QString &answer : key.section(',', 1).split(','))
        f.db.prompt().answers.enqueue(answers.value(answer, Prompt::Answer::Yes));
    if (button == "Escape")
        QTest::keyClick(notes(editor), Qt::Key_Escape);
    else if (button == "close")
        editor.close();
    else
        press(editor, qPrintable(button));

    const QString told = f.db.prompt().texts().join('|');
    QCOMPARE(prompt.endsWith("...") ? QString(told).replace(QRegularExpression("\r\n[\\s\\S]+"), "\r\n...") : told,
             QString(prompt).replace("{path}", f.db.path()).replace("{day}", QLocale().toString(kDay, QLocale::LongFormat))
                 .replace("{next}", QLocale().toString(kDay.addDays(1), QLocale::LongFormat)));
    if (cause == "read-only")
        QVERIFY(f.db.prompt().shown.first().details.endsWith("attempt to write a readonly database"));
    QCOMPARE(editor.isVisible(), open);
    QCOMPARE(titleList(editor)->currentText() + '|' + notes(editor)->toPlainText(), "Typed|Typed notes");
    QCOMPARE(f.events(), rows == "before" ? before
                         : rows == "after" ? after
                         : rows == "theirs" ? theirs
                         : rows == "none" ? QStringList()
                                          : QStringList(rows + '|' + QString::number(f.jane)));
    // A report of the stored values, not of the window's.
    const bool printed = key == "printEvent" && prompt.isEmpty();
    QCOMPARE(f.db.modal().shownNames, printed ? QStringList("frmPrint") : QStringList());
    QFile report(f.db.folder() + "/printEvent.html");
    const QString html = report.open(QIODevice::ReadOnly) ? QString::fromUtf8(report.readAll()) : QString();
    QCOMPARE(html.contains("Match prep") && html.contains("Bring bibs") && !html.contains("Typed"), printed);

    if (!cause.startsWith("CREATE TRIGGER") || button != "saveAndClose")
        return;
    f.db.exec("DROP TRIGGER refuse");
    press(editor, "saveAndClose");
    QVERIFY(!editor.isVisible());
    QCOMPARE(f.events().size(), stored ? 1 : 2);
    QVERIFY(f.events().last().startsWith("Typed|"));
}

void tst_frmEventEditor::layoutRule_data()
{
    QTest::addColumn<QSize>("outer"); // the window's frame included
    QTest::addColumn<bool>("applied");
    QTest::newRow("199 wide") << QSize(199, 400) << false;
    QTest::newRow("200 wide") << QSize(200, 400) << true;
}

void tst_frmEventEditor::layoutRule()
{
    QFETCH(QSize, outer);
    QFETCH(bool, applied);
    Fixture f;
    frmEventEditor editor(f.db.services, nullptr);
    QList<int> shown;
    for (const bool resized : {false, true}) { // shown as designed, then resized
        if (resized)
            editor.setFixedSize(outer - (editor.frameGeometry().size() - editor.size()));
        editor.show();
        QApplication::processEvents();
        // Stretched, the controls' right edges are 30 pixels in from the outer frame, the notes' bottom 40 up.
        const QSize o = editor.frameGeometry().size();
        QList<int> edges, stretched = QList<int>(4, o.width() - 30) << o.height() - 40;
        for (const char *name : {"cmbPredefinedEvents", "txtDescription", "cmbPOCs", "txtNotes"})
            edges << control(editor, name)->geometry().right() + 1;
        edges << notes(editor)->geometry().bottom() + 1;
        QCOMPARE(edges, resized && !applied ? shown : stretched);
        shown = edges;
    }
    QCOMPARE(editor.frameGeometry().size(), outer);
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_frmEventEditor)
#include "tst_frmEventEditor.moc"
