#include "mainwindow/SharedCalendar.h"

#include "mainwindow/frmEventsMain.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Engine.h"
#include "ui/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QSettings>

namespace {
const QString kDatabaseKey = QStringLiteral("database");

#define ORVENNA_USER_SETTINGS(name) QSettings name(store::settingsFilePath(), QSettings::IniFormat)
} // namespace

QString savedDatabaseUrl()
{
    ORVENNA_USER_SETTINGS(settings);
    return settings.value(kDatabaseKey).toString().trimmed();
}

void saveDatabaseUrl(const QString &url)
{
    ORVENNA_USER_SETTINGS(settings);
    if (url.isEmpty())
        settings.remove(kDatabaseKey);
    else
        settings.setValue(kDatabaseKey, url);
}

LiveUpdates::LiveUpdates(frmEventsMain *window)
    : QObject(window), m_window(window)
{
    // A short wait also folds a burst of announcements into one reload.
    m_later.setParent(this);
    m_later.setObjectName(QStringLiteral("liveReloadLater"));
    m_later.setSingleShot(true);
    m_later.setInterval(20);
    connect(&m_later, &QTimer::timeout, this, &LiveUpdates::reloadWhenIdle);
    connect(&m_listener, &store::ChangeListener::changed, this, &LiveUpdates::changed);
}

void LiveUpdates::listen(const QString &connectionString)
{
    m_week = m_templates = false;
    m_listener.listen(connectionString);
}

void LiveUpdates::changed(const QString &table)
{
    if (table.isEmpty() || table == QLatin1String("tblscheduledevents"))
        m_week = true;
    if (table.isEmpty() || table == QLatin1String("tblpredefinedevents"))
        m_templates = true;
    if (m_week || m_templates)
        m_later.start();
}

void LiveUpdates::reloadWhenIdle()
{
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()
        || QApplication::mouseButtons() != Qt::NoButton) {
        m_later.start(200);
        return;
    }
    if (m_week) {
        m_week = false;
        m_window->mView_DateClick(m_window->weekDate());
    }
    if (m_templates) {
        m_templates = false;
        QListWidget *list = m_window->m_lstEventTemplates;
        const QVariant selected = list->currentItem() ? list->currentItem()->data(Qt::UserRole) : QVariant();
        m_window->loadEventTemplates();
        for (int row = 0; selected.isValid() && row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole) == selected)
                list->setCurrentRow(row);
        }
    }
}

QAction *frmEventsMain::addSharedCalendarMenu(QMenu *file)
{
    QAction *shared = file->addAction(QStringLiteral("&Shared Calendar..."));
    shared->setObjectName(QStringLiteral("mnuSharedCalendar"));
    connect(shared, &QAction::triggered, this, &frmEventsMain::mnuSharedCalendar_Click);
    return shared;
}

void frmEventsMain::startLiveUpdates()
{
    if (!m_live)
        m_live = new LiveUpdates(this);
    m_live->listen(m_connectionString);
}

void frmEventsMain::mnuSharedCalendar_Click()
{
    const QString inUse = m_services.database.isEmpty()
        ? QStringLiteral("the file ") + QDir::toNativeSeparators(store::databasePathOf(m_connectionString))
        : store::withoutPassword(m_services.database);
    const std::optional<QString> typed = m_services.prompt->input(
        this,
        QStringLiteral("The calendar in use: %1\r\n\r\nTo share one calendar with the staff, enter its PostgreSQL "
                       "address, postgresql://user@host[:port]/dbname (the password comes from ~/.pgpass or "
                       "PGPASSWORD). Leave it empty for the file beside the program.")
            .arg(inUse),
        QStringLiteral("Shared Calendar"), store::withoutPassword(m_services.database));
    if (!typed)
        return;
    const QString url = typed->trimmed();
    if (url == m_services.database)
        return;
    // Only a calendar that opens is saved.
    try {
        if (!url.isEmpty())
            (void)store::parseServerUrl(url);
        store::Connection conn;
        conn.open(store::connectionStringFor(m_services.programFolder, url));
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(this, QStringLiteral("The calendar was not changed: this one could not be opened.\r\n")
                                              + e.description());
        return;
    }
    saveDatabaseUrl(url);
    useDatabase(url);
}

void frmEventsMain::useDatabase(const QString &url)
{
    m_services.database = url;
    m_connectionString = store::connectionStringFor(m_services.programFolder, url);
    m_storeFailureShown = false;
    emit calendarChanged();
    mView_DateClick(m_weekDate);
    loadEventTemplates();
    startLiveUpdates();
}
