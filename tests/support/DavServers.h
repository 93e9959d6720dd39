#pragma once

#include <QFile>
#include <QMap>
#include <QString>

// The servers tests/sync/davservers.sh started for this run, from the
// servers.env in the folder CTest names (empty when run without CTest).
inline QMap<QString, QString> davServers()
{
    QMap<QString, QString> out;
    QFile env(qEnvironmentVariable("ORVENNA_TEST_DAVDIR") + QStringLiteral("/servers.env"));
    if (!env.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : env.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            out.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return out;
}
