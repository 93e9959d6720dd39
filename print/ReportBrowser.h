#pragma once

#include "print/BrowserCommands.h"

#include <QPrinter>
#include <QTextBrowser>

// The HTML view of the print window: shows the report file with the style
// sheet beside it and prints it, one event per page. Runs no scripts and
// follows no links.
class ReportBrowser : public QTextBrowser, public BrowserCommands
{
    Q_OBJECT
public:
    explicit ReportBrowser(QWidget *parent = nullptr);
    ~ReportBrowser() override;

    void navigate(const QString &path) override;
    quint32 queryStatus(int cmd) override;
    void exec(int cmd, int option) override;
    void exec(int cmd, int option, const QString &in, QString &out) override;
    void setLandscape() override;
    QWidget *widget() override { return this; }

    // The view's own printer: page setup changes it, printing uses it. Tests
    // point it at a PDF file and print without a dialog.
    [[nodiscard]] QPrinter &printer() { return m_printer; }

    // The style sheet the report's head asks for, and what this engine needs
    // beyond it: it ignores rules wrapped in a comment and @import.
    [[nodiscard]] static QString styleSheetFor(const QString &reportPath);

    // A long report shows its first pages at once and the rest right after
    // they are painted; every command works on the whole report.
    [[nodiscard]] bool isComplete() const { return m_rest.isEmpty(); }
    void complete();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void run(int cmd, int option);
    void printDocument(QPrinter *printer);
    [[nodiscard]] bool printerReady() const;

    QPrinter m_printer;
    bool m_loaded = false;
    QString m_rest; // the whole report while only its first pages are shown
    QString m_whole; // the report as printed, when the view shows it cut short
    bool m_completionQueued = false;
    bool m_previewJustShown = false;
    bool m_marginsChosen = false; // by a page setup, which may choose narrow ones
};

class ReportBrowserFactory : public BrowserFactory
{
public:
    std::unique_ptr<BrowserCommands> create(QWidget *parent) override;
};
