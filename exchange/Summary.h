#pragma once

#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"

#include <QString>

// What an import or export tells when it is done, the same in the calendar's
// message box and in orvenna-ics (lines end in CR LF).
namespace exchange {

[[nodiscard]] QString exportSummary(int count, const QString &path);
[[nodiscard]] QString importSummary(const ImportResult &result, const ReadCalendar &read);

} // namespace exchange
