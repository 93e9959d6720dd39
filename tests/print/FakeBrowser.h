#pragma once

#include "print/BrowserCommands.h"

#include <QHash>
#include <QStringList>
#include <QWidget>

// Stands in for the HTML view: every view it makes records its commands as
// lines ("status 6", "exec 6 2", "exec 6 1 texts" for the form with in and out
// texts) and fails the ones a test names with the description it gives.
struct FakeBrowserFactory : BrowserFactory
{
    QStringList calls;
    quint32 status = OLECMDF_ENABLED; // of every command
    QHash<QString, QString> failures; // command line -> description

    struct View : BrowserCommands
    {
        FakeBrowserFactory &f;
        QWidget *view; // owned by its parent window
        View(FakeBrowserFactory &factory, QWidget *parent) : f(factory), view(new QWidget(parent)) {}
        void navigate(const QString &) override {}
        quint32 queryStatus(int cmd) override { record(QStringLiteral("status %1").arg(cmd)); return f.status; }
        void exec(int cmd, int opt) override { record(QStringLiteral("exec %1 %2").arg(cmd).arg(opt)); }
        void exec(int cmd, int opt, const QString &, QString &) override
        {
            record(QStringLiteral("exec %1 %2 texts").arg(cmd).arg(opt));
        }
        void setLandscape() override {}
        QWidget *widget() override { return view; }
        void record(const QString &call)
        {
            f.calls << call;
            if (f.failures.contains(call))
                throw BrowserError(f.failures.value(call));
        }
    };

    std::unique_ptr<BrowserCommands> create(QWidget *parent) override { return std::make_unique<View>(*this, parent); }
};
