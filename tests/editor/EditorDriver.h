#pragma once

// Finds the editor's controls by name and works them the way a person does.

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimeEdit>
#include <QToolBar>

namespace driver {

template <typename T>
T *control(const QWidget &window, const char *name)
{
    auto *c = window.findChild<T *>(QLatin1String(name));
    if (!c)
        qFatal("control %s not found", name);
    return c;
}

inline QComboBox *titleList(const QWidget &w) { return control<QComboBox>(w, "cmbPredefinedEvents"); }
inline QComboBox *staffList(const QWidget &w) { return control<QComboBox>(w, "cmbPOCs"); }
inline QPlainTextEdit *description(const QWidget &w) { return control<QPlainTextEdit>(w, "txtDescription"); }
inline QPlainTextEdit *notes(const QWidget &w) { return control<QPlainTextEdit>(w, "txtNotes"); }
inline QDateEdit *startDate(const QWidget &w) { return control<QDateEdit>(w, "dtStartDate"); }
inline QDateEdit *endDate(const QWidget &w) { return control<QDateEdit>(w, "dtEndDate"); }
inline QTimeEdit *startTime(const QWidget &w) { return control<QTimeEdit>(w, "dtStartTime"); }
inline QTimeEdit *endTime(const QWidget &w) { return control<QTimeEdit>(w, "dtEndTime"); }

// Presses a toolbar button by its key.
inline void press(const QWidget &w, const char *key)
{
    auto *bar = control<QToolBar>(w, "tlbrTop");
    auto *action = bar->findChild<QAction *>(QLatin1String(key));
    if (!action)
        qFatal("toolbar key %s not found", key);
    QTest::mouseClick(bar->widgetForAction(action), Qt::LeftButton);
}

inline void retype(QLineEdit *edit, const QString &text)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

inline void retype(QComboBox *combo, const QString &text)
{
    retype(combo->lineEdit(), text);
}

// Lines are typed with the Return key between them.
inline void retype(QPlainTextEdit *box, const QString &text)
{
    QTest::mouseClick(box->viewport(), Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClicks(box, lines.at(i));
    }
}

// Opens the drop-down list from the keyboard and clicks the entry.
inline void pick(QComboBox *combo, int row)
{
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_F4);
    QAbstractItemView *view = combo->view();
    QTRY_VERIFY(view->isVisible());
    const QRect r = view->visualRect(combo->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    QTRY_VERIFY(!view->isVisible());
}

} // namespace driver
