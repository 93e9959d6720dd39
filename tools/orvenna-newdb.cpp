// Creates a new, empty calendar database (optionally with a small demo set).
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
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) {
        err << "usage: orvenna-newdb PATH [--demo]\n"
               "Creates a new calendar database at PATH (normally eventDB.mdb beside orvenna).\n"
               "--demo adds a few templates, staff members and events in the current week.\n";
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
