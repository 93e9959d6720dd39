// Creates a new, empty calendar database (optionally with a small demo set),
// or the tables of a shared calendar on a PostgreSQL server.
// The calendar itself never creates its database file.

#include "store/Schema.h"
#include "store/StoreError.h"

#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool demo = args.removeAll(QStringLiteral("--demo")) > 0;
    QTextStream err(stderr);
    const char *const usage =
        "usage: orvenna-newdb PATH [--demo]\n"
        "       orvenna-newdb --database postgresql://user@host[:port]/dbname [--demo]\n"
        "Creates a new calendar database at PATH (normally eventDB.mdb beside orvenna),\n"
        "or the calendar's tables in an existing, empty PostgreSQL database, with the roles\n"
        "orvenna_editor (may change the calendar) and orvenna_reader (may only read it).\n"
        "--demo adds a few templates, staff members and events in the current week.\n";
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        QTextStream(stdout) << usage;
        return 0;
    }
    // --database URL: the tables of a shared calendar on a PostgreSQL server.
    const int database = args.indexOf(QStringLiteral("--database"));
    if (database >= 0 && database + 1 < args.size() && args.size() == 2)
        args = QStringList{args.at(database + 1)};
    else if (database >= 0)
        args.clear();
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) {
        err << usage;
        return 2;
    }
    try {
        store::createDatabase(args.first());
        if (demo)
            store::addDemoData(args.first(), QDate::currentDate());
    } catch (const store::StoreError &e) {
        err << "orvenna-newdb: " << e.description() << "\n";
        return 1;
    }
    return 0;
}
