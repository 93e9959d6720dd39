#include "mainwindow/Main.h"

#include "mainwindow/SharedCalendar.h"
#include "mainwindow/frmEventsMain.h"
#include "store/ConnectionString.h"
#include "store/Schema.h"
#include "store/StoreError.h"
#include "ui/ModalRunner.h"
#include "ui/Pictures.h"
#include "ui/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kStyleSheet = QStringLiteral("css/css.css");

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share, as the XDG
// rules say; ./install and ./run use the same folder.
QString userDataHome()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

// The style sheet a per-user folder starts from: the one beside the program,
// or the one a system-wide install keeps in share/orvenna.
QString shippedStyleSheet(const QString &programFolder)
{
    const QString beside = programFolder + QLatin1Char('/') + kStyleSheet;
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/orvenna/") + kStyleSheet);
}

// A system-wide install (bin/ beside share/orvenna/) keeps data per user even
// for root, who could write into /usr/bin.
bool installedSystemWide(const QString &programFolder)
{
    return !QFileInfo::exists(programFolder + QLatin1Char('/') + kStyleSheet)
        && QFileInfo::exists(programFolder + QStringLiteral("/../share/orvenna/") + kStyleSheet);
}

// Fills a per-user data folder with what the program's folder would hold: the
// style sheet, and on the very first start an empty calendar. An existing
// database, sound or damaged, is left for the main window to open or report.
void preparePerUserFolder(const QString &folder, const QString &styleSheet)
{
    QDir().mkpath(folder + QStringLiteral("/css"));
    const QString css = folder + QLatin1Char('/') + kStyleSheet;
    if (!QFileInfo::exists(css) && QFile::copy(styleSheet, css))
        QFile::setPermissions(css, QFile::permissions(css) | QFile::WriteOwner);
    const QString database = folder + QLatin1Char('/') + QLatin1String(store::kDatabaseFileName);
    if (QFileInfo::exists(database) || QFileInfo(database).isSymLink())
        return;
    try {
        store::createDatabase(database);
    } catch (const store::StoreError &) {
        // The main window names the file and the reason when it cannot open it.
    }
}

// Where the database, the report and its style sheet live: the program's own
// folder when it can be written there, else the per-user data folder.
QString dataFolderFor(const QString &programFolder)
{
    if (!installedSystemWide(programFolder) && QFileInfo(programFolder).isWritable())
        return programFolder;
    const QString folder = userDataHome() + QStringLiteral("/orvenna");
    preparePerUserFolder(folder, shippedStyleSheet(programFolder));
    return folder;
}

} // namespace

int Main(QApplication &app, const QString &database)
{
    WidgetPrompt prompt;
    ExecModalRunner modal;
    AppServices services;
    services.programFolder = dataFolderFor(QApplication::applicationDirPath());
    services.database = database.isEmpty() ? savedDatabaseUrl() : database;
    services.prompt = &prompt;
    services.modal = &modal;

    app.setWindowIcon(applicationIcon());
    // Closing the main window ends the program, an open About window included.
    app.setQuitOnLastWindowClosed(false);

    frmEventsMain window(services);
    QObject::connect(&window, &frmEventsMain::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    window.Form_Load();
    window.show();
    return app.exec();
}
