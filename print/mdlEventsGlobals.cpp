#include "print/mdlEventsGlobals.h"

#include "print/BrowserCommands.h"
#include "print/EventReport.h"
#include "print/ReportFile.h"
#include "print/frmPrint.h"
#include "store/Connection.h"
#include "store/Events.h"
#include "ui/AppServices.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"

#include <optional>

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

// The report joins the event to its staff member; when the join found nothing
// but the event is there, its staff member was deleted. Returns the event's
// title then, nothing when the event itself is gone (or cannot be read).
std::optional<QString> titleOfEventWithoutStaff(store::Connection &conn, int eventKey)
{
    try {
        // Read as a listing does: the title is all this needs.
        const std::optional<store::Event> event = store::Events::readOne(conn, eventKey, store::Events::Reading::Listed);
        if (event)
            return event->values.title;
    } catch (const store::StoreError &) {
        // Nothing to tell beyond what the report already found: no event.
    }
    return std::nullopt;
}

void showPrintWindow(const AppServices &services)
{
    frmPrint window(services);
    window.frmPrint_Form_Load();
    services.modal->showModal(window);
}

} // namespace

QString missingStaffMessage(const QString &title)
{
    return QStringLiteral("The event '%1' cannot be printed: the staff member it names no longer exists.\r\n"
                          "Pick another staff member in the event's Staff Member list, choose Save and Close, then "
                          "print it again.")
        .arg(title);
}

void printEventReport(const AppServices &services, int eventKey, store::Connection &conn)
{
    bool failed = false;
    // A report that could not be written is a failed write, not a failed read.
    QString heading = QStringLiteral("An error occured while loading the record.");
    QString failure, details;
    std::optional<QString> withoutStaff;
    try {
        startReportRun();
        if (const std::optional<store::Event> event = store::Events::readForReport(conn, eventKey)) {
            addEventToReport(eventReport::reportEvent(*event));
            reportPath = reportPathIn(services.programFolder);
            writeReportFile(reportPath, eventReport::fileBytes(reportText));
            showPrintWindow(services);
        } else {
            withoutStaff = titleOfEventWithoutStaff(conn, eventKey);
        }
    } catch (const store::StoreError &e) {
        failed = true;
        failure = e.description();
        details = e.details();
    } catch (const ReportFileError &e) {
        failed = true;
        heading = kReportWriteFailure;
        failure = e.description();
    } catch (const BrowserError &e) {
        failed = true;
        failure = e.description();
    }
    if (failed)
        services.prompt->critical(nullptr, heading + QStringLiteral("\r\n") + failure, QString(), details);
    else if (withoutStaff)
        services.prompt->inform(nullptr, missingStaffMessage(*withoutStaff));
    conn.close();
}

} // namespace mdlEventsGlobals
