// The calendar file exchange without a window: export to and import from an
// .ics file, with the texts and outcomes of the File menu's commands.

#include "exchange/CalendarFile.h"
#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"
#include "exchange/Summary.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Engine.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <optional>

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2 };

const char kUsage[] =
    "usage: orvenna-ics export FILE [--from DATE --to DATE] [--calendar PATH | --database URL]\n"
    "       orvenna-ics import FILE --from DATE --to DATE [--staff NAME] [--calendar PATH | --database URL]\n";

const char kHelp[] =
    "Exports the calendar's events to an iCalendar (.ics) file, or imports the events of one,\n"
    "as the File menu's Export Calendar and Import Calendar do, without a window.\n"
    "\n"
    "  export FILE        writes the events (all of them, or those starting from --from to --to)\n"
    "                     to FILE; .ics is added to a name without an extension\n"
    "  import FILE        adds the events of FILE starting from --from to --to, skipping those\n"
    "                     imported before; repeating events give their occurrences in that time\n"
    "  --from DATE        first day, as YYYY-MM-DD or M/D/YYYY\n"
    "  --to DATE          last day, included\n"
    "  --staff NAME       whose events those are that name no staff member of the calendar\n"
    "  --calendar PATH    the calendar file; by default eventDB.mdb beside orvenna-ics, else in\n"
    "                     $XDG_DATA_HOME/orvenna (by default ~/.local/share/orvenna)\n"
    "  --database URL     the shared calendar at URL, postgresql://user@host[:port]/dbname\n"
    "  -h, --help         show this help and exit\n"
    "\n"
    "Exit status: 0 done, 1 failed (nothing was imported), 2 wrong command line.\n";

// Messages are written for a message box, with CR LF between lines.
QString forTerminal(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

int fail(const QString &text, const QString &reason = QString())
{
    QTextStream err(stderr);
    err << "orvenna-ics: " << forTerminal(text) << "\n";
    if (!reason.isEmpty())
        err << forTerminal(reason) << "\n";
    return Failure;
}

int usage(const QString &error)
{
    QTextStream(stderr) << "orvenna-ics: " << error << "\n" << kUsage;
    return Usage;
}

std::optional<QDate> parseDate(const QString &text)
{
    for (const QString &format : {QStringLiteral("yyyy-MM-dd"), QStringLiteral("M/d/yyyy")}) {
        const QDate date = QDate::fromString(text.trimmed(), format);
        if (date.isValid())
            return date;
    }
    return std::nullopt;
}

// The file the calendar itself opens when it runs from this folder, else the
// one of a per-user install.
QString defaultCalendar()
{
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(store::kDatabaseFileName);
    if (QFileInfo::exists(beside))
        return beside;
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/orvenna/") + QLatin1String(store::kDatabaseFileName);
}

int exportFile(const QString &connectionString, QString path, const std::optional<exchange::DayRange> &range)
{
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".ics");
    int count = 0;
    try {
        count = exportCalendarFile(connectionString, range, path);
    } catch (const store::StoreError &e) {
        return fail(QStringLiteral("An error occured while reading the events.\r\n") + e.description(), e.details());
    } catch (const CalendarFileWriteError &e) {
        return fail(QStringLiteral("The calendar file could not be written.\r\n") + e.text, e.reason);
    }
    QTextStream(stdout) << forTerminal(exchange::exportSummary(count, path)) << "\n";
    return Success;
}

int importFile(const QString &connectionString, const QString &path, const exchange::DayRange &range,
               const std::optional<QString> &staffName)
{
    const CalendarFileRead file = readCalendarFile(path, range, exchange::ReadControl());
    if (!file.failure.isEmpty())
        return fail(file.failure);
    store::Connection conn;
    exchange::ImportResult result;
    try {
        conn.open(connectionString);
        const QMap<QString, int> staff = exchange::readStaff(conn);
        int fallback = 0;
        if (staffName) {
            fallback = exchange::staffFor(*staffName, staff, 0);
            if (fallback == 0)
                return fail(QStringLiteral("No staff member is called %1.\r\nNothing was imported.").arg(*staffName));
        }
        const QStringList unknown = exchange::unknownStaff(file.read.events, staff);
        if (!unknown.isEmpty() && !staffName) {
            if (staff.isEmpty())
                return fail(QStringLiteral("The events need a staff member, and there is none yet. "
                                           "Add one under Manage, Coaching Staff.\r\nNothing was imported."));
            QStringList names = unknown;
            for (QString &n : names)
                n = n.isEmpty() ? QStringLiteral("(no name)") : n;
            return fail(QStringLiteral("No staff member is called %1.\r\nName the one whose events those are with "
                                       "--staff.\r\nNothing was imported.")
                            .arg(names.join(QStringLiteral(", "))));
        }
        result = exchange::importEvents(conn, file.read.events, fallback);
    } catch (const store::StoreError &e) {
        return fail(QStringLiteral("An error occured while importing; nothing was imported.\r\n") + e.description(),
                    e.details());
    }
    conn.close();
    QTextStream(stdout) << forTerminal(exchange::importSummary(result, file.read)) << "\n";
    return Success;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("date"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("date"));
    const QCommandLineOption staff(QStringLiteral("staff"), QString(), QStringLiteral("name"));
    const QCommandLineOption calendar(QStringLiteral("calendar"), QString(), QStringLiteral("path"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("url"));
    parser.addOptions({help, from, to, staff, calendar, database});
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << kUsage << kHelp;
        return Success;
    }
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usage(QStringLiteral("export or import?"));
    if (args[0] != QLatin1String("export") && args[0] != QLatin1String("import"))
        return usage(QStringLiteral("unexpected argument '%1'.").arg(args[0]));
    if (args.size() == 1)
        return usage(QStringLiteral("which file?"));
    if (args.size() > 2)
        return usage(QStringLiteral("unexpected argument '%1'.").arg(args[2]));
    const bool importing = args[0] == QLatin1String("import");
    for (const QCommandLineOption *option : {&from, &to, &staff, &calendar, &database}) {
        if (parser.values(*option).size() > 1)
            return usage(QStringLiteral("--%1 given twice.").arg(option->names().constFirst()));
        if (parser.isSet(*option) && parser.value(*option).trimmed().isEmpty())
            return usage(QStringLiteral("--%1 needs a value.").arg(option->names().constFirst()));
    }
    if (parser.isSet(calendar) && parser.isSet(database))
        return usage(QStringLiteral("--calendar or --database, not both."));
    if (parser.isSet(staff) && !importing)
        return usage(QStringLiteral("--staff is for import."));
    std::optional<exchange::DayRange> range;
    if (parser.isSet(from) || parser.isSet(to) || importing) {
        if (!parser.isSet(from) || !parser.isSet(to))
            return usage(QStringLiteral("give both --from and --to."));
        const std::optional<QDate> first = parseDate(parser.value(from));
        const std::optional<QDate> last = parseDate(parser.value(to));
        if (!first || !last)
            return usage(QStringLiteral("'%1' is no date; write YYYY-MM-DD or M/D/YYYY.")
                             .arg(parser.value(first ? to : from)));
        if (*last < *first)
            return usage(QStringLiteral("--to is before --from."));
        range = exchange::DayRange{*first, *last};
    }

    if (parser.isSet(database) && !store::isServerUrl(parser.value(database).trimmed()))
        return usage(QStringLiteral("--database needs a postgresql:// URL."));
    // The text the windows keep, naming the file in its DBQ part.
    const QString connectionString = parser.isSet(database)
        ? parser.value(database).trimmed()
        : QStringLiteral("DRIVER=Driver do Microsoft Access (*.mdb);DBQ=")
            + QDir::toNativeSeparators(QFileInfo(parser.isSet(calendar) ? parser.value(calendar) : defaultCalendar())
                                           .absoluteFilePath())
            + QLatin1Char(';');
    if (importing)
        return importFile(connectionString, args[1], *range,
                          parser.isSet(staff) ? std::optional<QString>(parser.value(staff)) : std::nullopt);
    return exportFile(connectionString, args[1], range);
}
