#include "lists/frmPOC.h"
#include "lists/frmPredefinedEvents.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QToolBar>

#include <memory>

namespace {

// What the two managers do differently, and where they keep their rows. focus: the control
// holding the focus on opening; addNew: the text Add New puts in; empty: the refusal of an
// empty new title; ask: the start of the delete question; uses: its second line for two events naming
// the entry; dup: the question before adding a title that is there already (%1); uses1: the second
// line for one event.
struct Kind
{
    QString table, key, title, text, combo, focus, addNew, empty, ask, uses, dup, uses1;
};
const Kind kTemplates{"tblPredefinedEvents", "idPredefinedEvent", "title", "Description", "cmbPredefinedEvents",
                      "txtDescription", "Insert someting describing the type of activity or drill, purpose, equipment "
                      "used, and other Descriptive information needed to ensure a successful participation.",
                      "Events must have a title", "Are you sure you want to delete predefined event '", "",
                      "There is already an activity or drill titled '%1'.\r\nDo you want to add another one with "
                      "the same title?", ""};
const Kind kStaff{"tblPOCs", "idPOC", "pocName", "pocDescription", "cmbPOC", "cmbPOC", "",
                  "Staff members must have a name", "Are you sure you want to delete staff member '",
                  "\r\n2 events name this staff member; they cannot be printed until another staff member is picked "
                  "for them in the events' windows.",
                  "There is already a staff member named '%1'.\r\nDo you want to add another one with the same name?",
                  "\r\n1 event names this staff member; it cannot be printed until another staff member is picked for "
                  "it in the event's window."};
const QString kClosing = "Do you want to save your changes before closing?";

} // namespace

class tst_ListManagers : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
    void largeTables();
};

void tst_ListManagers::largeTables()
{
    for (const Kind *kind : {&kTemplates, &kStaff}) {
        TestDatabase db;
        db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                               "INSERT INTO %1 SELECT i, 'Entry ' || i, '' FROM n").arg(kind->table));
        std::unique_ptr<QDialog> window(kind == &kStaff ? static_cast<QDialog *>(new frmPOC(db.services))
                                                        : new frmPredefinedEvents(db.services));
        auto *combo = window->findChild<QComboBox *>(kind->combo);
        QCOMPARE(combo->count(), 10000);
        QCOMPARE(combo->itemText(9999), QStringLiteral("Entry 10000"));
    }
}

void tst_ListManagers::scenario_data()
{
    QTest::addColumn<bool>("staff");
    QTest::addColumn<QString>("setup");        // SQL VALUES of (key, title, text); "none": no database file
    QTest::addColumn<QString>("steps");        // "verb:argument, ...", see scenario()
    QTest::addColumn<QStringList>("messages"); // every box shown, with "(reason)" for the reason given
    const auto row = [](const char *name, const QString &setup, const QString &steps, const QStringList &messages) {
        for (bool staff : {false, true})
            QTest::addRow("%s, %s", staff ? "staff" : "templates", name) << staff << setup << steps << messages;
    };
    const QString two = "(1, 'First', 'a'), (2, 'Second', 'b')", kept = "rows:First|a;Second|b";
    const QString deleting = "An error occured while deleting the record\r\n(reason)";

    row("opening and picking", two, "list:First;Second, shows:First|a, pick:1, shows:Second|b, " + kept, {});
    row("cleared title of a selected entry", two, "pick:1, title:, save, closed, rows:First|a;|b", {});
    // Who saved the chosen entry last; nothing for a new one.
    row("who changed it", two,
        "history:Created by coach1 on 12/7/2026 09:05, pick:1, history:Changed by coach2 on 12/7/2026 10:14, add, history:, "
        "pick:0, history:Created by coach1 on 12/7/2026 09:05", {});
    row("Add New", two, "add, shows:|{addNew}, title:New, save, closed, " + kept + ";New|{addNew}", {});
    row("Add New, then a pick updates", two,
        "add, pick:1, shows:Second|b, text:changed, save, closed, rows:First|a;Second|changed", {});
    // Leaving a typed title that matches an entry does not choose that entry.
    row("typed title matching an entry", two, "add, title:Second, text:other, save, " + kept + ";Second|other",
        {"{dup:Second}"});
    row("delete", two, "pick:1, delete, list:First, shows:First|a, rows:First|a", {"{ask}Second'?"});
    row("delete cancelled", two, "pick:1, delete:no, list:First;Second, shows:Second|b, " + kept, {"{ask}Second'?"});
    row("delete after Add New", two, "add, delete, list:First;Second, shows:First|a, " + kept, {"{ask}'?", deleting});
    // After the reload nothing is changed, so Escape just closes.
    row("typed title, delete, Escape", two, "pick:1, title:X, delete, escape, rejected, " + kept,
        {"{ask}X'?", deleting});
    row("delete the only entry", "(1, 'Only', 'its text')",
        "delete, list:, shows:|, save, open, title:Again, save, closed, rows:Again|",
        {"{ask}Only'?", "{empty}"});
    row("empty table", "", "list:, shows:|, save, open, title:Coach's drill, text:it's fine, save, closed, "
                           "rows:Coach s drill|it s fine", {"{empty}"});
    // Line breaks are stored as CR LF, as the editor stores them; an untouched text is written back as it was.
    row("line breaks", "(1, 'First', 'a' || char(13, 10) || 'b')",
        "save, closed, rows:First|a\r\nb", {});
    row("line breaks typed", two, "text:one\rtwo, save, closed, rows:First|one\r\ntwo;Second|b", {});
    row("blanks-only title", "", "title:   , save, closed, rows:   |", {});
    row("resizing", "",
        "resize:640:400:follows, resize:199:300:stays, resize:500:99:stays, resize:200:100:follows", {});
    // The list stops at a row without a title; with nothing chosen, Save refuses rather than write over "First".
    row("a row without a title", "(1, 'First', 'a'), (2, NULL, 'b')", "list:First, shows:|, save, open", {"{empty}"});
    row("NULL description clears the text", "(1, 'First', 'a'), (2, 'Second', NULL)", "pick:1, shows:Second|", {});
    row("keys beyond 16 bits", "(40000, 'Far', 'far'), (70000, 'Farther', 'farther')",
        "pick:1, shows:Farther|farther, delete, text:edited, save, closed, rows:Far|edited", {"{ask}Farther'?"});
    // Events name staff members, not templates; the question says how many before a staff member goes.
    row("delete an entry that events name", two, "events:2:2, events:1:1, pick:1, delete, list:First",
        {"{ask}Second'?{uses}"});
    row("delete an entry that one event names", two, "events:1:2, events:2:1, pick:1, delete, list:First",
        {"{ask}Second'?{uses1}"});
    // Every command from the keyboard; an Alt+letter that is no command types nothing.
    row("Ctrl+S saves", two, "text:changed, key:Ctrl+S, closed, rows:First|changed;Second|b", {});
    row("Alt+S saves, types nothing", two, "text:changed, key:Alt+S, closed, rows:First|changed;Second|b", {});
    row("Alt+letter types nothing", two, "text:changed, key:Alt+X, title:Fir, key:Alt+U, shows:Fir|changed, "
                                         "key:Ctrl+S, closed, rows:Fir|changed;Second|b", {});
    row("Ctrl+N adds, Alt+D deletes", two, "key:Ctrl+N, shows:|{addNew}, pick:1, key:Alt+D, list:First, "
                                            "shows:First|a, rows:First|a", {"{ask}Second'?"});
    row("Tab reaches the buttons", two, "text:changed, tab:deleteRecord, tab:addNewEvent, key:Return, "
                                        "shows:|{addNew}, title:New, tab:saveAndClose, key:Space, closed, "
                                        + kept + ";New|{addNew}", {});
    // Closing with changes asks first; Escape is closing.
    row("Escape with changes, Cancel", two, "text:changed, escape:cancel, open, shows:First|changed, " + kept,
        {"{close}"});
    row("Escape with changes, Discard", two, "pick:1, title:Renamed, escape:discard, rejected, " + kept, {"{close}"});
    row("close box with changes, Save", two, "text:changed, closebox:save, closed, rows:First|changed;Second|b",
        {"{close}"});
    row("close box, Save refused", "", "add, text:no title, closebox:save, open", {"{close}", "{empty}"});
    row("close box without changes", two, "pick:1, closebox, rejected, " + kept, {});
    row("Add New, close box", two, "add, closebox, rejected, " + kept, {});
    // Add New's prompt is typed over, whether the box is entered with Tab or a click.
    row("Add New, Tab, typing replaces the prompt", two,
        "add, title:New, tab:txtDescription, type:Cones, save, closed, " + kept + ";New|Cones", {});
    row("Add New, click, typing replaces the prompt", two,
        "add, title:New, click:txtDescription, type:Cones, save, closed, " + kept + ";New|Cones", {});
    // Adding a title that is there already asks first, whatever its case and blanks.
    row("title there already, Yes", two, "add, title:second , save, closed, " + kept + ";second |{addNew}",
        {"{dup:second }"});
    row("title there already, No", two, "add, title:Second, save:no, open, shows:Second|{addNew}, " + kept,
        {"{dup:Second}"});
    // Each cause of a failed write in plain words, with the file's path.
    const QString missing = "An error occured while adding a new record\r\nThe calendar file {path} is missing. Put it "
                            "back, or make a new one with orvenna-newdb.";
    row("no database file", "none", "list:, shows:|, title:New, text:new, save, open, shows:New|new", {missing});
    row("insert into a lost table", "", "drop, title:Typed, save, open, shows:Typed|",
        {"An error occured while adding a new record\r\nThe file {path} is not a calendar database: its tables are "
         "missing. Replace it with a calendar file, or make a new one with orvenna-newdb."});
    row("read-only file", two, "readonly, text:typed, save, open, " + kept,
        {"An error occured while updating the record\r\nThe calendar file {path} is read-only, so nothing can be "
         "saved. Make the file and its folder writable, then try again."});
    row("update of a lost table", two, "drop, text:typed, save, open, shows:First|typed",
        {"An error occured while updating the record\r\n(reason)"});
}

// Steps are what a user does: pick:N (from the drop-down), title:T, text:T (retyped), save, add,
// delete[:no] (with the answer to the question), escape[:answer] and closebox[:answer] (the answer
// to the question about changes: cancel, save, discard), key:K and type:T (where the focus is),
// tab:NAME (Tab until the control, or the button of that key, has the focus), click:NAME,
// resize:W:H:follows|stays (the outer
// size; the boxes' widths follow it or stay); or drop the table; or look: shows:title|text,
// list:titles, rows:title|text;... (in key order), open, closed (by saving).
void tst_ListManagers::scenario()
{
    QFETCH(bool, staff);
    QFETCH(QString, setup);
    QFETCH(QString, steps);
    QFETCH(QStringList, messages);
    const Kind &k = staff ? kStaff : kTemplates;
    TestDatabase db(setup != "none");
    const auto expand = [&](QString s) {
        const QRegularExpressionMatch dup = QRegularExpression("\\{dup:([^}]*)\\}").match(s);
        if (dup.hasMatch())
            s.replace(dup.capturedStart(), dup.capturedLength(), k.dup.arg(dup.captured(1)));
        return s.replace("{ask}", k.ask).replace("{empty}", k.empty).replace("{addNew}", k.addNew)
            .replace("{uses1}", k.uses1).replace("{uses}", k.uses).replace("{close}", kClosing)
            .replace("{path}", db.path());
    };
    if (!setup.isEmpty() && setup != "none") {
        db.exec(QString("INSERT INTO %1(%2, %3, %4) VALUES %5").arg(k.table, k.key, k.title, k.text, setup));
        // Made by one coach; the second entry changed since by another.
        db.exec("UPDATE tblChangeHistory SET createdBy = 'coach1', createdAt = '2026-12-07 09:05:00', changedBy = CASE "
                "WHEN idRow = 2 THEN 'coach2' END, changedAt = CASE WHEN idRow = 2 THEN '2026-12-07 10:14:00' END");
    }
    const std::unique_ptr<frmListManager> w(staff ? static_cast<frmListManager *>(new frmPOC(db.services))
                                                  : new frmPredefinedEvents(db.services));
    w->show();
    auto *combo = w->findChild<QComboBox *>(k.combo);
    auto *text = w->findChild<QPlainTextEdit *>("txtDescription");
    auto *bar = w->findChild<QToolBar *>("tlbrTop");
    const QMap<QString, QString> buttons{{"save", "saveAndClose"}, {"add", "addNewEvent"}, {"delete", "deleteRecord"}};
    QVERIFY(QTest::qWaitForWindowExposed(w.get()) && w->findChild<QWidget *>(k.focus)->hasFocus());
    // A screen reader hears each field's caption: as its name, and as its label
    // (a Linux reader names a combo box by its value).
    for (QWidget *field : {static_cast<QWidget *>(combo), static_cast<QWidget *>(text)}) {
        const QString caption = w->findChild<QLabel *>(field == combo ? "Label1" : "Label2")->text();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(field);
        const auto labels = iface->relations(QAccessible::Label);
        QCOMPARE(labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name), caption);
        if (field == combo)
            QCOMPARE(QStringList({combo->accessibleName(), QAccessible::queryAccessibleInterface(combo->lineEdit())->text(QAccessible::Name)}),
                     QStringList({caption, caption}));
        else
            QCOMPARE(iface->text(QAccessible::Name), caption);
    }
    // Both boxes end this far from the window's right edge.
    const int comboMargin = w->frameGeometry().width() - combo->width(),
              textMargin = w->frameGeometry().width() - text->width();

    for (const QString &step : steps.split(", ")) {
        const QString verb = step.section(':', 0, 0), arg = expand(step.mid(verb.size() + 1));
        if (buttons.contains(verb)) {
            if (verb == "delete" || arg == "no") // the answer to the question
                db.prompt().answers.enqueue(arg == "no" ? Prompt::Answer::No : Prompt::Answer::Yes);
            QTest::mouseClick(bar->widgetForAction(bar->findChild<QAction *>(buttons[verb])), Qt::LeftButton);
            QVERIFY(verb != "add" || combo->hasFocus());
        } else if (verb == "pick") {
            combo->showPopup();
            QAbstractItemView *view = combo->view();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                              view->visualRect(view->model()->index(arg.toInt(), 0)).center());
        } else if (verb == "title" || verb == "text") {
            QWidget *edit = verb == "title" ? static_cast<QWidget *>(combo->lineEdit()) : text;
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, arg);
        } else if (verb == "escape" || verb == "closebox") {
            if (!arg.isEmpty())
                db.prompt().answers.enqueue(arg == "save"      ? Prompt::Answer::Save
                                            : arg == "discard" ? Prompt::Answer::Discard
                                                               : Prompt::Answer::Cancel);
            if (verb == "escape")
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            else
                w->close();
        } else if (verb == "key" || verb == "type" || verb == "tab") {
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w.get()));
            auto *action = bar->findChild<QAction *>(arg);
            QWidget *target = action ? bar->widgetForAction(action) : w->findChild<QWidget *>(arg);
            if (verb == "key")
                QTest::keySequence(QApplication::focusWidget(), QKeySequence(arg));
            else if (verb == "type")
                QTest::keyClicks(QApplication::focusWidget(), arg);
            for (int n = 0; verb == "tab" && n < 8 && QApplication::focusWidget() != target; ++n)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(verb != "tab" || QApplication::focusWidget() == target);
        } else if (verb == "click") {
            auto *area = w->findChild<QAbstractScrollArea *>(arg);
            QTest::mouseClick(area->viewport(), Qt::LeftButton, {}, area->viewport()->rect().center());
        } else if (verb == "resize") {
            const QStringList a = arg.split(':');
            const QSize outer(a[0].toInt(), a[1].toInt()), comboWas = combo->size(), textWas = text->size();
            w->resize(outer - (w->frameGeometry().size() - w->size()));
            QCOMPARE(w->frameGeometry().size(), outer);
            QCOMPARE(combo->size(), a[2] == "stays" ? comboWas : QSize(outer.width() - comboMargin, comboWas.height()));
            QCOMPARE(text->size(), a[2] == "stays" ? textWas : QSize(outer.width() - textMargin, textWas.height()));
        } else if (verb == "drop") {
            db.exec("ALTER TABLE " + k.table + " RENAME TO gone");
        } else if (verb == "readonly") { // a write version above 2 in the header, which holds for root too
            QFile file(db.path());
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(18) && file.write("\x03", 1) == 1);
        } else if (verb == "events") { // events:N:K, N events naming the entry of key K
            for (int n = 0; n < arg.section(':', 0, 0).toInt(); ++n)
                db.addEvent("Session", QDateTime(QDate(2026, 12, 6), QTime(9, 0), Qt::UTC),
                            QDateTime(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC), arg.section(':', 1).toInt());
        } else if (verb == "shows") {
            QCOMPARE(combo->currentText() + '|' + text->toPlainText(), arg);
        } else if (verb == "history") { // who saved the chosen entry last; empty: nothing shown
            const QLabel *changed = w->findChild<QLabel *>("lblChanged");
            QCOMPARE(changed->isVisible() ? changed->text() : QString(), arg);
        } else if (verb == "list") {
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            QCOMPARE(items.join(';'), arg);
        } else if (verb == "rows") {
            const QString sql = "SELECT group_concat(%1 || '|' || %2, ';') FROM (SELECT * FROM %3 ORDER BY %4)";
            QCOMPARE(db.scalar(sql.arg(k.title, k.text, k.table, k.key)).toString(), arg);
        } else { // open, or closed by saving
            QCOMPARE(QString(w->isVisible() ? "open" : w->result() == QDialog::Accepted ? "closed" : "rejected"), verb);
        }
    }
    // "(reason)" stands for the second line of a failure, where a row does not spell it out.
    QStringList shown;
    for (int i = 0; i < db.prompt().shown.size(); ++i) {
        const FakePrompt::Shown &box = db.prompt().shown.at(i);
        const bool any = i < messages.size() && messages.at(i).endsWith("(reason)");
        shown << (any ? QString(box.text).replace(QRegularExpression("\r\n.+$"), "\r\n(reason)") : box.text);
        // A reason given in plain words keeps the driver's behind it.
        QVERIFY(!box.text.contains(" calendar ") || !box.details.isEmpty());
    }
    QCOMPARE(shown.join('\n'), expand(messages.join('\n')));
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_ListManagers)
#include "tst_listmanagers.moc"
