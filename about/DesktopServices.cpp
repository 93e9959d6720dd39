#include "about/DesktopServices.h"

#include "about/RegistryReader.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

DesktopServices::DesktopServices()
{
#ifdef Q_OS_WIN
    m_registry = std::make_unique<WindowsRegistryReader>();
#endif
}

DesktopServices::~DesktopServices() = default;

void DesktopServices::openUrl(const QString &url)
{
    QDesktopServices::openUrl(QUrl(url));
}

bool DesktopServices::startProgram(const QString &path)
{
    return QProcess::startDetached(path, {});
}

bool DesktopServices::fileExists(const QString &path)
{
    return QFileInfo(path).isFile();
}

QString DesktopServices::findOnPath(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

RegistryReader *DesktopServices::registry()
{
    return m_registry.get();
}

DesktopServices &DesktopServices::system()
{
    static DesktopServices desktop;
    return desktop;
}
