#include "print/mdlEventsGlobals.h"

#include "print/BrowserCommands.h"
#include "print/EventReport.h"
#include "print/ReportFile.h"
#include "print/frmPrint.h"
#include "store/Connection.h"
#include "store/Statements.h"
#include "ui/AppServices.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"

namespace mdlEventsGlobals {

bool addToReport = false;
QString reportPath;
QString reportHead;
QString reportBody;
QString reportTail;
QString reportText;

void startReportRun()
{
    if (addToReport)
        return;
    reportHead = eventReport::headText();
    reportTail = eventReport::tailText();
}

void addEventToReport(const eventReport::ReportEvent &event)
{
    if (addToReport)
        reportBody += eventReport::pageSeparator();
    else
        reportBody = eventReport::bodyOpening();
    reportBody += eventReport::eventBlock(event);
    reportText = reportHead + reportBody + reportTail;
}

namespace {

// Returns false when the event (or its staff member) does not exist.
bool readEvent(store::Connection &conn, int eventKey, eventReport::ReportEvent &event)
{
    store::RowSet rows = conn.execute(statements::eventReport(eventKey));
    if (rows.eof())
        return false;
    event = eventReport::readReportEvent(rows);
    return true;
}

void showPrintWindow(const AppServices &services)
{
    frmPrint window(services);
    window.frmPrint_Form_Load();
    services.modal->showModal(window);
}

} // namespace

void printEventReport(const AppServices &services, int eventKey, store::Connection &conn)
{
    bool failed = false;
    QString failure;
    try {
        startReportRun();
        eventReport::ReportEvent event;
        if (readEvent(conn, eventKey, event)) {
            addEventToReport(event);
            reportPath = reportPathIn(services.programFolder);
            writeReportFile(reportPath, eventReport::fileBytes(reportText));
            showPrintWindow(services);
        }
    } catch (const store::StoreError &e) {
        failed = true;
        failure = e.description();
    } catch (const ReportFileError &e) {
        failed = true;
        failure = e.description();
    } catch (const BrowserError &e) {
        failed = true;
        failure = e.description();
    }
    if (failed)
        services.prompt->critical(nullptr, QStringLiteral("An error occured while loading the record.\r\n") + failure);
    conn.close();
}

} // namespace mdlEventsGlobals
