#include "about/frmAbout.h"

#include <QPointer>

frmAbout::frmAbout(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Orvenna"));
}

frmAbout *frmAbout::showShared(const AppServices &services)
{
    static QPointer<frmAbout> instance;
    if (!instance) {
        instance = new frmAbout(services);
        instance->setAttribute(Qt::WA_DeleteOnClose);
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance;
}
