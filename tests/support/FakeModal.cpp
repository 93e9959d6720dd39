#include "support/FakeModal.h"

#include <QApplication>

int FakeModal::showModal(QDialog &dialog)
{
    shownNames << dialog.objectName();
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    QApplication::processEvents();
    if (!steps.isEmpty())
        steps.dequeue()(dialog);
    if (dialog.isVisible())
        dialog.close();
    return dialog.result();
}
