#include "ui/ReadOnly.h"

#include <QAction>

namespace readonly {

QString why()
{
    return QStringLiteral("Your login may only read this shared calendar, so this is turned off.");
}

QString windowTitle(const QString &title)
{
    return title + QStringLiteral(" (read-only)");
}

void turnOff(QAction *action, bool off, const QString &tip)
{
    if (!action)
        return;
    action->setEnabled(!off);
    action->setToolTip(off ? why() : tip);
    action->setStatusTip(off ? why() : QString());
}

} // namespace readonly
