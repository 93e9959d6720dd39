#pragma once

#include <QString>

class QAbstractItemView;
class QCalendarWidget;
class QWidget;

// What a screen reader hears of the windows beyond their visible texts.
namespace accessibility {

// Names the month calendar's buttons and year field, and has each cell of
// its month grid read as the full date (the grid shows bare day numbers).
void readableCalendar(QCalendarWidget *calendar);

// The view's entries say they have the focus only while the view has it, and
// are read by their Qt::AccessibleTextRole where they have one.
void readableItems(QAbstractItemView *view);

// `widget` passes the focus to its focus proxy and does not claim it itself.
void hostOfFocusProxy(QWidget *widget);

// `widget` only draws a line: a reader passes over it.
void decoration(QWidget *widget);

// Gives `widget` its accessible name; a reader is told only of a real change.
void announceName(QWidget *widget, const QString &name);

} // namespace accessibility
