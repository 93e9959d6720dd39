#include "support/TestDatabase.h"

#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/Schema.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <stdexcept>

namespace {
const QString kRaw = QStringLiteral("testdatabase-raw");

template <typename F>
auto withRaw(const QString &path, F f)
{
    struct Remover
    {
        ~Remover() { QSqlDatabase::removeDatabase(kRaw); }
    } remover;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kRaw);
    db.setDatabaseName(path);
    if (!db.open())
        throw std::runtime_error(db.lastError().text().toStdString());
    QSqlQuery q(db);
    return f(q);
}
} // namespace

TestDatabase::TestDatabase(bool createFile)
    : m_prompt(std::make_unique<FakePrompt>()), m_modal(std::make_unique<FakeModal>())
{
    if (createFile)
        store::createDatabase(path());
    services.programFolder = m_dir.path();
    services.prompt = m_prompt.get();
    services.modal = m_modal.get();
}

TestDatabase::~TestDatabase() = default;

QString TestDatabase::folder() const { return m_dir.path(); }
QString TestDatabase::path() const { return m_dir.filePath(QStringLiteral("eventDB.mdb")); }
QString TestDatabase::connectionString() const { return store::connectionStringFor(folder()); }

void TestDatabase::exec(const QString &sql)
{
    withRaw(path(), [&](QSqlQuery &q) {
        if (!q.exec(sql))
            throw std::runtime_error((sql + QStringLiteral(": ") + q.lastError().text()).toStdString());
        return 0;
    });
}

QVariant TestDatabase::scalar(const QString &sql)
{
    return withRaw(path(), [&](QSqlQuery &q) {
        if (!q.exec(sql) || !q.next())
            throw std::runtime_error((sql + QStringLiteral(": ") + q.lastError().text()).toStdString());
        return q.value(0);
    });
}

int TestDatabase::count(const QString &table)
{
    return scalar(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

namespace {
QString quoted(const QString &s)
{
    QString t = s;
    t.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}
} // namespace

int TestDatabase::addTemplate(const QString &title, const QString &description)
{
    exec(QStringLiteral("INSERT INTO tblPredefinedEvents(title, Description) VALUES(%1, %2)")
             .arg(quoted(title), quoted(description)));
    return scalar(QStringLiteral("SELECT max(idPredefinedEvent) FROM tblPredefinedEvents")).toInt();
}

int TestDatabase::addStaff(const QString &name, const QString &notes)
{
    exec(QStringLiteral("INSERT INTO tblPOCs(pocName, pocDescription) VALUES(%1, %2)").arg(quoted(name), quoted(notes)));
    return scalar(QStringLiteral("SELECT max(idPOC) FROM tblPOCs")).toInt();
}

int TestDatabase::addEvent(const QString &title, const QDateTime &start, const QDateTime &end, int staffId,
                           const QString &description, const QString &notes)
{
    exec(QStringLiteral("INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                        "VALUES(%1, %2, %3, %4, %5, %6)")
             .arg(quoted(title), quoted(description), quoted(notes), quoted(store::toStored(start)),
                  quoted(store::toStored(end)), QString::number(staffId)));
    return scalar(QStringLiteral("SELECT max(idScheduledEvent) FROM tblScheduledEvents")).toInt();
}
