#include "about/RegistryReader.h"

#include <QByteArray>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

bool GetKeyValue(RegistryReader &reader, quint32 KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                 QString &KeyVal)
{
    RegistryReader::KeyHandle key = 0;
    if (reader.openKey(KeyRoot, KeyName, registry::kKeyAllAccess, &key) != 0) {
        KeyVal.clear();
        return false;
    }

    QByteArray buffer(int(registry::kBufferSize), '\0');
    quint32 size = registry::kBufferSize;
    quint32 type = 0;
    if (reader.queryValue(key, SubKeyRef, &type, buffer.data(), &size) != 0 || size > registry::kBufferSize) {
        KeyVal.clear();
        reader.closeKey(key);
        return false;
    }

    // A text value may or may not have been stored with its terminating zero.
    const int length = int(size);
    const QByteArray value = buffer.left(length);
    const QByteArray trimmed = (length > 0 && value.at(length - 1) == '\0') ? value.left(length - 1) : value;

    if (type == registry::kTypeText) {
        KeyVal = QString::fromLocal8Bit(trimmed);
    } else if (type == registry::kTypeNumber) {
        // "&h" and the hex digits, most significant byte first.
        QString digits;
        for (int i = length - 1; i >= 0; --i)
            digits += QStringLiteral("%1").arg(uchar(value.at(i)), 2, 16, QLatin1Char('0')).toUpper();
        KeyVal = QStringLiteral("&h") + digits;
    }

    reader.closeKey(key);
    return true;
}

#ifdef Q_OS_WIN
namespace {
HKEY toHkey(RegistryReader::KeyHandle handle)
{
    return reinterpret_cast<HKEY>(handle);
}
} // namespace

long WindowsRegistryReader::openKey(quint32 root, const QString &keyName, quint32 access, KeyHandle *key)
{
    // Predefined roots are sign-extended 32-bit values.
    const HKEY rootKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(rootKey, keyName.toLocal8Bit().constData(), 0, REGSAM(access), &opened);
    *key = status == ERROR_SUCCESS ? reinterpret_cast<KeyHandle>(opened) : 0;
    return status;
}

long WindowsRegistryReader::queryValue(KeyHandle key, const QString &valueName, quint32 *type, char *buffer,
                                       quint32 *size)
{
    DWORD valueType = 0;
    DWORD bytes = *size;
    const LONG status = RegQueryValueExA(toHkey(key), valueName.toLocal8Bit().constData(), nullptr, &valueType,
                                         reinterpret_cast<LPBYTE>(buffer), &bytes);
    *type = valueType;
    *size = bytes;
    return status;
}

void WindowsRegistryReader::closeKey(KeyHandle key)
{
    RegCloseKey(toHkey(key));
}
#endif
