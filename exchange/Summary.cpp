#include "exchange/Summary.h"

#include <QDir>
#include <QStringList>

namespace exchange {
namespace {

constexpr int kListedNames = 12;

} // namespace

QString exportSummary(int count, const QString &path)
{
    return QStringLiteral("Exported %1 events to %2.").arg(count).arg(QDir::toNativeSeparators(path));
}

QString importSummary(const ImportResult &result, const ReadCalendar &read)
{
    QString summary = result.added.size() == 1 ? QStringLiteral("Added 1 event.")
                                               : QStringLiteral("Added %1 events.").arg(result.added.size());
    QStringList skipped;
    if (result.alreadyImported)
        skipped << QStringLiteral("%1 imported before").arg(result.alreadyImported);
    if (result.ownEvents)
        skipped << QStringLiteral("%1 exported from this calendar").arg(result.ownEvents);
    if (read.cancelled)
        skipped << QStringLiteral("%1 cancelled").arg(read.cancelled);
    if (read.outsideRange)
        skipped << QStringLiteral("%1 outside the chosen dates").arg(read.outsideRange);
    if (!read.unknownZone.isEmpty()) {
        QStringList named = read.unknownZone.mid(0, kListedNames);
        if (read.unknownZone.size() > kListedNames)
            named << QStringLiteral("... and %1 more").arg(read.unknownZone.size() - kListedNames);
        skipped << QStringLiteral("%1 in a time zone the file does not define and Orvenna does not know: %2")
                       .arg(read.unknownZone.size())
                       .arg(named.join(QStringLiteral(", ")));
    }
    if (!skipped.isEmpty())
        summary += QStringLiteral("\r\nSkipped: ") + skipped.join(QStringLiteral(", ")) + QStringLiteral(".");
    return summary;
}

} // namespace exchange
