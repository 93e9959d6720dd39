#include "mainwindow/Main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

namespace {

const char kUsage[] = "usage: orvenna [--help] [--version] [--database URL]\n";

// What the command line asks for. A new option is one more QCommandLineOption
// in parseArguments and, when it carries a value, one more member here.
struct CommandLine
{
    enum class Action { Start, Help, Version, Refuse };
    Action action = Action::Start;
    QString error;
    QString database; // a shared calendar's URL, empty for the saved choice
};

CommandLine parseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("url"));
    parser.addOptions({help, version, database});
    if (!parser.parse(arguments))
        return {CommandLine::Action::Refuse, parser.errorText(), {}};
    QStringList extra = parser.positionalArguments();
    if (arguments.contains(QStringLiteral("--")))
        extra.prepend(QStringLiteral("--"));
    if (!extra.isEmpty())
        return {CommandLine::Action::Refuse, QStringLiteral("unexpected argument '%1'.").arg(extra.constFirst()), {}};
    if (parser.isSet(help))
        return {CommandLine::Action::Help, {}, {}};
    if (parser.isSet(version))
        return {CommandLine::Action::Version, {}, {}};
    if (parser.isSet(database) && parser.value(database).trimmed().isEmpty())
        return {CommandLine::Action::Refuse, QStringLiteral("--database needs a URL."), {}};
    return {CommandLine::Action::Start, {}, parser.value(database)};
}

} // namespace

int main(int argc, char *argv[])
{
    // Read before the application exists, so that --help and --version work
    // without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = parseArguments(arguments);
    switch (command.action) {
    case CommandLine::Action::Refuse:
        QTextStream(stderr) << "orvenna: " << command.error << "\n" << kUsage;
        return 2;
    case CommandLine::Action::Help:
        QTextStream(stdout)
            << kUsage
            << "Orvenna, a calendar in which a coaching staff plans its activities and drills.\n"
               "Its data (eventDB.mdb, printEvent.html, css/css.css) lives in the program's own folder when\n"
               "that folder can be written, else in $XDG_DATA_HOME/orvenna (by default ~/.local/share/orvenna).\n"
               "\n"
               "  -h, --help        show this help and exit\n"
               "  --version         show the version and exit\n"
               "  --database URL    use the shared calendar at URL, postgresql://user@host[:port]/dbname,\n"
               "                    instead of the saved choice or the file eventDB.mdb\n";
        return 0;
    case CommandLine::Action::Version:
        QTextStream(stdout) << "orvenna " << ORVENNA_VERSION << "\n";
        return 0;
    case CommandLine::Action::Start:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvenna"));

    return Main(app, command.database);
}
