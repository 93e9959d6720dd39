#include "store/Schema.h"

#include "store/Connection.h"
#include "store/Engine.h"
#include "store/Statements.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace store {

void createDatabase(const QString &path)
{
    if (isServerUrl(path)) {
        createServerTables(path);
        return;
    }
    if (QFileInfo::exists(path))
        throw StoreError(QStringLiteral("'%1' exists already.").arg(QDir::toNativeSeparators(path)));
    const QString name = QStringLiteral("orvenna-create");
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            failure = db.lastError().text();
        } else {
            // One transaction: a file is a calendar of the latest version, or nothing.
            QSqlQuery q(db);
            const QStringList ddl = QStringList{QStringLiteral("BEGIN")} + newSchemaStatements(Engine::Sqlite)
                + QStringList{QStringLiteral("COMMIT")};
            for (const QString &statement : ddl) {
                if (!q.exec(statement)) {
                    failure = q.lastError().text();
                    break;
                }
            }
            q = QSqlQuery();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty()) {
        QFile::remove(path);
        throw StoreError(QStringLiteral("Could not create '%1': %2").arg(QDir::toNativeSeparators(path), failure));
    }
}

void addDemoData(const QString &path, const QDate &today)
{
    Connection conn;
    if (isServerUrl(path))
        conn.open(path);
    else
        conn.openFile(path);
    const struct { const char *title; const char *description; } templates[] = {
        {"Dynamic warm-up", "Jog, high knees, butt kicks, carioca and leg swings.\r\nTen minutes, whole squad."},
        {"Passing triangle", "Three cones 10 m apart; two-touch passing, switch direction every minute.\r\nEquipment: cones, 1 ball per group of three."},
        {"Shooting drill", "Shots from the edge of the box after a lay-off.\r\nRotate the keeper every 5 shots."},
        {"Small-sided game", "4 v 4 on a 30 x 20 m pitch with mini goals.\r\nFocus: quick transitions."},
        {"Cool-down and stretch", "Easy jog, then static stretches held for 30 seconds."},
    };
    for (const auto &t : templates)
        conn.execute(statements::insertTemplate(QString::fromUtf8(t.title), QString::fromUtf8(t.description)));

    const struct { const char *name; const char *notes; } staff[] = {
        {"Dana Whitfield", "Head coach.\r\nPhone 555-0142"},
        {"Marco Reyes", "Assistant coach, goalkeepers."},
        {"Priya Natarajan", "Strength and conditioning."},
    };
    for (const auto &s : staff)
        conn.execute(statements::insertStaff(QString::fromUtf8(s.name), QString::fromUtf8(s.notes)));

    const struct { int dayOffset; int hour; int minute; int minutes; int templateIndex; int staffId; const char *notes; } events[] = {
        {-2, 16, 0, 15, 0, 1, "Bring the agility ladders."},
        {-2, 16, 15, 45, 1, 2, ""},
        {-1, 17, 30, 60, 3, 1, "Bibs in two colours."},
        {0, 9, 0, 15, 0, 3, ""},
        {0, 9, 15, 30, 2, 2, "Keepers rotate every 5 shots."},
        {0, 10, 0, 20, 4, 3, ""},
        {1, 18, 0, 90, 3, 1, "Friendly against the under-17s."},
        {2, 7, 30, 45, 1, 2, ""},
    };
    for (const auto &e : events) {
        statements::EventValues v;
        v.title = QString::fromUtf8(templates[e.templateIndex].title);
        v.description = QString::fromUtf8(templates[e.templateIndex].description);
        v.notes = QString::fromUtf8(e.notes);
        const QDateTime start(today.addDays(e.dayOffset), QTime(e.hour, e.minute), Qt::UTC);
        const QDateTime end = start.addSecs(60LL * e.minutes);
        v.startDate = start.date();
        v.startTime = start.time();
        v.endDate = end.date();
        v.endTime = end.time();
        v.staffId = e.staffId;
        conn.execute(statements::insertEvent(v));
    }
}

} // namespace store
