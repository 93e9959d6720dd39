#include "ui/WindowKeys.h"

#include "ui/Prompt.h"

#include <QAction>
#include <QKeyEvent>
#include <QToolBar>
#include <QToolButton>

namespace windowkeys {
namespace {

class ButtonKeys : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier) {
                if (auto *button = qobject_cast<QToolButton *>(watched)) {
                    button->click();
                    return true;
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

class AltFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            // Ctrl+Alt is AltGr on some keyboards, which types letters on purpose.
            if ((key->modifiers() & Qt::AltModifier) && !(key->modifiers() & Qt::ControlModifier)
                && !key->text().isEmpty() && key->text().front().isPrint())
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void giveKeys(QAction *action, const QList<QKeySequence> &keys)
{
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    QString tip = action->text();
    tip.remove(QLatin1Char('&'));
    if (!keys.isEmpty())
        tip += QStringLiteral(" (%1)").arg(keys.first().toString(QKeySequence::NativeText));
    action->setToolTip(tip);
}

QList<QWidget *> reachableButtons(QToolBar *bar)
{
    auto *keys = new ButtonKeys(bar);
    QList<QWidget *> buttons;
    for (QAction *action : bar->actions()) {
        QWidget *button = bar->widgetForAction(action);
        if (!button)
            continue;
        button->setFocusPolicy(Qt::TabFocus);
        button->installEventFilter(keys);
        buttons << button;
    }
    return buttons;
}

void keepAltOutOfFields(QWidget *window)
{
    auto *filter = new AltFilter(window);
    window->installEventFilter(filter);
    for (QWidget *child : window->findChildren<QWidget *>())
        child->installEventFilter(filter);
}

bool mayClose(QWidget *window, Prompt &prompt, bool changed, const std::function<void()> &save)
{
    if (!changed)
        return true;
    switch (prompt.askToSave(window, QStringLiteral("Do you want to save your changes before closing?"))) {
    case Prompt::Answer::Save:
        save();
        return false;
    case Prompt::Answer::Discard:
        return true;
    default:
        return false;
    }
}

} // namespace windowkeys
