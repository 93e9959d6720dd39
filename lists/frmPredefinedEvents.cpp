#include "lists/frmPredefinedEvents.h"

frmPredefinedEvents::frmPredefinedEvents(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmPredefinedEvents"));
    setWindowTitle(QStringLiteral("Pre-Defined Activity or Drill"));
}
