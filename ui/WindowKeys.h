#pragma once

#include <QKeySequence>
#include <QList>

#include <functional>

class Prompt;
class QAction;
class QToolBar;
class QWidget;

// Keyboard use of the windows whose commands sit on a toolbar instead of buttons.
namespace windowkeys {

// Gives a toolbar action its keys and names the first one in its tooltip.
void giveKeys(QAction *action, const QList<QKeySequence> &keys);

// The toolbar's buttons take the focus with Tab (not with a click, which leaves
// the focus in the field), and Return, Enter or Space presses the focused one.
// Returns them left to right, for the window's tab order.
QList<QWidget *> reachableButtons(QToolBar *bar);

// Alt with a letter that is no key of the window must not be typed into the
// field that has the focus, as text editors otherwise do.
void keepAltOutOfFields(QWidget *window);

// Closing a window with changes asks Save / Discard / Cancel first. True when
// the window may close now; `save` saves and closes it by itself.
bool mayClose(QWidget *window, Prompt &prompt, bool changed, const std::function<void()> &save);

} // namespace windowkeys
