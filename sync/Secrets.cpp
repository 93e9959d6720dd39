// GLib's headers name a struct member "signals", which Qt's headers define as
// a keyword: libsecret comes first.
#include <libsecret/secret.h>

#include "sync/Secrets.h"

namespace caldav {

namespace {

const SecretSchema *schema()
{
    static const SecretSchema s = {"org.orvenna.CalDav",
                                   SECRET_SCHEMA_NONE,
                                   {{"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SecretSchemaAttributeType(0)}},
                                   0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &s;
}

QString memoryKey(const QUrl &server, const QString &user)
{
    return Secrets::serverKey(server) + QLatin1Char('\n') + user;
}

QString taken(GError *error)
{
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

} // namespace

QString Secrets::serverKey(const QUrl &url)
{
    QUrl server;
    server.setScheme(url.scheme().toLower());
    server.setHost(url.host().toLower());
    server.setPort(url.port(url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ? 80 : 443));
    return server.toString();
}

std::optional<QString> DesktopSecrets::password(const QUrl &server, const QString &user)
{
    const QString key = memoryKey(server, user);
    if (!m_unavailable.isEmpty() || m_memory.contains(key))
        return m_memory.contains(key) ? std::optional<QString>(m_memory.value(key)) : std::nullopt;
    GError *error = nullptr;
    const QByteArray serverText = serverKey(server).toUtf8(), userText = user.toUtf8();
    gchar *found = secret_password_lookup_sync(schema(), nullptr, &error, "server", serverText.constData(), "user",
                                               userText.constData(), nullptr);
    if (error) {
        m_unavailable = taken(error);
        return std::nullopt;
    }
    if (!found)
        return std::nullopt;
    const QString out = QString::fromUtf8(found);
    secret_password_free(found);
    return out;
}

void DesktopSecrets::setPassword(const QUrl &server, const QString &user, const QString &password)
{
    const QString key = memoryKey(server, user);
    if (m_unavailable.isEmpty()) {
        GError *error = nullptr;
        const QByteArray serverText = serverKey(server).toUtf8(), userText = user.toUtf8(),
                         label = QStringLiteral("Orvenna calendar sync: %1 at %2").arg(user, serverKey(server)).toUtf8(),
                         secret = password.toUtf8();
        if (secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret.constData(),
                                       nullptr, &error, "server", serverText.constData(), "user",
                                       userText.constData(), nullptr)) {
            m_memory.remove(key);
            return;
        }
        m_unavailable = error ? taken(error) : QStringLiteral("the secret store did not keep it");
    }
    m_memory.insert(key, password);
}

void DesktopSecrets::forget(const QUrl &server, const QString &user)
{
    m_memory.remove(memoryKey(server, user));
    if (!m_unavailable.isEmpty())
        return;
    GError *error = nullptr;
    const QByteArray serverText = serverKey(server).toUtf8(), userText = user.toUtf8();
    secret_password_clear_sync(schema(), nullptr, &error, "server", serverText.constData(), "user",
                               userText.constData(), nullptr);
    if (error)
        m_unavailable = taken(error);
}

} // namespace caldav
