// Fuzzes the import's reading and expansion of a calendar file: whatever the
// file holds, it is read within the time limit or refused with a line of the
// file, and what is read starts between the chosen days and ends after it starts.

#include "exchange/ICalendar.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const QDate first(2026, 12, 1), last(2026, 12, 31);
    int lines = 1;
    for (char c : text)
        lines += c == '\n';
    try {
        // Shorter than the program's limit, so that libFuzzer's own (10 s) never meets it.
        exchange::ReadControl control;
        control.timeLimitMs = 2000;
        const exchange::ReadCalendar read = exchange::readCalendar(text, first, last, control);
        check(read.events.size() <= exchange::kMostOccurrences + 100000, "too many events");
        for (const exchange::CalendarEvent &e : read.events) {
            check(e.start.isValid() && e.end.isValid(), "an invalid time");
            check(e.start.date() >= first && e.start.date() <= last, "an event outside the chosen days");
            check(e.end >= e.start, "an event ending before it starts");
            check(e.end.date().year() <= 9999, "an end past the year 9999");
        }
    } catch (const exchange::CalendarFileError &e) {
        check(e.line() >= 1 && e.line() <= lines, "a refusal without a line of the file");
        check(!e.reason().isEmpty(), "a refusal without a reason");
    }
    return 0;
}
