#include "ui/ModalRunner.h"

#include <QDialog>

int ExecModalRunner::showModal(QDialog &dialog)
{
    return dialog.exec();
}
