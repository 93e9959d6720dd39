#pragma once

#include "about/RegistryReader.h"

#include <QByteArray>
#include <QMap>

#include <cstring>

// A registry of a few keys and values, which also remembers what was asked of it.
class FakeRegistry : public RegistryReader
{
public:
    struct Value
    {
        quint32 type = registry::kTypeText;
        QByteArray bytes;
    };
    QMap<QString, QMap<QString, Value>> keys; // key path -> value name -> value
    QMap<KeyHandle, QString> openKeys;
    QList<quint32> roots;
    QList<quint32> accesses;

    void set(const QString &key, const QString &name, const QByteArray &bytes, quint32 type = registry::kTypeText)
    {
        keys[key][name] = Value{type, bytes};
    }

    long openKey(quint32 root, const QString &keyName, quint32 access, KeyHandle *key) override
    {
        roots << root;
        accesses << access;
        if (!keys.contains(keyName))
            return 2; // file not found
        *key = ++m_next;
        openKeys.insert(*key, keyName);
        return 0;
    }
    long queryValue(KeyHandle key, const QString &valueName, quint32 *type, char *buffer, quint32 *size) override
    {
        const auto values = keys.value(openKeys.value(key));
        if (!values.contains(valueName))
            return 2;
        const Value v = values.value(valueName);
        if (quint32(v.bytes.size()) > *size)
            return 234; // more data
        std::memcpy(buffer, v.bytes.constData(), size_t(v.bytes.size()));
        *size = quint32(v.bytes.size());
        *type = v.type;
        return 0;
    }
    void closeKey(KeyHandle key) override { openKeys.remove(key); }

private:
    KeyHandle m_next = 100;
};
