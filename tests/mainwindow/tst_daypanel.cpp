#include "mainwindow/ctlWeekDayView.h"
#include "store/Connection.h"
#include "support/TestDatabase.h"

#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

class tst_DayPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void entries();
    void mouseButtons_data();
    void mouseButtons();
    void doubleClickWithoutSelection();

private:
    void load(const QDateTime &date);
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

void tst_DayPanel::load(const QDateTime &date)
{
    store::Connection conn;
    conn.open(m_db->connectionString());
    m_panel->loadEvents(conn, date);
}

void tst_DayPanel::entries()
{
    // Stored out of order; listed by start time. An empty title keeps its blank.
    const int late = m_db->addEvent("Scrimmage", QDateTime(m_day, QTime(18, 0), Qt::UTC), QDateTime(m_day, QTime(19, 0), Qt::UTC), 1);
    const int early = m_db->addEvent("", QDateTime(m_day, QTime(7, 30), Qt::UTC), QDateTime(m_day, QTime(8, 0), Qt::UTC), 1);
    m_db->addEvent("Tomorrow", QDateTime(m_day.addDays(1), QTime(7, 0), Qt::UTC), QDateTime(m_day.addDays(1), QTime(8, 0), Qt::UTC), 1);
    // A date with a time of day picks the same day; the panel keeps the value as given.
    const QDateTime startUp(m_day, QTime(15, 42, 7));
    load(startUp);
    load(startUp); // a reload replaces the entries
    QCOMPARE(m_panel->DayDate(), startUp);
    QCOMPARE(list()->topLevelItemCount(), 2);
    QCOMPARE(list()->topLevelItem(0)->text(0), QStringLiteral("07:30 "));
    QCOMPARE(list()->topLevelItem(1)->text(0), QStringLiteral("18:00 Scrimmage"));
    QCOMPARE(list()->topLevelItem(0)->data(0, Qt::UserRole).toString(), QStringLiteral("itm%1").arg(early));
    QCOMPARE(list()->topLevelItem(1)->data(0, Qt::UserRole).toString(), QStringLiteral("itm%1").arg(late));
}

void tst_DayPanel::mouseButtons_data()
{
    QTest::addColumn<int>("events");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("row"); // -1: blank space under the entries
    QTest::addColumn<int>("preselected"); // -1: nothing selected before the press
    QTest::addColumn<int>("expectedRow"); // the entry reported; -1 reports -1, -2 reports nothing
    QTest::newRow("right on an empty day") << 0 << Qt::RightButton << -1 << -1 << -1;
    QTest::newRow("right on an entry") << 3 << Qt::RightButton << 1 << -1 << 1;
    QTest::newRow("right on an entry moves the selection") << 3 << Qt::RightButton << 2 << 0 << 2;
    QTest::newRow("right on blank space reports the selected") << 3 << Qt::RightButton << -1 << 1 << 1;
    QTest::newRow("right on blank space, none selected") << 3 << Qt::RightButton << -1 << -1 << -1;
    QTest::newRow("left press") << 3 << Qt::LeftButton << 1 << -1 << -2;
    QTest::newRow("middle press") << 3 << Qt::MiddleButton << 1 << 0 << -2;
}

void tst_DayPanel::mouseButtons()
{
    QFETCH(int, events);
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, row);
    QFETCH(int, preselected);
    QFETCH(int, expectedRow);
    QList<int> ids;
    for (int i = 0; i < events; ++i)
        ids << m_db->addEvent(QStringLiteral("E%1").arg(i), QDateTime(m_day, QTime(8 + i, 0), Qt::UTC),
                              QDateTime(m_day, QTime(9 + i, 0), Qt::UTC), 1);
    load(QDateTime(m_day, QTime(0, 0)));
    if (preselected >= 0)
        list()->setCurrentItem(list()->topLevelItem(preselected));

    QSignalSpy right(m_panel.get(), &ctlWeekDayView::RightMouseClick);
    QSignalSpy dbl(m_panel.get(), &ctlWeekDayView::ScheduledEventSelected);
    const QPoint pos = row >= 0 ? entryCenter(row) : QPoint(10, list()->viewport()->height() - 3);
    QTest::mousePress(list()->viewport(), button, {}, pos);
    QTest::mouseRelease(list()->viewport(), button, {}, pos);

    QCOMPARE(dbl.count(), 0);
    if (expectedRow == -2) {
        QCOMPARE(right.count(), 0);
        return;
    }
    QCOMPARE(right.count(), 1);
    QCOMPARE(right.at(0).at(0).toInt(), expectedRow == -1 ? -1 : ids.at(expectedRow));
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
