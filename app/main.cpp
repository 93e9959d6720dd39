#include "mainwindow/Main.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvenna"));

    QCommandLineParser parser;
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("Use the shared calendar at <url>, "
                                                     "postgresql://user@host[:port]/dbname, instead of the saved one "
                                                     "or the file eventDB.mdb beside the program."),
                                      QStringLiteral("url"));
    parser.addOption(database);
    parser.process(app);
    return Main(app, parser.value(database));
}
