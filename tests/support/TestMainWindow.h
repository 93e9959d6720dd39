#pragma once

#include "mainwindow/frmEventsMain.h"

#include <QAction>
#include <QMenu>

// The main window with its popup answered by the test: the entry named
// `choose` is triggered at once, as a click on it would; nothing when empty.
class TestMainWindow : public frmEventsMain
{
public:
    using frmEventsMain::frmEventsMain;
    QString choose;
    void showPopup(QMenu *menu, const QPoint &) override
    {
        if (!choose.isEmpty())
            trigger(menu);
    }

private:
    // The menu's entries, the Edit menu's Undo and Redo it shows too, and its submenus'.
    bool trigger(QMenu *menu)
    {
        for (QAction *action : menu->actions()) {
            if (action->objectName() == choose) {
                action->trigger();
                return true;
            }
            if (action->menu() && trigger(action->menu()))
                return true;
        }
        return false;
    }
};
