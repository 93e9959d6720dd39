#include "print/mdlEventsGlobals.h"

#include "store/Connection.h"

namespace mdlEventsGlobals {

bool addToReport = false;
QString reportPath;
QString reportHead;
QString reportBody;
QString reportTail;
QString reportText;

void printEventReport(const AppServices &, int, store::Connection &conn)
{
    conn.close();
}

} // namespace mdlEventsGlobals
