#include "mainwindow/SyncCommands.h"

#include "mainwindow/frmEventsMain.h"
#include "model/Calendar.h"
#include "store/Connection.h"
#include "store/Engine.h"
#include "store/StaffMembers.h"
#include "store/StoreError.h"
#include "sync/Secrets.h"
#include "syncwindows/SyncBackend.h"
#include "syncwindows/SyncSchedule.h"
#include "syncwindows/frmCalendarSync.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>

SyncCommands::SyncCommands(const AppServices &services, frmEventsMain &main)
    : QObject(&main), m_services(services), m_main(main)
{
    setObjectName(QStringLiteral("syncCommands"));
    m_backend = services.sync;
    if (!m_backend) {
        m_ownBackend = std::make_unique<EngineSyncBackend>();
        m_backend = m_ownBackend.get();
    }
    m_secrets = services.secrets;
    if (!m_secrets) {
        m_ownSecrets = std::make_unique<caldav::DesktopSecrets>();
        m_secrets = m_ownSecrets.get();
    }
    m_schedule = new SyncSchedule(services, *m_backend, *m_secrets, &main);

    m_lblStatus = new QLabel(&main);
    m_lblStatus->setObjectName(QStringLiteral("lblSyncStatus"));
    m_lblStatus->setAccessibleName(QStringLiteral("Calendar sync"));
    m_progress = new QProgressBar(&main);
    m_progress->setObjectName(QStringLiteral("prgSync"));
    m_progress->setAccessibleName(QStringLiteral("Calendar sync progress"));
    m_progress->setMaximumWidth(120);
    m_progress->setRange(0, 0);
    m_progress->setVisible(false);
    m_cancel = new QToolButton(&main);
    m_cancel->setObjectName(QStringLiteral("cmdCancelSync"));
    m_cancel->setText(QStringLiteral("Cancel"));
    m_cancel->setAccessibleName(QStringLiteral("Cancel the calendar sync"));
    m_cancel->setVisible(false);
    main.statusBar()->addPermanentWidget(m_lblStatus);
    main.statusBar()->addPermanentWidget(m_progress);
    main.statusBar()->addPermanentWidget(m_cancel);
    connect(m_cancel, &QToolButton::clicked, m_schedule, &SyncSchedule::cancel);
    connect(m_schedule, &SyncSchedule::statusChanged, m_lblStatus, [this](const QString &text) {
        m_lblStatus->setText(text);
        m_lblStatus->setAccessibleDescription(text);
    });
    connect(m_schedule, &SyncSchedule::runningChanged, this, [this](bool running) {
        m_progress->setRange(0, 0);
        m_progress->setVisible(running);
        m_cancel->setVisible(running);
    });
    connect(m_schedule, &SyncSchedule::progressed, this, [this](int done, int total) {
        m_progress->setRange(0, std::max(0, total));
        m_progress->setValue(std::min(done, total));
    });
    connect(m_schedule, &SyncSchedule::pickAnother, this, &SyncCommands::mnuCalendarSync_Click, Qt::QueuedConnection);
}

SyncCommands::~SyncCommands()
{
    // Its run uses the backend and the secrets this object may own.
    delete m_schedule;
}

SyncCommands *SyncCommands::install(const AppServices &services, frmEventsMain &main, QMenu *file, QAction *beforeInFile)
{
    auto *c = new SyncCommands(services, main);
    auto *dialog = new QAction(QStringLiteral("Calendar S&ync..."), file);
    dialog->setObjectName(QStringLiteral("mnuCalendarSync"));
    connect(dialog, &QAction::triggered, c, &SyncCommands::mnuCalendarSync_Click);
    auto *now = new QAction(QStringLiteral("Sync &Now"), file);
    now->setObjectName(QStringLiteral("mnuSyncNow"));
    now->setShortcut(QKeySequence(Qt::Key_F9));
    connect(now, &QAction::triggered, c, &SyncCommands::mnuSyncNow_Click);
    file->insertAction(beforeInFile, dialog);
    file->insertAction(beforeInFile, now);
    file->insertSeparator(beforeInFile);
    return c;
}

void SyncCommands::calendarChanged()
{
    // A login that may only read cannot take the server's changes in.
    model::Calendar *calendar = m_main.calendar();
    m_schedule->setCalendar(calendar && !calendar->readOnly() ? calendar : nullptr);
}

void SyncCommands::mnuSyncNow_Click()
{
    m_schedule->syncNow();
}

void SyncCommands::mnuCalendarSync_Click()
{
    model::Calendar *calendar = m_main.calendar();
    if (!calendar)
        return;
    QHash<int, QString> staff;
    try {
        store::Connection conn;
        conn.open(calendar->connectionString());
        staff = store::StaffMembers::names(conn);
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(&m_main, QStringLiteral("The calendar could not be read: ") + e.description());
        return;
    }
    QString name = applicationTitle();
    if (!m_main.database().isEmpty()) {
        try {
            name = store::parseServerUrl(m_main.database()).database;
        } catch (const store::StoreError &) {
        }
    }
    frmCalendarSync dialog(m_services, *m_backend, *m_secrets, calendar->connectionString(), name, staff,
                           m_schedule->left(), &m_main);
    const int result = m_services.modal->showModal(dialog);
    if (dialog.unbound()) {
        calendarChanged();
        return;
    }
    if (result != QDialog::Accepted)
        return;
    m_schedule->setEveryMinutes(dialog.everyMinutes());
    // The first sync of the new binding, at once.
    m_schedule->syncNow();
}
