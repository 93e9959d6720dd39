#pragma once

#include "ui/AppServices.h"

#include <QDialog>

// The About window: one shared instance, shown without waiting.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(const AppServices &services, QWidget *parent = nullptr);

    // Loads the shared instance when there is none, else brings it to the front.
    static frmAbout *showShared(const AppServices &services);

private:
    AppServices m_services;
};
