#include "mainwindow/Main.h"

#include "mainwindow/SharedCalendar.h"
#include "mainwindow/frmEventsMain.h"
#include "ui/ModalRunner.h"
#include "ui/Pictures.h"
#include "ui/Prompt.h"

#include <QApplication>

int Main(QApplication &app, const QString &database)
{
    WidgetPrompt prompt;
    ExecModalRunner modal;
    AppServices services;
    services.programFolder = QApplication::applicationDirPath();
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
