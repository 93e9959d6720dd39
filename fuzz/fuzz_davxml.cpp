// Fuzzes the reading of a CalDAV server's multistatus answer: whatever the
// server sends is read into responses that each name a resource, or refused
// with a reason; it never crashes or hangs.

#include "sync/DavError.h"
#include "sync/DavXml.h"

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
    const QByteArray xml(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const caldav::Multistatus m = caldav::parseMultistatus(xml);
        for (const caldav::DavResponse &r : m.responses) {
            check(!r.href.isEmpty(), "a response without href");
            check(r.status == 0 || (r.status >= 100 && r.status <= 999), "a status that is none");
        }
    } catch (const caldav::DavError &e) {
        check(e.fault() == caldav::Fault::BadAnswer, "another fault than a bad answer");
        check(!e.reason().isEmpty(), "a refusal without a reason");
    }
    return 0;
}
