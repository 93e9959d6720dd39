#include "mainwindow/ctlWeekDayView.h"
#include "store/Connection.h"
#include "support/TestDatabase.h"
#include "ui/Regional.h"

#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>

class tst_DayPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void entries();
    void mouseAndKeys_data();
    void mouseAndKeys();
    void doubleClickWithoutSelection();

private:
    void load(const QDateTime &date, const QHash<int, QString> &staff = {});
    QString tipShownAt(int row);
    QTreeWidget *list() const { return m_panel->findChild<QTreeWidget *>("lvEventList"); }
    QPoint entryCenter(int row) const { return list()->visualItemRect(list()->topLevelItem(row)).center(); }

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ctlWeekDayView> m_panel;
    const QDate m_day{2026, 12, 5};
};

void tst_DayPanel::init()
{
    m_db = std::make_unique<TestDatabase>();
    m_panel = std::make_unique<ctlWeekDayView>();
    m_panel->resize(217, 97);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
}

void tst_DayPanel::cleanup()
{
    m_panel.reset();
    m_db.reset();
}

void tst_DayPanel::load(const QDateTime &date, const QHash<int, QString> &staff)
{
    store::Connection conn;
    conn.open(m_db->connectionString());
    m_panel->loadEvents(conn, date, staff);
}

// What the pointer resting on the entry shows, as plain text; empty: no tip.
QString tst_DayPanel::tipShownAt(int row)
{
    QToolTip::hideText();
    if (!QTest::qWaitFor([]() { return !QToolTip::isVisible(); }, 2000))
        return QStringLiteral("(a tip stays)");
    const QPoint pos = entryCenter(row);
    QHelpEvent help(QEvent::ToolTip, pos, list()->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list()->viewport(), &help);
    if (!QToolTip::isVisible())
        return QString();
    QTextDocument shown;
    shown.setHtml(QToolTip::text());
    return shown.toPlainText();
}

void tst_DayPanel::entries()
{
    // Stored out of order; listed by start time. An empty title keeps its blank.
    const int late = m_db->addEvent("Scrimmage", QDateTime(m_day, QTime(18, 0), Qt::UTC), QDateTime(m_day, QTime(19, 0), Qt::UTC), 1);
    const int early = m_db->addEvent("", QDateTime(m_day, QTime(7, 30), Qt::UTC), QDateTime(m_day, QTime(8, 0), Qt::UTC), 1);
    // Written with a one-digit hour, as another tool may: the store returns it after 18:00.
    m_db->exec(QStringLiteral("UPDATE tblScheduledEvents SET EventTime = '2026-12-05 7:30' WHERE idScheduledEvent = %1").arg(early));
    m_db->addEvent("Tomorrow", QDateTime(m_day.addDays(1), QTime(7, 0), Qt::UTC), QDateTime(m_day.addDays(1), QTime(8, 0), Qt::UTC), 1);
    // Too long for the panel, ending the next day; a title that looks like markup stays text.
    const QString longTitle = QStringLiteral("Conditioning <b>circuit</b> & sprints for the whole squad, then stretching");
    m_db->addEvent(longTitle, QDateTime(m_day, QTime(20, 0), Qt::UTC), QDateTime(m_day.addDays(1), QTime(1, 15), Qt::UTC), 2);
    m_db->addEvent("Two\r\nlines", QDateTime(m_day, QTime(21, 0), Qt::UTC), QDateTime(m_day, QTime(22, 0), Qt::UTC), 7);
    // A date with a time of day picks the same day; the panel keeps the value as given.
    const QDateTime startUp(m_day, QTime(15, 42, 7));
    load(startUp);
    load(startUp, {{1, "Ann Lee"}, {2, "Bo Park"}}); // a reload replaces the entries
    QCOMPARE(m_panel->DayDate(), startUp);
    QCOMPARE(list()->topLevelItemCount(), 4);
    QCOMPARE(list()->topLevelItem(0)->text(0), QStringLiteral("07:30 "));
    QCOMPARE(list()->topLevelItem(1)->text(0), QStringLiteral("18:00 Scrimmage"));
    QCOMPARE(list()->topLevelItem(2)->text(0), QStringLiteral("20:00 ") + longTitle);
    QCOMPARE(list()->topLevelItem(0)->data(0, Qt::UserRole).toString(), QStringLiteral("itm%1").arg(early));
    QCOMPARE(list()->topLevelItem(1)->data(0, Qt::UserRole).toString(), QStringLiteral("itm%1").arg(late));
    // Only an entry cut short shows the rest in a tip: whole text, end, staff member (if known).
    QCOMPARE(tipShownAt(1), QString());
    QCOMPARE(tipShownAt(2), QStringLiteral("20:00 ") + longTitle + "\nEnd time: " + longDateText(m_day.addDays(1))
                                + " 01:15\nStaff Member: Bo Park");
    QCOMPARE(tipShownAt(3), QStringLiteral("21:00 Two\nlines\nEnd time: 22:00"));
    m_panel->resize(1200, 97);
    QCOMPARE(tipShownAt(2), QString());
}

void tst_DayPanel::mouseAndKeys_data()
{
    QTest::addColumn<int>("events");
    QTest::addColumn<QString>("input"); // a mouse button pressed, or a key typed
    QTest::addColumn<int>("row"); // where a button is pressed; -1: blank space under the entries
    QTest::addColumn<int>("preselected"); // -1: nothing selected before
    QTest::addColumn<QString>("raised");
    QTest::addColumn<int>("expectedRow"); // the entry reported; -1 reports -1, -2 reports nothing
    const QString right = "RightMouseClick";
    QTest::newRow("right on an empty day") << 0 << "right" << -1 << -1 << right << -1;
    QTest::newRow("right on an entry") << 3 << "right" << 1 << -1 << right << 1;
    QTest::newRow("right on an entry moves the selection") << 3 << "right" << 2 << 0 << right << 2;
    QTest::newRow("right on blank space reports the selected") << 3 << "right" << -1 << 1 << right << 1;
    QTest::newRow("right on blank space, none selected") << 3 << "right" << -1 << -1 << right << -1;
    QTest::newRow("left press") << 3 << "left" << 1 << -1 << "" << -2;
    QTest::newRow("middle press") << 3 << "middle" << 1 << 0 << "" << -2;
    // The keys reach what the mouse does, on the selected entry.
    QTest::newRow("Return opens the selected") << 3 << "Return" << -1 << 1 << "ScheduledEventSelected" << 1;
    QTest::newRow("Enter opens the selected") << 3 << "Enter" << -1 << 2 << "ScheduledEventSelected" << 2;
    QTest::newRow("Return, none selected") << 3 << "Return" << -1 << -1 << "" << -2;
    QTest::newRow("Delete asks for the selected") << 3 << "Delete" << -1 << 2 << "deleteKeyPressed" << 2;
    QTest::newRow("Delete, none selected") << 3 << "Delete" << -1 << -1 << "" << -2;
    QTest::newRow("Menu key at the selected") << 3 << "Menu" << -1 << 2 << "popupKeyPressed" << 2;
    QTest::newRow("Shift+F10 at the selected") << 3 << "Shift+F10" << -1 << 0 << "popupKeyPressed" << 0;
    QTest::newRow("Shift+F10 on an empty day") << 0 << "Shift+F10" << -1 << -1 << "popupKeyPressed" << -1;
    QTest::newRow("F10 alone") << 3 << "F10" << -1 << 0 << "" << -2;
}

void tst_DayPanel::mouseAndKeys()
{
    QFETCH(int, events);
    QFETCH(QString, input);
    QFETCH(int, row);
    QFETCH(int, preselected);
    QFETCH(QString, raised);
    QFETCH(int, expectedRow);
    QList<int> ids;
    for (int i = 0; i < events; ++i)
        ids << m_db->addEvent(QStringLiteral("E%1").arg(i), QDateTime(m_day, QTime(8 + i, 0), Qt::UTC),
                              QDateTime(m_day, QTime(9 + i, 0), Qt::UTC), 1);
    load(QDateTime(m_day, QTime(0, 0)));
    if (preselected >= 0)
        list()->setCurrentItem(list()->topLevelItem(preselected));

    QHash<QString, QSignalSpy *> spies;
    QSignalSpy right(m_panel.get(), &ctlWeekDayView::RightMouseClick);
    QSignalSpy dbl(m_panel.get(), &ctlWeekDayView::ScheduledEventSelected);
    QSignalSpy del(m_panel.get(), &ctlWeekDayView::deleteKeyPressed);
    QSignalSpy popup(m_panel.get(), &ctlWeekDayView::popupKeyPressed);
    spies = {{"RightMouseClick", &right}, {"ScheduledEventSelected", &dbl}, {"deleteKeyPressed", &del}, {"popupKeyPressed", &popup}};
    const QHash<QString, Qt::MouseButton> buttons{{"right", Qt::RightButton}, {"left", Qt::LeftButton}, {"middle", Qt::MiddleButton}};
    if (buttons.contains(input)) {
        const QPoint pos = row >= 0 ? entryCenter(row) : QPoint(10, list()->viewport()->height() - 3);
        QTest::mousePress(list()->viewport(), buttons[input], {}, pos);
        QTest::mouseRelease(list()->viewport(), buttons[input], {}, pos);
    } else {
        const QKeySequence key(input == "Enter" ? QKeySequence(Qt::KeypadModifier | Qt::Key_Enter) : QKeySequence(input));
        list()->setFocus();
        QTest::keySequence(list(), key);
    }

    for (auto it = spies.cbegin(); it != spies.cend(); ++it)
        QCOMPARE(it.value()->count(), it.key() == raised ? 1 : 0);
    if (expectedRow == -2)
        return;
    QCOMPARE(spies[raised]->at(0).at(0).toInt(), expectedRow == -1 ? -1 : ids.at(expectedRow));
    if (raised == "popupKeyPressed" && expectedRow >= 0) {
        // The popup opens at the entry it acts on.
        const QPoint at = list()->viewport()->mapFromGlobal(popup.at(0).at(1).toPoint());
        QVERIFY(list()->visualItemRect(list()->topLevelItem(expectedRow)).contains(at));
    }
}

void tst_DayPanel::doubleClickWithoutSelection()
{
    const int id = m_db->addEvent("Only", QDateTime(m_day, QTime(8, 0), Qt::UTC), QDateTime(m_day, QTime(9, 0), Qt::UTC), 1);
    load(QDateTime(m_day, QTime(0, 0)));
    QSignalSpy dbl(m_panel.get(), &ctlWeekDayView::ScheduledEventSelected);
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, QPoint(10, list()->viewport()->height() - 3));
    QCOMPARE(dbl.count(), 0);

    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, entryCenter(0));
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, entryCenter(0));
    QCOMPARE(dbl.count(), 1);
    QCOMPARE(dbl.at(0).at(0).toInt(), id);
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_DayPanel)
#include "tst_daypanel.moc"
