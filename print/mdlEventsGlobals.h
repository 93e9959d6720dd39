#pragma once

#include <QString>

struct AppServices;
namespace store { class Connection; }
namespace eventReport { struct ReportEvent; }

// Application-wide report state: a report grows across prints while
// `addToReport` is set by the print window's "Add Event".
namespace mdlEventsGlobals {

extern bool addToReport;
extern QString reportPath;
extern QString reportHead;
extern QString reportBody;
extern QString reportTail;
extern QString reportText;

// Reads the event and its staff member on `conn`, writes printEvent.html into
// the program's folder and shows the print window modally. Closes `conn`
// before returning, whatever the outcome. An unknown event does nothing; an
// event whose staff member is gone says so and how to fix it.
void printEventReport(const AppServices &services, int eventKey, store::Connection &conn);

// Said instead of printing an event whose staff member was deleted.
[[nodiscard]] QString missingStaffMessage(const QString &title);

// The steps of a run that only touch the report strings, in the order a run
// takes them: head and tail (unless appending), then the event's block.
void startReportRun();
void addEventToReport(const eventReport::ReportEvent &event);

} // namespace mdlEventsGlobals
