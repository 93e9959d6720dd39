#pragma once

#include <QString>
#include <QtGlobal>

// The three registry calls GetKeyValue needs, behind an interface so the
// reading rules can be exercised on any platform. Status values are the
// platform's: 0 is success.
class RegistryReader
{
public:
    using KeyHandle = quintptr;

    virtual ~RegistryReader() = default;

    virtual long openKey(quint32 root, const QString &keyName, quint32 access, KeyHandle *key) = 0;
    // Reads the value into buffer, at most *size bytes. On return *type holds
    // the value's type and *size the number of bytes written.
    virtual long queryValue(KeyHandle key, const QString &valueName, quint32 *type, char *buffer,
                            quint32 *size) = 0;
    virtual void closeKey(KeyHandle key) = 0;
};

namespace registry {
inline constexpr quint32 kLocalMachine = 0x80000002u; // HKEY_LOCAL_MACHINE
inline constexpr quint32 kKeyAllAccess = 0x2003Fu;    // the access asked for when opening
inline constexpr quint32 kTypeText = 1;               // REG_SZ
inline constexpr quint32 kTypeNumber = 4;             // REG_DWORD
inline constexpr quint32 kBufferSize = 1024;
} // namespace registry

// Reads one value as text. True: KeyVal holds it. False: it could not be read
// and KeyVal is empty. A value of another type than text or number leaves
// KeyVal as it came in and still answers true.
bool GetKeyValue(RegistryReader &reader, quint32 KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                 QString &KeyVal);

#ifdef Q_OS_WIN
// The machine's own registry, through the 8-bit forms of the calls.
class WindowsRegistryReader : public RegistryReader
{
public:
    long openKey(quint32 root, const QString &keyName, quint32 access, KeyHandle *key) override;
    long queryValue(KeyHandle key, const QString &valueName, quint32 *type, char *buffer,
                    quint32 *size) override;
    void closeKey(KeyHandle key) override;
};
#endif
