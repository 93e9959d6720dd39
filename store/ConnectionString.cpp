#include "store/ConnectionString.h"

#include "store/Engine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace store {

QString connectionStringFor(const QString &programFolder)
{
    QString folder = QDir::toNativeSeparators(programFolder);
    while (folder.size() > 1 && folder.endsWith(QDir::separator()))
        folder.chop(1);
    return QStringLiteral("DRIVER=Driver do Microsoft Access (*.mdb);DBQ=") + folder + QDir::separator()
        + QLatin1String(kDatabaseFileName) + QLatin1Char(';');
}

QString connectionStringFor(const QString &programFolder, const QString &databaseUrl)
{
    return databaseUrl.trimmed().isEmpty() ? connectionStringFor(programFolder) : databaseUrl.trimmed();
}

QString databasePathOf(const QString &connectionString)
{
    if (engineOf(connectionString) == Engine::Postgres)
        return withoutPassword(connectionString.trimmed());
    const QLatin1String key("DBQ=");
    const int start = connectionString.indexOf(key, 0, Qt::CaseInsensitive);
    if (start < 0)
        return {};
    const int from = start + key.size();
    int end = connectionString.lastIndexOf(QLatin1Char(';'));
    if (end < from)
        end = connectionString.size();
    return QDir::fromNativeSeparators(connectionString.mid(from, end - from));
}

QString settingsFilePath()
{
    QFileInfo user(QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("orvenna"),
                             QStringLiteral("orvenna"))
                       .fileName());
    // A relative XDG_CONFIG_HOME counts as unset, as the XDG rules say.
    if (user.isRelative())
        user.setFile(QDir::homePath() + QStringLiteral("/.config/orvenna/orvenna.ini"));
    const QString earlier = user.filePath();
    const QString path = user.path() + QStringLiteral("/orvenna.conf");
    if (!QFileInfo::exists(path) && QFileInfo::exists(earlier))
        QFile::rename(earlier, path);
    return path;
}

} // namespace store
