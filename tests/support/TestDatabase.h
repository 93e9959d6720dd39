#pragma once

#include "ui/AppServices.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

class FakePrompt;
class FakeModal;

// A program folder of its own per test: an empty database (made by the same
// code as the companion tool), fake prompt and modal seams, and small helpers
// to put rows in and read them back without going through the windows.
class TestDatabase
{
public:
    explicit TestDatabase(bool createFile = true);
    ~TestDatabase();

    [[nodiscard]] QString folder() const;
    [[nodiscard]] QString path() const; // .../eventDB.mdb
    [[nodiscard]] QString connectionString() const;

    AppServices services;
    FakePrompt &prompt() { return *m_prompt; }
    FakeModal &modal() { return *m_modal; }

    int addTemplate(const QString &title, const QString &description);
    int addStaff(const QString &name, const QString &notes);
    int addEvent(const QString &title, const QDateTime &start, const QDateTime &end, int staffId,
                 const QString &description = QString(), const QString &notes = QString());
    // Raw SQL straight to SQLite, for states the program itself never writes.
    void exec(const QString &sql);
    [[nodiscard]] QVariant scalar(const QString &sql);
    [[nodiscard]] int count(const QString &table);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakePrompt> m_prompt;
    std::unique_ptr<FakeModal> m_modal;
};
