#include "lists/frmPOC.h"

frmPOC::frmPOC(const AppServices &services, QWidget *parent)
    : frmListManager(ListKind::staff(), services, parent)
{
}
