#pragma once

// What the editor tests share: a store with templates and staff, and helpers
// that find the editor's controls by name and work them the way a person does.

#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QTest>
#include <QtWidgets>

namespace driver {

inline QDateTime at(const QDate &d, int h, int m) { return QDateTime(d, QTime(h, m), Qt::UTC); }

// Three templates and two staff members, as a coaching staff would have.
struct Fixture
{
    TestDatabase db;
    int passing = db.addTemplate("Passing drill", "Pairs pass.\r\nSwitch feet.");
    int sprints = db.addTemplate("Sprints", "6 x 40 yards");
    int coolDown = db.addTemplate("Cool-down", "Easy jog");
    int jane = db.addStaff("Jane Coachwright", "Head coach");
    int omar = db.addStaff("Omar Field", "Assistant");

    // Every stored event as "title|description|notes|start|end|staff", in key order.
    QStringList events()
    {
        return db.scalar("SELECT group_concat(e, '/') FROM (SELECT title||'|'||Description||'|'||Notes||'|'||EventTime"
                         "||'|'||EventTimeEnd||'|'||idPOC AS e FROM tblScheduledEvents ORDER BY idScheduledEvent)")
            .toString().split('/', Qt::SkipEmptyParts);
    }
};

template <typename T = QWidget>
T *control(const QWidget &window, const char *name)
{
    if (T *c = window.findChild<T *>(QLatin1String(name)))
        return c;
    qFatal("control %s not found", name);
}

inline QComboBox *titleList(const QWidget &w) { return control<QComboBox>(w, "cmbPredefinedEvents"); }
inline QComboBox *staffList(const QWidget &w) { return control<QComboBox>(w, "cmbPOCs"); }
inline QPlainTextEdit *description(const QWidget &w) { return control<QPlainTextEdit>(w, "txtDescription"); }
inline QPlainTextEdit *notes(const QWidget &w) { return control<QPlainTextEdit>(w, "txtNotes"); }

// Presses a toolbar button by its key.
inline void press(const QWidget &w, const char *key)
{
    QTest::mouseClick(control<QToolBar>(w, "tlbrTop")->widgetForAction(control<QAction>(w, key)), Qt::LeftButton);
}

// Clicks into a text field and types over all it holds; "\r" is the Return key.
inline void retype(QWidget *field, const QString &text)
{
    if (auto *combo = qobject_cast<QComboBox *>(field))
        field = combo->lineEdit();
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

// Clicks an entry of a list; twice for a double click.
inline void clickEntry(QAbstractItemView *view, int row, bool twice = false)
{
    const QPoint p = view->visualRect(view->model()->index(row, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, p);
    if (twice)
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, p);
}

// Opens the drop-down list from the keyboard and clicks the entry.
inline void pick(QComboBox *combo, int row)
{
    QTest::keyClick(combo, Qt::Key_F4);
    QTRY_VERIFY(combo->view()->isVisible());
    clickEntry(combo->view(), row);
    QTRY_VERIFY(!combo->view()->isVisible());
}

} // namespace driver
