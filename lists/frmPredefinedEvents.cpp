#include "lists/frmPredefinedEvents.h"

frmPredefinedEvents::frmPredefinedEvents(const AppServices &services, QWidget *parent)
    : frmListManager(ListKind::templates(), services, parent)
{
}
