#pragma once

#include "ui/AppServices.h"

#include <QDialog>
#include <QStringList>

class DesktopServices;
class QLabel;
class QPushButton;

// The About window: product name, version, the maker's links and a launcher
// for the system information tool. One shared instance, shown without waiting.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    // The load handler runs here.
    explicit frmAbout(const AppServices &services, QWidget *parent = nullptr);

    // Loads the shared instance when there is none, else brings it to the front.
    static frmAbout *showShared(const AppServices &services);

    // Handlers
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void lblEmail_Click();
    void lblWebsite_Click();

    // Starts the system information tool, or says that there is none.
    void StartSysInfo();

    // Where there is no registry: the desktops' own system information tools,
    // looked for on the PATH in this order.
    [[nodiscard]] static QStringList systemInfoPrograms();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void createControls();
    // The last line: the folder of the calendar file, or the shared calendar's address.
    void showCalendarInUse();
    [[nodiscard]] DesktopServices &desktop() const;

    AppServices m_services;
    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblVersion = nullptr;
    QLabel *m_lblDescription = nullptr;
    QLabel *m_lblWebsite = nullptr;
    QLabel *m_lblEmail = nullptr;
    QLabel *m_lblDataFolder = nullptr; // where the database and the report are
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdSysInfo = nullptr;
};
