#include "editor/frmEventEditor.h"

frmEventEditor::frmEventEditor(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmEventEditor"));
    setWindowTitle(QStringLiteral("Activity / Drill"));
}

void frmEventEditor::loadScheduledEvent(int) {}
void frmEventEditor::loadPredefinedEventDetails(int) {}
void frmEventEditor::setStartDate(const QDateTime &) {}
void frmEventEditor::setEndDate(const QDateTime &) {}
void frmEventEditor::setTitleText(const QString &) {}
