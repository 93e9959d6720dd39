#include "mainwindow/SharedCalendar.h"

#include "store/ConnectionString.h"

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
