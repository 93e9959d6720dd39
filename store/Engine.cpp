#include "store/Engine.h"

#include "store/StoreError.h"

#include <QRegularExpression>
#include <QUrl>

namespace store {

bool isServerUrl(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        || text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString withoutPassword(const QString &text)
{
    // Up to the last '@' of the address: a password may hold an unencoded '@'.
    static const QRegularExpression password(QStringLiteral("(://[^\\s/:@]*):[^\\s/]*@"));
    QString shown = text;
    return shown.replace(password, QStringLiteral("\\1:****@"));
}

Engine engineOf(const QString &connectionString)
{
    return isServerUrl(connectionString.trimmed()) ? Engine::Postgres : Engine::Sqlite;
}

ServerAddress parseServerUrl(const QString &text)
{
    const QString shape = QStringLiteral(" (expected postgresql://user@host[:port]/dbname)");
    const QString url = text.trimmed();
    if (!isServerUrl(url))
        throw StoreError(QStringLiteral("'%1' is not a PostgreSQL address").arg(url) + shape);
    auto decoded = [](const QString &part) { return QUrl::fromPercentEncoding(part.toUtf8()); };
    const QString rest = url.mid(url.indexOf(QLatin1String("//")) + 2);
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash + 1);
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    const QString userInfo = at < 0 ? QString() : authority.left(at);
    QString hostPort = authority.mid(at + 1);
    if (userInfo.contains(QLatin1Char(':')))
        throw StoreError(QStringLiteral("Put the password in ~/.pgpass or PGPASSWORD, not in the address."));
    if (path.contains(QLatin1Char('?')) || path.contains(QLatin1Char('#')) || path.contains(QLatin1Char('/')))
        throw StoreError(QStringLiteral("'%1' has parts after the database name").arg(url) + shape);
    ServerAddress a;
    a.user = decoded(userInfo);
    a.database = decoded(path);
    QString portText;
    if (hostPort.startsWith(QLatin1Char('['))) { // [IPv6]:port
        const int close = hostPort.indexOf(QLatin1Char(']'));
        a.host = hostPort.mid(1, close - 1);
        portText = hostPort.mid(close + 1);
        if (close < 0 || (!portText.isEmpty() && !portText.startsWith(QLatin1Char(':'))))
            throw StoreError(QStringLiteral("'%1' has no valid host").arg(url) + shape);
        portText = portText.mid(1);
    } else {
        const int colon = hostPort.indexOf(QLatin1Char(':'));
        a.host = decoded(colon < 0 ? hostPort : hostPort.left(colon));
        portText = colon < 0 ? QString() : hostPort.mid(colon + 1);
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        a.port = portText.toInt(&ok);
        if (!ok || a.port <= 0 || a.port > 65535)
            throw StoreError(QStringLiteral("'%1' has no valid port").arg(url) + shape);
    }
    if (a.user.isEmpty())
        throw StoreError(QStringLiteral("'%1' names no user").arg(url) + shape);
    if (a.database.isEmpty())
        throw StoreError(QStringLiteral("'%1' names no database").arg(url) + shape);
    return a;
}

QString ServerAddress::url() const
{
    QString h = host;
    if (h.startsWith(QLatin1Char('/')))
        h = QString::fromUtf8(QUrl::toPercentEncoding(h));
    else if (h.contains(QLatin1Char(':')))
        h = QLatin1Char('[') + h + QLatin1Char(']');
    return QStringLiteral("postgresql://") + QString::fromUtf8(QUrl::toPercentEncoding(user)) + QLatin1Char('@') + h
        + (port != 5432 ? QLatin1Char(':') + QString::number(port) : QString()) + QLatin1Char('/')
        + QString::fromUtf8(QUrl::toPercentEncoding(database));
}

} // namespace store
