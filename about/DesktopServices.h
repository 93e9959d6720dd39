#pragma once

#include <QString>

#include <memory>

class RegistryReader;

// What the About window asks of the desktop: opening links, starting a
// program, looking for files and reading the registry. The base class does
// the real thing; tests derive from it and record instead.
class DesktopServices
{
public:
    DesktopServices();
    virtual ~DesktopServices();
    DesktopServices(const DesktopServices &) = delete;
    DesktopServices &operator=(const DesktopServices &) = delete;

    // Hands the link to the desktop; whether it could be opened is not asked.
    virtual void openUrl(const QString &url);
    // Starts the program without waiting for it; false when it cannot be started.
    virtual bool startProgram(const QString &path);
    [[nodiscard]] virtual bool fileExists(const QString &path);
    // The full path of a program found on the PATH, or empty.
    [[nodiscard]] virtual QString findOnPath(const QString &name);
    // The registry, or null on a platform that has none.
    [[nodiscard]] virtual RegistryReader *registry();

    // The desktop itself, for windows handed none.
    [[nodiscard]] static DesktopServices &system();

private:
    std::unique_ptr<RegistryReader> m_registry;
};
