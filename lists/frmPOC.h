#pragma once

#include "lists/frmListManager.h"

// Staff members, the events' points of contact: "Staff Members".
class frmPOC : public frmListManager
{
    Q_OBJECT
public:
    explicit frmPOC(const AppServices &services, QWidget *parent = nullptr);

    void cmbPOC_Click() { combo_Click(); }
};
