#pragma once

#include "ui/AppServices.h"

#include <QDialog>

#include <memory>

class ActiveResize;
class BrowserCommands;
class QPushButton;

// Shows printEvent.html and prints it through the HTML view's commands; "Add
// Event" closes the window and makes the next print append to this report.
class frmPrint : public QDialog
{
    Q_OBJECT
public:
    explicit frmPrint(const AppServices &services, QWidget *parent = nullptr);
    ~frmPrint() override;

    // Displays the report file and resets the report and page state. A view
    // that cannot display the file throws BrowserError to the caller.
    void frmPrint_Form_Load();
    // Shows the week plan at `path` instead: landscape pages, and no "Add
    // Event", since a plan gathers no further events. The report and page
    // state stay as they are. A view that cannot display the file throws
    // BrowserError to the caller.
    void showWeekPlan(const QString &path);

    void frmPrint_cmdPrint_Click();
    void frmPrint_cmdPrintPreview_Click();
    void frmPrint_cmdPageSetup_Click();
    void frmPrint_cmdAddEvent_Click();

    void printPreview(BrowserCommands &selectedObject);
    void printPageSetup(BrowserCommands &selectedObject);
    void printSelection(BrowserCommands &selectedObject);

    [[nodiscard]] bool pageSet() const { return m_pageSet; }
    [[nodiscard]] BrowserCommands &WebBrowser1() { return *m_WebBrowser1; }

private:
    void createControls();
    void disabledNotice();

    AppServices m_services;
    std::unique_ptr<BrowserCommands> m_WebBrowser1;
    QPushButton *m_cmdPrint = nullptr;
    QPushButton *m_cmdPrintPreview = nullptr;
    QPushButton *m_cmdPageSetup = nullptr;
    QPushButton *m_cmdAddEvent = nullptr;
    ActiveResize *m_ActiveResize1 = nullptr;
    bool m_pageSet = false;
};
