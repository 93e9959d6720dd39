#include "lists/frmPOC.h"

frmPOC::frmPOC(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmPOC"));
    setWindowTitle(QStringLiteral("Staff Members"));
}
