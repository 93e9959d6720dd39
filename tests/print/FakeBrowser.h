#pragma once

#include "print/BrowserCommands.h"

#include <QHash>
#include <QStringList>
#include <QWidget>

// Stands in for the HTML view: records every operation as a line of text
// ("navigate <path>", "status 6", "exec 6 2", "exec 6 1 texts") and fails the
// ones a test names with the description it gives.
class FakeBrowserFactory : public BrowserFactory
{
public:
    QStringList calls;
    QHash<int, quint32> status;     // absent: enabled
    QHash<QString, QString> failures; // call line (without the path for navigate) -> description

    std::unique_ptr<BrowserCommands> create(QWidget *parent) override;

    [[nodiscard]] QStringList callsExceptNavigate() const
    {
        QStringList out;
        for (const QString &c : calls)
            if (!c.startsWith(QLatin1String("navigate")))
                out << c;
        return out;
    }
};

class FakeBrowser : public BrowserCommands
{
public:
    FakeBrowser(QWidget *parent, FakeBrowserFactory &factory)
        : m_view(new QWidget(parent)), m_factory(factory) {}

    void navigate(const QString &path) override
    {
        m_factory.calls << QStringLiteral("navigate ") + path;
        failIfAsked(QStringLiteral("navigate"));
    }
    quint32 queryStatus(int cmd) override
    {
        const QString call = QStringLiteral("status %1").arg(cmd);
        m_factory.calls << call;
        failIfAsked(call);
        return m_factory.status.value(cmd, OLECMDF_ENABLED);
    }
    void exec(int cmd, int option) override
    {
        const QString call = QStringLiteral("exec %1 %2").arg(cmd).arg(option);
        m_factory.calls << call;
        failIfAsked(call);
    }
    void exec(int cmd, int option, const QString &in, QString &out) override
    {
        const QString call = QStringLiteral("exec %1 %2 %3").arg(cmd).arg(option).arg(
            in.isEmpty() && out.isEmpty() ? QStringLiteral("texts") : QStringLiteral("non-empty texts"));
        m_factory.calls << call;
        failIfAsked(call);
    }
    QWidget *widget() override { return m_view; }

private:
    void failIfAsked(const QString &call)
    {
        const auto it = m_factory.failures.constFind(call);
        if (it != m_factory.failures.constEnd())
            throw BrowserError(it.value());
    }

    QWidget *m_view; // owned by its parent window
    FakeBrowserFactory &m_factory;
};

inline std::unique_ptr<BrowserCommands> FakeBrowserFactory::create(QWidget *parent)
{
    return std::make_unique<FakeBrowser>(parent, *this);
}
