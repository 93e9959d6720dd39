#pragma once

#include "lists/frmListManager.h"

// Activity and drill templates: "Pre-Defined Activity or Drill".
class frmPredefinedEvents : public frmListManager
{
    Q_OBJECT
public:
    explicit frmPredefinedEvents(const AppServices &services, QWidget *parent = nullptr);

    void cmbPredefinedEvents_Click() { combo_Click(); }
};
