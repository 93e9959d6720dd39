#pragma once

#include <QHash>
#include <QString>
#include <QUrl>

#include <optional>

// Where the password of a CalDAV account is kept: never in the settings file
// nor in the calendar. Keyed by the server (scheme, host and port) and the user.
namespace caldav {

class Secrets
{
public:
    virtual ~Secrets() = default;
    // None when no password is kept for them.
    [[nodiscard]] virtual std::optional<QString> password(const QUrl &server, const QString &user) = 0;
    virtual void setPassword(const QUrl &server, const QString &user, const QString &password) = 0;
    virtual void forget(const QUrl &server, const QString &user) = 0;
    // Why passwords are kept for this run only; empty while the secret store keeps them.
    [[nodiscard]] virtual QString unavailable() const = 0;

    // "https://host:port", the part of `url` a password belongs to.
    [[nodiscard]] static QString serverKey(const QUrl &url);
};

// The desktop's secret store (the Secret Service, through libsecret). Where
// none answers, passwords are kept in memory for this run and unavailable()
// says why.
class DesktopSecrets : public Secrets
{
public:
    std::optional<QString> password(const QUrl &server, const QString &user) override;
    void setPassword(const QUrl &server, const QString &user, const QString &password) override;
    void forget(const QUrl &server, const QString &user) override;
    [[nodiscard]] QString unavailable() const override { return m_unavailable; }

private:
    QString m_unavailable;
    QHash<QString, QString> m_memory; // serverKey + '\n' + user
};

} // namespace caldav
