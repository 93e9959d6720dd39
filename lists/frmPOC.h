#pragma once

#include "ui/AppServices.h"

#include <QDialog>

class frmPOC : public QDialog
{
    Q_OBJECT
public:
    explicit frmPOC(const AppServices &services, QWidget *parent = nullptr);

private:
    AppServices m_services;
};
