#include "store/Engine.h"

#include "store/StoreError.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

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
    static const QRegularExpression option(QStringLiteral("([?&](?:ssl)?password=)[^&\\s]*"),
                                           QRegularExpression::CaseInsensitiveOption);
    QString shown = text;
    shown.replace(password, QStringLiteral("\\1:****@"));
    return shown.replace(option, QStringLiteral("\\1****"));
}

Engine engineOf(const QString &connectionString)
{
    return isServerUrl(connectionString.trimmed()) ? Engine::Postgres : Engine::Sqlite;
}

namespace {

const QString kShape = QStringLiteral(" (expected postgresql://user@host[:port][,host[:port]...]/dbname[?option=value&...])");

QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// One host of the list: name, [IPv6] or encoded socket folder, and its port.
std::pair<QString, int> parseHost(const QString &text, const QString &url)
{
    QString host;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) { // [IPv6]:port
        const int close = text.indexOf(QLatin1Char(']'));
        host = text.mid(1, close - 1);
        portText = text.mid(close + 1);
        if (close < 0 || (!portText.isEmpty() && !portText.startsWith(QLatin1Char(':'))))
            throw StoreError(QStringLiteral("'%1' has no valid host").arg(url) + kShape);
        portText = portText.mid(1);
    } else {
        const int colon = text.indexOf(QLatin1Char(':'));
        host = decoded(colon < 0 ? text : text.left(colon));
        portText = colon < 0 ? QString() : text.mid(colon + 1);
    }
    int port = 5432;
    if (!portText.isEmpty()) {
        bool ok = false;
        port = portText.toInt(&ok);
        if (!ok || port <= 0 || port > 65535)
            throw StoreError(QStringLiteral("'%1' has no valid port").arg(url) + kShape);
    }
    return {host, port};
}

void checkOption(const QString &key, const QString &value, const QString &url)
{
    auto refuse = [&url](const QString &why) { throw StoreError(QStringLiteral("'%1' %2").arg(url, why)); };
    if (key == QLatin1String("password") || key == QLatin1String("sslpassword"))
        throw StoreError(QStringLiteral("Put the password in ~/.pgpass or PGPASSWORD, not in the address."));
    const auto known = std::find_if(std::begin(kServerOptions), std::end(kServerOptions),
                                    [&key](const char *k) { return key == QLatin1String(k); });
    if (known == std::end(kServerOptions)) {
        QStringList names;
        for (const char *k : kServerOptions)
            names << QLatin1String(k);
        refuse(QStringLiteral("has the option \"%1\", which is not one of %2").arg(key, names.join(QStringLiteral(", "))));
    }
    // Qt's driver hands its options on separated by ';'.
    if (value.contains(QLatin1Char(';')))
        refuse(QStringLiteral("has a ';' in the option %1, which cannot be passed on").arg(key));
    auto oneOf = [&](std::initializer_list<const char *> allowed) {
        for (const char *v : allowed) {
            if (value == QLatin1String(v))
                return;
        }
        QStringList names;
        for (const char *v : allowed)
            names << QLatin1String(v);
        refuse(QStringLiteral("gives %1=%2; it may be %3").arg(key, value, names.join(QStringLiteral(", "))));
    };
    if (key == QLatin1String("sslmode"))
        oneOf({"disable", "allow", "prefer", "require", "verify-ca", "verify-full"});
    else if (key == QLatin1String("target_session_attrs"))
        oneOf({"any", "read-write", "read-only", "primary", "standby", "prefer-standby"});
    bool ok = true;
    if (key == QLatin1String("connect_timeout") && (value.toInt(&ok) < 0 || !ok))
        refuse(QStringLiteral("gives connect_timeout=%1; it must be a number of seconds").arg(value));
    if (value.isEmpty())
        refuse(QStringLiteral("gives no value for the option %1").arg(key));
}

bool isLocalHost(const QString &host)
{
    return host.isEmpty() || host.startsWith(QLatin1Char('/')) || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || QHostAddress(host).isLoopback();
}

QString hostText(const QString &host, int port)
{
    QString h = host;
    if (h.startsWith(QLatin1Char('/')))
        h = QString::fromUtf8(QUrl::toPercentEncoding(h));
    else if (h.contains(QLatin1Char(':')))
        h = QLatin1Char('[') + h + QLatin1Char(']');
    return port != 5432 ? h + QLatin1Char(':') + QString::number(port) : h;
}

} // namespace

ServerAddress parseServerUrl(const QString &text)
{
    const QString url = text.trimmed();
    if (!isServerUrl(url))
        throw StoreError(QStringLiteral("'%1' is not a PostgreSQL address").arg(url) + kShape);
    QString rest = url.mid(url.indexOf(QLatin1String("//")) + 2);
    const int question = rest.indexOf(QLatin1Char('?'));
    const QString query = question < 0 ? QString() : rest.mid(question + 1);
    if (question >= 0)
        rest.truncate(question);
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash + 1);
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    const QString userInfo = at < 0 ? QString() : authority.left(at);
    if (userInfo.contains(QLatin1Char(':')))
        throw StoreError(QStringLiteral("Put the password in ~/.pgpass or PGPASSWORD, not in the address."));
    if (path.contains(QLatin1Char('#')) || path.contains(QLatin1Char('/')) || query.contains(QLatin1Char('#')))
        throw StoreError(QStringLiteral("'%1' has parts after the database name").arg(url) + kShape);
    ServerAddress a;
    a.user = decoded(userInfo);
    a.database = decoded(path);
    const QStringList hosts = authority.mid(at + 1).split(QLatin1Char(','));
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        if (hosts.at(i).isEmpty() && hosts.size() > 1)
            throw StoreError(QStringLiteral("'%1' has no valid host").arg(url) + kShape);
        if (i == 0)
            std::tie(a.host, a.port) = parseHost(hosts.at(i), url);
        else
            a.moreHosts << parseHost(hosts.at(i), url);
    }
    for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        const QString key = decoded(eq < 0 ? pair : pair.left(eq));
        const QString value = eq < 0 ? QString() : decoded(pair.mid(eq + 1));
        checkOption(key, value, url);
        if (!a.option(key).isEmpty())
            throw StoreError(QStringLiteral("'%1' gives the option %2 twice").arg(url, key));
        a.options.append({key, value});
    }
    if (a.user.isEmpty())
        throw StoreError(QStringLiteral("'%1' names no user").arg(url) + kShape);
    if (a.database.isEmpty())
        throw StoreError(QStringLiteral("'%1' names no database").arg(url) + kShape);
    return a;
}

QString ServerAddress::url() const
{
    QStringList hosts{hostText(host, port)};
    for (const auto &[h, p] : moreHosts)
        hosts << hostText(h, p);
    QStringList query;
    for (const auto &[key, value] : options)
        query << key + QLatin1Char('=') + QString::fromUtf8(QUrl::toPercentEncoding(value, "/:"));
    return QStringLiteral("postgresql://") + QString::fromUtf8(QUrl::toPercentEncoding(user)) + QLatin1Char('@')
        + hosts.join(QLatin1Char(',')) + QLatin1Char('/') + QString::fromUtf8(QUrl::toPercentEncoding(database))
        + (query.isEmpty() ? QString() : QLatin1Char('?') + query.join(QLatin1Char('&')));
}

QString ServerAddress::option(const QString &key) const
{
    for (const auto &[k, v] : options) {
        if (k == key)
            return v;
    }
    return {};
}

bool ServerAddress::isLocal() const
{
    return isLocalHost(host)
        && std::all_of(moreHosts.begin(), moreHosts.end(), [](const auto &h) { return isLocalHost(h.first); });
}

QString ServerAddress::sslMode() const
{
    const QString given = option(QStringLiteral("sslmode"));
    if (!given.isEmpty() || isLocal())
        return given;
    // Another computer, over a network this program cannot vouch for.
    return QStringLiteral("verify-full");
}

bool isVerifiedLink(const QString &url)
{
    if (!isServerUrl(url.trimmed()))
        return false;
    try {
        const ServerAddress a = parseServerUrl(url);
        return a.isLocal() || a.sslMode() == QLatin1String("verify-full");
    } catch (const StoreError &) {
        return false;
    }
}

} // namespace store
