#pragma once

#include "ui/AppServices.h"

#include <QDialog>

class frmPredefinedEvents : public QDialog
{
    Q_OBJECT
public:
    explicit frmPredefinedEvents(const AppServices &services, QWidget *parent = nullptr);

private:
    AppServices m_services;
};
