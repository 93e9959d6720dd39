#pragma once

#include "ui/AppServices.h"

#include <QDateTime>
#include <QDialog>

// The "Activity / Drill" editor: creates, edits, deletes and prints one event.
// The load handler runs in the constructor, before the caller prepares it.
class frmEventEditor : public QDialog
{
    Q_OBJECT
public:
    explicit frmEventEditor(const AppServices &services, QWidget *parent = nullptr);

    void loadScheduledEvent(int eventId);
    void loadPredefinedEventDetails(int templateId);
    // Values of dtStartDate and dtEndDate (the date is used).
    void setStartDate(const QDateTime &value);
    void setEndDate(const QDateTime &value);
    // Text of cmbPredefinedEvents.
    void setTitleText(const QString &title);

private:
    AppServices m_services;
};
