#pragma once

#include "store/Engine.h"
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
// With the server engine the database is the test process's own database on
// the throw-away PostgreSQL (socket folder in ORVENNA_TEST_PGHOST), emptied
// and given fresh tables for each TestDatabase.
class TestDatabase
{
public:
    explicit TestDatabase(bool createFile = true);
    ~TestDatabase();

    static void setEngine(store::Engine engine);
    [[nodiscard]] static store::Engine engine();
    // Runs the test object once per engine; a server that cannot be reached
    // is a failure with its reason.
    static int runOnEachEngine(QObject *test, int argc, char **argv);
    // The URL of this process's database on the test server, or of another
    // database or user there; throws std::runtime_error with the reason when
    // there is no test server.
    [[nodiscard]] static QString serverUrl(const QString &database = QString(), const QString &user = QStringLiteral("orvenna"));

    [[nodiscard]] QString folder() const;
    [[nodiscard]] QString path() const; // .../eventDB.mdb, or the server URL
    [[nodiscard]] QString connectionString() const;

    AppServices services;
    FakePrompt &prompt() { return *m_prompt; }
    FakeModal &modal() { return *m_modal; }

    int addTemplate(const QString &title, const QString &description);
    int addStaff(const QString &name, const QString &notes);
    int addEvent(const QString &title, const QDateTime &start, const QDateTime &end, int staffId,
                 const QString &description = QString(), const QString &notes = QString());
    // Raw SQL straight to the engine, for states the program itself never writes.
    void exec(const QString &sql);
    [[nodiscard]] QVariant scalar(const QString &sql);
    [[nodiscard]] int count(const QString &table);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakePrompt> m_prompt;
    std::unique_ptr<FakeModal> m_modal;
};
