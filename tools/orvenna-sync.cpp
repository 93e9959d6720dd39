// The calendar sync without a window: keeps a calendar in step with the
// CalDAV calendar it is bound to, once or every five minutes, for a systemd
// timer or cron on the machine that holds a shared calendar.

#include "store/ConnectionString.h"
#include "store/Connection.h"
#include "store/Engine.h"
#include "store/StoreError.h"
#include "sync/SyncEngine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>

#include <csignal>
#include <optional>

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2, ConflictsLeft = 3 };

constexpr int kIntervalSeconds = 5 * 60;

const char kUsage[] = "usage: orvenna-sync [--calendar PATH | --database URL] [--once] [--verbose]\n";

const char kHelp[] =
    "Keeps the calendar in step with the CalDAV server calendar it was bound to in the\n"
    "calendar's File > Calendar Sync..., both ways, as the calendar's Sync Now does.\n"
    "Events both sides changed since the last sync are left alone and listed.\n"
    "\n"
    "  --calendar PATH    the calendar file; by default eventDB.mdb beside orvenna-sync, else in\n"
    "                     $XDG_DATA_HOME/orvenna (by default ~/.local/share/orvenna)\n"
    "  --database URL     the shared calendar at URL, postgresql://user@host[:port]/dbname\n"
    "  --once             sync once and exit; without it, sync every 5 minutes until stopped\n"
    "  --verbose          say what each sync did\n"
    "  -h, --help         show this help and exit\n"
    "\n"
    "The password is read from ~/.netrc, the line for the server's host\n"
    "(machine HOST login USER password PASSWORD); the file must be readable by its owner alone.\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 wrong command line, 3 done with conflicts left.\n";

volatile std::sig_atomic_t g_stop = 0;

void stop(int)
{
    g_stop = 1;
}

int usage(const QString &error)
{
    QTextStream(stderr) << "orvenna-sync: " << error << "\n" << kUsage;
    return Usage;
}

void say(const QString &text)
{
    QTextStream(stderr) << "orvenna-sync: " << text << "\n";
}

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

// The password for `host` (and `user`, when the line names one) from
// ~/.netrc, as HTTP tools read it; a file others may read is refused.
QString netrcPassword(const QString &host, const QString &user)
{
    const QString path = QDir::homePath() + QStringLiteral("/.netrc");
    QFile file(path);
    if (!file.exists())
        throw std::runtime_error(QStringLiteral("%1 does not exist; put the password for %2 there "
                                                "(machine %2 login USER password PASSWORD).")
                                     .arg(path, host)
                                     .toStdString());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
        | QFile::WriteOther | QFile::ExeOther;
    if (file.permissions() & others)
        throw std::runtime_error(QStringLiteral("%1 may be read by others; it holds passwords. Make it yours alone "
                                                "with chmod 600 %1.")
                                     .arg(path)
                                     .toStdString());
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString()).toStdString());
    const QStringList words = QString::fromUtf8(file.readAll()).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    // Entries are "machine NAME" or "default", then login/password pairs.
    std::optional<QString> found;
    bool inEntry = false;
    QString login, password;
    auto finish = [&]() {
        if (inEntry && !found && (user.isEmpty() || login.isEmpty() || login == user) && !password.isEmpty())
            found = password;
    };
    for (int i = 0; i < words.size(); ++i) {
        const QString &w = words[i];
        if (w == QLatin1String("machine") || w == QLatin1String("default")) {
            finish();
            inEntry = w == QLatin1String("default") || (i + 1 < words.size() && words[i + 1] == host);
            if (w == QLatin1String("machine"))
                ++i;
            login.clear();
            password.clear();
        } else if ((w == QLatin1String("login") || w == QLatin1String("password") || w == QLatin1String("account"))
                   && i + 1 < words.size()) {
            if (w == QLatin1String("login"))
                login = words[i + 1];
            else if (w == QLatin1String("password"))
                password = words[i + 1];
            ++i;
        }
    }
    finish();
    if (!found)
        throw std::runtime_error(QStringLiteral("%1 has no password for %2.").arg(path, host).toStdString());
    return *found;
}

// One sync; returns the exit status.
int syncOnce(const QString &connectionString, bool verbose)
{
    std::optional<caldav::Binding> binding;
    try {
        store::Connection conn;
        conn.open(connectionString);
        binding = caldav::SyncEngine::binding(conn);
    } catch (const store::StoreError &e) {
        say(QStringLiteral("The calendar could not be read: ") + e.description());
        return Failure;
    }
    if (!binding) {
        say(QStringLiteral("This calendar syncs with no server calendar; bind it in the calendar's File > Calendar Sync... first."));
        return Failure;
    }
    caldav::Account account;
    account.url = binding->calendar;
    account.user = binding->user;
    account.trustedFingerprint = binding->trustedFingerprint;
    try {
        // A server without a login (on this machine, say) needs no password.
        if (!binding->user.isEmpty())
            account.password = netrcPassword(binding->calendar.host(), binding->user);
    } catch (const std::runtime_error &e) {
        say(QString::fromStdString(e.what()));
        return Failure;
    }
    try {
        const caldav::SyncOutcome out = caldav::SyncEngine(connectionString, account).run();
        if (verbose)
            QTextStream(stdout) << QStringLiteral("%1 synced with %2: %3 sent, %4 received, %5 deleted here, %6 deleted there, "
                                                  "%7 requests.\n")
                                       .arg(out.finished.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                            binding->calendar.toDisplayString())
                                       .arg(out.sent)
                                       .arg(out.received)
                                       .arg(out.deletedHere)
                                       .arg(out.deletedThere)
                                       .arg(out.requests);
        for (const caldav::SyncConflict &c : out.left) {
            const QString title = c.here ? c.here->values.title : c.server ? c.server->values.title : c.uid;
            say(QStringLiteral("\"%1\" was changed here and on the server since the last sync; left alone. "
                               "Choose which to keep with the calendar's Sync Now.")
                    .arg(title));
        }
        return out.left.isEmpty() ? Success : ConflictsLeft;
    } catch (const caldav::DavError &e) {
        say(e.reason());
    } catch (const store::StoreError &e) {
        say(e.description());
    }
    return Failure;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption calendar(QStringLiteral("calendar"), QString(), QStringLiteral("path"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("url"));
    const QCommandLineOption once(QStringLiteral("once"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    parser.addOptions({help, calendar, database, once, verbose});
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << kUsage << kHelp;
        return Success;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));
    for (const QCommandLineOption *option : {&calendar, &database}) {
        if (parser.values(*option).size() > 1)
            return usage(QStringLiteral("--%1 given twice.").arg(option->names().constFirst()));
        if (parser.isSet(*option) && parser.value(*option).trimmed().isEmpty())
            return usage(QStringLiteral("--%1 needs a value.").arg(option->names().constFirst()));
    }
    if (parser.isSet(calendar) && parser.isSet(database))
        return usage(QStringLiteral("--calendar or --database, not both."));
    if (parser.isSet(database) && !store::isServerUrl(parser.value(database).trimmed()))
        return usage(QStringLiteral("--database needs a postgresql:// URL."));
    const QString connectionString = parser.isSet(database)
        ? parser.value(database).trimmed()
        : QStringLiteral("DRIVER=Driver do Microsoft Access (*.mdb);DBQ=")
            + QDir::toNativeSeparators(QFileInfo(parser.isSet(calendar) ? parser.value(calendar) : defaultCalendar())
                                           .absoluteFilePath())
            + QLatin1Char(';');

    if (parser.isSet(once))
        return syncOnce(connectionString, parser.isSet(verbose));
    std::signal(SIGTERM, stop);
    std::signal(SIGINT, stop);
    // A failed sync is told and tried again at the next turn.
    while (!g_stop) {
        (void)syncOnce(connectionString, parser.isSet(verbose));
        for (int waited = 0; waited < kIntervalSeconds && !g_stop; ++waited)
            QThread::sleep(1);
    }
    return Success;
}
