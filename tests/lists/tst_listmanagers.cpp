#include "lists/frmPOC.h"
#include "lists/frmPredefinedEvents.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolBar>

#include <memory>

namespace {

const QString kAddNewPrompt = QStringLiteral(
    "Insert someting describing the type of activity or drill, purpose, equipment used, and other Descriptive "
    "information needed to ensure a successful participation.");

// One of the two managers over its own database, driven as a user would.
struct Manager
{
    explicit Manager(bool staff, bool createFile = true) : db(createFile), staff(staff) {}

    TestDatabase db;
    bool staff;
    std::unique_ptr<frmListManager> w;

    QString table() const { return staff ? "tblPOCs" : "tblPredefinedEvents"; }
    QString key() const { return staff ? "idPOC" : "idPredefinedEvent"; }
    QString titleColumn() const { return staff ? "pocName" : "title"; }
    QString textColumn() const { return staff ? "pocDescription" : "Description"; }

    int add(const QString &title, const QString &text)
    {
        return staff ? db.addStaff(title, text) : db.addTemplate(title, text);
    }
    QString stored(int id, const QString &column)
    {
        return db.scalar(QString("SELECT %1 FROM %2 WHERE %3 = %4").arg(column, table(), key()).arg(id)).toString();
    }
    // Every row as "title|text", in key order.
    QString rows()
    {
        return db.scalar(QString("SELECT coalesce(group_concat(%1 || '|' || %2, ';'), '') FROM (SELECT * FROM %3 ORDER BY %4)")
                             .arg(titleColumn(), textColumn(), table(), key()))
            .toString();
    }

    frmListManager &open()
    {
        if (staff)
            w = std::make_unique<frmPOC>(db.services);
        else
            w = std::make_unique<frmPredefinedEvents>(db.services);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            qWarning("window not exposed");
        return *w;
    }

    QComboBox *combo() const { return w->findChild<QComboBox *>(staff ? "cmbPOC" : "cmbPredefinedEvents"); }
    QPlainTextEdit *text() const { return w->findChild<QPlainTextEdit *>("txtDescription"); }
    QString title() const { return combo()->currentText(); }

    void click(const char *key)
    {
        auto *bar = w->findChild<QToolBar *>("tlbrTop");
        QTest::mouseClick(bar->widgetForAction(bar->findChild<QAction *>(key)), Qt::LeftButton);
    }
    void choose(int row)
    {
        combo()->showPopup();
        QAbstractItemView *view = combo()->view();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(row, 0)).center());
    }
    void typeTitle(const QString &s)
    {
        QLineEdit *edit = combo()->lineEdit();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, s);
    }
    void typeText(const QString &s)
    {
        text()->setFocus();
        QTest::keyClick(text(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(text(), Qt::Key_Backspace);
        const QStringList lines = s.split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                QTest::keyClick(text(), Qt::Key_Return);
            QTest::keyClicks(text(), lines[i]);
        }
    }
    QStringList shown() { return db.prompt().texts(); }
    bool focusIn(const QString &name) const
    {
        const QWidget *target = w->findChild<QWidget *>(name);
        const QWidget *focus = QApplication::focusWidget();
        return focus && target && (focus == target || target->isAncestorOf(focus));
    }
    bool saved() const { return !w->isVisible() && w->result() == QDialog::Accepted; }
};

void addKinds()
{
    QTest::addColumn<bool>("staff");
    QTest::newRow("templates") << false;
    QTest::newRow("staff") << true;
}

} // namespace

class tst_ListManagers : public QObject
{
    Q_OBJECT

private slots:
    void opening_data();
    void opening();
    void saveInNewEntryState_data();
    void saveInNewEntryState();
    void clearedTitleOfSelectedEntryIsWritten_data() { addKinds(); }
    void clearedTitleOfSelectedEntryIsWritten();
    void addNew_data();
    void addNew();
    void pickingAfterAddNewUpdates_data() { addKinds(); }
    void pickingAfterAddNewUpdates();
    void typedTitleMatchingAnEntryIsNoChoice_data() { addKinds(); }
    void typedTitleMatchingAnEntryIsNoChoice();
    void deleteEntry_data();
    void deleteEntry();
    void deletingTheOnlyEntry_data() { addKinds(); }
    void deletingTheOnlyEntry();
    void failedWritesKeepTheWindow_data();
    void failedWritesKeepTheWindow();
    void unreadableRows_data() { addKinds(); }
    void unreadableRows();
    void keysBeyond16Bits_data() { addKinds(); }
    void keysBeyond16Bits();
    void resizeRule_data();
    void resizeRule();
    void onlyKnownKeysAndNoEscape_data() { addKinds(); }
    void onlyKnownKeysAndNoEscape();
};

void tst_ListManagers::opening_data()
{
    QTest::addColumn<bool>("staff");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("focus");
    QTest::newRow("templates") << false << "Pre-Defined Activity or Drill" << "txtDescription";
    QTest::newRow("staff") << true << "Staff Members" << "cmbPOC";
}

void tst_ListManagers::opening()
{
    QFETCH(bool, staff);
    QFETCH(QString, caption);
    QFETCH(QString, focus);
    Manager m(staff);
    m.add("Warm-up", "Jog\r\nStretch");
    const int second = m.add("Cool-down", "Walk");
    m.add("Drills", "Cones");
    frmListManager &w = m.open();

    QCOMPARE(w.windowTitle(), caption);
    QCOMPARE(m.combo()->count(), 3);
    QCOMPARE(m.combo()->itemText(2), QStringLiteral("Drills"));
    QCOMPARE(m.title(), QStringLiteral("Warm-up"));
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("Jog\nStretch"));
    QVERIFY(w.editingExisting());
    QVERIFY(m.focusIn(focus));

    m.choose(1);
    QCOMPARE(m.title(), QStringLiteral("Cool-down"));
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("Walk"));
    QCOMPARE(w.selectedId(), second);
    QVERIFY(m.shown().isEmpty());
}

void tst_ListManagers::saveInNewEntryState_data()
{
    QTest::addColumn<bool>("staff");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message"); // empty: saved
    QTest::addColumn<QString>("storedTitle");
    const QString events = "Events must have a title", staff = "Staff members must have a name";
    QTest::newRow("templates, empty") << false << "" << events << "";
    QTest::newRow("staff, empty") << true << "" << staff << "";
    QTest::newRow("templates, blanks") << false << "   " << "" << "   ";
    QTest::newRow("staff, blanks") << true << " " << "" << " ";
    QTest::newRow("templates, apostrophe") << false << "Coach's passing drill" << "" << "Coach s passing drill";
    QTest::newRow("staff, apostrophe") << true << "Head coach's assistant" << "" << "Head coach s assistant";
}

// On an empty table, as the main window runs it.
void tst_ListManagers::saveInNewEntryState()
{
    QFETCH(bool, staff);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(QString, storedTitle);
    Manager m(staff);
    m.db.modal().steps.enqueue([&](QDialog &) {
        QCOMPARE(m.combo()->count(), 0);
        QVERIFY(m.title().isEmpty() && m.text()->toPlainText().isEmpty());
        QVERIFY(!m.w->editingExisting());
        m.typeTitle(title);
        m.typeText("Two lines,\nit's fine");
        m.click("saveAndClose");
        QCOMPARE(m.w->isVisible(), !message.isEmpty());
    });
    m.w = staff ? std::unique_ptr<frmListManager>(new frmPOC(m.db.services))
                : std::unique_ptr<frmListManager>(new frmPredefinedEvents(m.db.services));
    const int result = m.db.modal().showModal(*m.w);
    if (message.isEmpty()) {
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(m.rows(), storedTitle + "|Two lines,\nit s fine");
        QVERIFY(m.shown().isEmpty());
        return;
    }
    QCOMPARE(m.shown(), QStringList{message});
    QCOMPARE(m.db.prompt().shown[0].icon, Prompt::Icon::Information);
    QCOMPARE(m.db.prompt().shown[0].title, QStringLiteral("Orvenna"));
    QCOMPARE(m.db.count(m.table()), 0);
}

void tst_ListManagers::clearedTitleOfSelectedEntryIsWritten()
{
    QFETCH(bool, staff);
    Manager m(staff);
    m.add("First", "a");
    const int id = m.add("Second", "b");
    m.open();
    m.choose(1);
    m.typeTitle("");
    m.click("saveAndClose");
    QVERIFY(m.shown().isEmpty());
    QVERIFY(m.saved());
    QCOMPARE(m.stored(id, m.titleColumn()), QString(""));
    QCOMPARE(m.db.count(m.table()), 2);
}

void tst_ListManagers::addNew_data()
{
    QTest::addColumn<bool>("staff");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("templates") << false << kAddNewPrompt;
    QTest::newRow("staff") << true << QString();
}

void tst_ListManagers::addNew()
{
    QFETCH(bool, staff);
    QFETCH(QString, prompt);
    Manager m(staff);
    m.add("Existing", "kept");
    frmListManager &w = m.open();
    m.click("addNewEvent");
    QVERIFY(m.title().isEmpty());
    QCOMPARE(m.text()->toPlainText(), prompt);
    QVERIFY(!w.editingExisting());
    QVERIFY(m.focusIn(m.combo()->objectName()));

    QTest::keyClicks(m.combo()->lineEdit(), "New one");
    m.click("saveAndClose");
    QVERIFY(m.saved());
    QCOMPARE(m.rows(), QStringLiteral("Existing|kept;New one|") + prompt);
}

void tst_ListManagers::pickingAfterAddNewUpdates()
{
    QFETCH(bool, staff);
    Manager m(staff);
    m.add("First", "a");
    const int id = m.add("Second", "b");
    m.open();
    m.click("addNewEvent");
    m.choose(1);
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("b"));
    m.typeText("changed");
    m.click("saveAndClose");
    QVERIFY(m.saved());
    QCOMPARE(m.rows(), QStringLiteral("First|a;Second|changed"));
    QCOMPARE(m.stored(id, m.textColumn()), QStringLiteral("changed"));
}

void tst_ListManagers::typedTitleMatchingAnEntryIsNoChoice()
{
    QFETCH(bool, staff);
    Manager m(staff);
    m.add("First", "a");
    m.add("Second", "b");
    m.open();
    m.click("addNewEvent");
    m.typeTitle("Second");
    m.typeText("another one");   // leaving the title field
    QVERIFY(!m.w->editingExisting());
    m.click("saveAndClose");
    QCOMPARE(m.rows(), QStringLiteral("First|a;Second|b;Second|another one"));
}

void tst_ListManagers::deleteEntry_data()
{
    QTest::addColumn<bool>("staff");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("rowsAfter");
    const QString ev = "Are you sure you want to delete predefined event '", st = "Are you sure you want to delete staff member '";
    const QString all = "First|a;Second|b";
    QTest::newRow("templates, chosen") << false << "choose" << true << ev + "Second'?" << "First|a";
    QTest::newRow("staff, chosen") << true << "choose" << true << st + "Second'?" << "First|a";
    QTest::newRow("templates, cancelled") << false << "choose" << false << ev + "Second'?" << all;
    QTest::newRow("staff, cancelled") << true << "choose" << false << st + "Second'?" << all;
    QTest::newRow("templates, after Add New") << false << "addNew" << true << ev + "'?" << all;
    QTest::newRow("staff, after Add New") << true << "addNew" << true << st + "'?" << all;
    QTest::newRow("templates, typed over") << false << "type" << true << ev + "Head Coach'?" << all;
    QTest::newRow("staff, typed over") << true << "type" << true << st + "Head Coach'?" << all;
}

void tst_ListManagers::deleteEntry()
{
    QFETCH(bool, staff);
    QFETCH(QString, how);
    QFETCH(bool, yes);
    QFETCH(QString, question);
    QFETCH(QString, rowsAfter);
    Manager m(staff);
    const int first = m.add("First", "a");
    m.add("Second", "b");
    frmListManager &w = m.open();
    m.choose(1);
    if (how == "addNew")
        m.click("addNewEvent");
    else if (how == "type")
        m.typeTitle("Head Coach");
    const QString titleBefore = m.title(), textBefore = m.text()->toPlainText();
    const bool stateBefore = w.editingExisting();
    m.db.prompt().answers.enqueue(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    m.click("deleteRecord");

    QCOMPARE(m.shown().value(0), question);
    QCOMPARE(m.db.prompt().shown[0].icon, Prompt::Icon::Question);
    QCOMPARE(m.db.prompt().shown[0].buttons, Prompt::Buttons::YesNo);
    QCOMPARE(m.rows(), rowsAfter);
    QVERIFY(w.isVisible());
    if (!yes) {
        QCOMPARE(m.shown().size(), 1);
        QCOMPARE(m.title(), titleBefore);
        QCOMPARE(m.text()->toPlainText(), textBefore);
        QCOMPARE(w.editingExisting(), stateBefore);
        QCOMPARE(m.combo()->count(), 2);
        return;
    }
    if (how == "choose") {
        QCOMPARE(m.shown().size(), 1);
    } else {
        QCOMPARE(m.shown().size(), 2);
        const QStringList lines = m.shown()[1].split("\r\n");
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("An error occured while deleting the record"));
        QVERIFY(!lines[1].isEmpty());
        QCOMPARE(m.db.prompt().shown[1].icon, Prompt::Icon::Critical);
    }
    // The reload selects the first entry.
    QCOMPARE(m.title(), QStringLiteral("First"));
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("a"));
    QVERIFY(w.editingExisting());
    QCOMPARE(w.selectedId(), first);
}

void tst_ListManagers::deletingTheOnlyEntry()
{
    QFETCH(bool, staff);
    Manager m(staff);
    m.add("Only", "its text");
    frmListManager &w = m.open();
    m.click("deleteRecord");
    QCOMPARE(m.db.count(m.table()), 0);
    QCOMPARE(m.combo()->count(), 0);
    QVERIFY(m.title().isEmpty());
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("its text"));
    QVERIFY(!w.editingExisting());

    // An empty title is refused, a typed one becomes a new row.
    m.click("saveAndClose");
    QCOMPARE(m.shown().size(), 2);
    QVERIFY(w.isVisible());
    m.typeTitle("Replacement");
    m.click("saveAndClose");
    QVERIFY(m.saved());
    QCOMPARE(m.rows(), QStringLiteral("Replacement|its text"));
}

void tst_ListManagers::failedWritesKeepTheWindow_data()
{
    QTest::addColumn<bool>("staff");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("firstLine");
    const QString add = "An error occured while adding a new record", update = "An error occured while updating the record";
    for (bool staff : {false, true}) {
        const char *kind = staff ? "staff" : "templates";
        QTest::newRow(qPrintable(QString("%1, no database file").arg(kind))) << staff << "missing file" << add;
        QTest::newRow(qPrintable(QString("%1, insert into a lost table").arg(kind))) << staff << "lost table, new" << add;
        QTest::newRow(qPrintable(QString("%1, update of a lost table").arg(kind))) << staff << "lost table" << update;
    }
}

void tst_ListManagers::failedWritesKeepTheWindow()
{
    QFETCH(bool, staff);
    QFETCH(QString, failure);
    QFETCH(QString, firstLine);
    Manager m(staff, failure != "missing file");
    if (failure == "lost table")
        m.add("Stored", "x");
    frmListManager &w = m.open();
    QVERIFY(m.shown().isEmpty());
    if (failure.startsWith("lost table"))
        m.db.exec(QString("ALTER TABLE %1 RENAME TO gone").arg(m.table()));
    m.typeTitle("Typed");
    m.typeText("typed text");
    m.click("saveAndClose");

    QCOMPARE(m.shown().size(), 1);
    QVERIFY(m.shown()[0].startsWith(firstLine + "\r\n"));
    QVERIFY(m.shown()[0].size() > firstLine.size() + 2);
    QCOMPARE(m.db.prompt().shown[0].icon, Prompt::Icon::Critical);
    QVERIFY(w.isVisible());
    QCOMPARE(m.title(), QStringLiteral("Typed"));
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("typed text"));
}

void tst_ListManagers::unreadableRows()
{
    QFETCH(bool, staff);
    Manager m(staff);
    const int first = m.add("First", "a");
    const int second = m.add("Second", "b");
    const int third = m.add("Third", "c");
    m.db.exec(QString("UPDATE %1 SET %2 = NULL WHERE %3 = %4").arg(m.table(), m.textColumn(), m.key()).arg(second));
    m.db.exec(QString("UPDATE %1 SET %2 = NULL WHERE %3 = %4").arg(m.table(), m.titleColumn(), m.key()).arg(third));

    frmListManager &w = m.open();
    QCOMPARE(m.combo()->count(), 2); // the fill stops at the nameless row
    QVERIFY(m.title().isEmpty());
    QVERIFY(!w.editingExisting());
    m.click("saveAndClose"); // must not write the empty fields over "First"
    QCOMPARE(m.shown().size(), 1);
    QCOMPARE(m.stored(first, m.titleColumn()), QStringLiteral("First"));

    m.choose(0);
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("a"));
    m.choose(1);
    QVERIFY(m.text()->toPlainText().isEmpty());
    QCOMPARE(w.selectedId(), second);
    QVERIFY(w.editingExisting());
}

void tst_ListManagers::keysBeyond16Bits()
{
    QFETCH(bool, staff);
    Manager m(staff);
    m.db.exec(QString("INSERT INTO %1(%2, %3, %4) VALUES(40000, 'Far', 'far text')")
                  .arg(m.table(), m.key(), m.titleColumn(), m.textColumn()));
    m.db.exec(QString("INSERT INTO %1(%2, %3, %4) VALUES(70000, 'Farther', 'farther text')")
                  .arg(m.table(), m.key(), m.titleColumn(), m.textColumn()));
    frmListManager &w = m.open();
    QCOMPARE(w.selectedId(), 40000);
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("far text"));
    m.choose(1);
    QCOMPARE(m.text()->toPlainText(), QStringLiteral("farther text"));
    m.click("deleteRecord");
    QCOMPARE(m.rows(), QStringLiteral("Far|far text"));
    m.typeText("edited");
    m.click("saveAndClose");
    QVERIFY(m.saved());
    QCOMPARE(m.stored(40000, m.textColumn()), QStringLiteral("edited"));
}

void tst_ListManagers::resizeRule_data()
{
    QTest::addColumn<bool>("staff");
    QTest::addColumn<QSize>("outer");
    QTest::addColumn<bool>("changes");
    for (bool staff : {false, true}) {
        const QString kind = staff ? "staff, " : "templates, ";
        QTest::newRow(qPrintable(kind + "wider")) << staff << QSize(640, 400) << true;
        QTest::newRow(qPrintable(kind + "at the limits")) << staff << QSize(200, 100) << true;
        QTest::newRow(qPrintable(kind + "too narrow")) << staff << QSize(199, 300) << false;
        QTest::newRow(qPrintable(kind + "too low")) << staff << QSize(500, 99) << false;
    }
}

void tst_ListManagers::resizeRule()
{
    QFETCH(bool, staff);
    QFETCH(QSize, outer);
    QFETCH(bool, changes);
    Manager m(staff);
    frmListManager &w = m.open();
    const QRect comboAt = staff ? QRect(120, 32, 241, 0) : QRect(88, 32, 313, 0);
    const QRect textAt = staff ? QRect(8, 72, 353, 145) : QRect(8, 72, 393, 177);
    // Already applied on first showing, to the outer frame's width.
    const int shownWidth = w.frameGeometry().width();
    QCOMPARE(m.combo()->geometry().topLeft(), comboAt.topLeft());
    QCOMPARE(m.combo()->width(), shownWidth - comboAt.left() - 30);
    QCOMPARE(m.text()->geometry(), QRect(textAt.topLeft(), QSize(shownWidth - 38, textAt.height())));

    const QSize frame = w.frameGeometry().size() - w.size();
    w.resize(outer - frame);
    QCOMPARE(w.frameGeometry().size(), outer);
    const int expected = changes ? outer.width() : shownWidth;
    QCOMPARE(m.combo()->width(), expected - comboAt.left() - 30);
    QCOMPARE(m.text()->width(), expected - textAt.left() - 30);
    QCOMPARE(m.text()->height(), textAt.height());
}

void tst_ListManagers::onlyKnownKeysAndNoEscape()
{
    QFETCH(bool, staff);
    Manager m(staff);
    m.add("Kept", "k");
    frmListManager &w = m.open();
    auto *bar = w.findChild<QToolBar *>("tlbrTop");
    QStringList buttons;
    for (QAction *a : bar->actions())
        buttons << a->text() + "=" + a->data().toString();
    QCOMPARE(buttons, (QStringList{"Save and Close=saveAndClose", "Add New=addNewEvent", "Delete=deleteRecord"}));

    w.tlbrTop_ButtonClick("SaveAndClose");
    w.tlbrTop_ButtonClick("deleterecord");
    QTest::keyClick(m.combo()->lineEdit(), Qt::Key_Escape);
    QVERIFY(w.isVisible());
    QVERIFY(m.shown().isEmpty());
    QCOMPARE(m.rows(), QStringLiteral("Kept|k"));
}

QTEST_MAIN(tst_ListManagers)
#include "tst_listmanagers.moc"
