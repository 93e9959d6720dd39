// Fuzzes the statement builders and the date-literal dialect: whatever a user
// types, a built statement either runs or fails with a description, and it
// never touches a row it was not meant for.

#include "store/Connection.h"
#include "store/Dialect.h"
#include "store/Schema.h"
#include "store/Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <memory>

namespace {

QTemporaryDir *g_dir = nullptr;
std::string g_dirPath;
QString g_path;

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

struct Reader
{
    const uint8_t *data;
    size_t size;
    size_t pos = 0;

    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    QString text()
    {
        const size_t len = byte();
        const size_t n = std::min(len, size - std::min(pos, size));
        const QString s = QString::fromUtf8(reinterpret_cast<const char *>(data + pos), int(n));
        pos += n;
        return s;
    }
};

QString sentinelState(store::Connection &conn)
{
    QString state;
    const struct { const char *sql; const char *column; } reads[] = {
        {"SELECT * from tblScheduledEvents where idScheduledEvent = 1", "title"},
        {"SELECT * from tblPredefinedEvents where idPredefinedEvent = 1", "title"},
        {"SELECT * from tblPOCs where idPOC = 1", "pocName"},
    };
    for (const auto &read : reads) {
        store::RowSet rs = conn.execute(QString::fromLatin1(read.sql));
        check(!rs.eof(), "sentinel row gone");
        state += rs.text(QString::fromLatin1(read.column)) + QLatin1Char('|');
    }
    return state;
}

int total(store::Connection &conn)
{
    int n = 0;
    for (const QString &t : {QStringLiteral("tblScheduledEvents"), QStringLiteral("tblPredefinedEvents"), QStringLiteral("tblPOCs")}) {
        store::RowSet rs = conn.execute(QStringLiteral("SELECT count(*) AS n FROM ") + t);
        n += rs.integer(QStringLiteral("n"));
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Never destroyed: libFuzzer leaves through exit(), after Qt's own globals are gone.
    new QCoreApplication(*argc, *argv);
    g_dir = new QTemporaryDir;
    g_dir->setAutoRemove(false);
    g_dirPath = g_dir->path().toStdString();
    std::atexit([] { std::filesystem::remove_all(g_dirPath); });
    g_path = g_dir->filePath(QStringLiteral("eventDB.mdb"));
    store::createDatabase(g_path);
    store::Connection conn;
    conn.openFile(g_path);
    statements::EventValues v{QStringLiteral("Sentinel"), QStringLiteral("d"), QStringLiteral("n"),
                              QDate(2026, 1, 1), QTime(9, 0), QDate(2026, 1, 1), QTime(10, 0), 1};
    conn.execute(statements::insertEvent(v));
    conn.execute(statements::insertTemplate(QStringLiteral("Sentinel"), QStringLiteral("d")));
    conn.execute(statements::insertStaff(QStringLiteral("Sentinel"), QStringLiteral("n")));
    return 0;
}

static int testOne(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    const int mode = r.byte() % 4;

    if (mode == 0) {
        // The dialect alone, on arbitrary statement text.
        const QString statement = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
        try {
            const QString translated = store::toSqlite(statement);
            check(!translated.contains(QLatin1Char('#')) || statement.contains(QLatin1Char('\'')), "literal left over");
        } catch (const store::StoreError &e) {
            check(!e.description().isEmpty(), "failure without description");
        }
        return 0;
    }

    statements::EventValues v;
    v.title = r.text();
    v.description = r.text();
    v.notes = r.text();
    v.startDate = QDate(1 + (r.byte() * 40) % 9999, 1 + r.byte() % 13, 1 + r.byte() % 32);
    v.startTime = QTime(r.byte() % 25, r.byte() % 61);
    v.endDate = v.startDate.addDays(r.byte() % 3);
    v.endTime = QTime(r.byte() % 24, r.byte() % 60);
    v.staffId = int(int8_t(r.byte()));

    store::Connection conn;
    conn.openFile(g_path);
    const QString before = sentinelState(conn);
    const int rowsBefore = total(conn);

    QString insert, update, remove;
    if (mode == 1) {
        insert = statements::insertEvent(v);
    } else if (mode == 2) {
        insert = statements::insertTemplate(v.title, v.description);
    } else {
        insert = statements::insertStaff(v.title, v.notes);
    }
    bool inserted = false;
    try {
        conn.execute(insert);
        inserted = true;
    } catch (const store::StoreError &e) {
        check(!e.description().isEmpty(), "failure without description");
        // Only an impossible date, or a NUL no text box lets a person type,
        // may refuse a row.
        const bool badDate = mode == 1 && (!v.startDate.isValid() || !v.startTime.isValid() || !v.endTime.isValid()
                                           || !v.endDate.isValid() || v.endDate.year() > 9999);
        check(badDate || insert.contains(QChar(0)), "a valid row was refused");
    }
    check(total(conn) == rowsBefore + (inserted ? 1 : 0), "insert changed another row count");

    if (inserted) {
        const char *table = mode == 1 ? "tblScheduledEvents" : mode == 2 ? "tblPredefinedEvents" : "tblPOCs";
        const char *key = mode == 1 ? "idScheduledEvent" : mode == 2 ? "idPredefinedEvent" : "idPOC";
        int id = 0;
        {
            store::RowSet rs = conn.execute(QStringLiteral("SELECT max(%1) AS id FROM %2").arg(key, table));
            id = rs.integer(QStringLiteral("id"));
        }
        // Read back: apostrophes became blanks, nothing else changed.
        const QString expected = statements::cleanText(v.title);
        {
            const QString byId = mode == 1 ? statements::eventById(id) : mode == 2 ? statements::templateById(id) : statements::staffById(id);
            store::RowSet rs = conn.execute(byId);
            check(!rs.eof(), "inserted row not found");
            check(rs.text(mode == 3 ? QStringLiteral("pocName") : QStringLiteral("title")) == expected, "text changed on the way");
        }
        v.title = v.notes + v.title;
        update = mode == 1 ? statements::updateEvent(v, id)
            : mode == 2    ? statements::updateTemplate(v.title, v.description, id)
                           : statements::updateStaff(v.title, v.notes, id);
        try {
            conn.execute(update);
        } catch (const store::StoreError &) {
            check(update.contains(QChar(0)), "a valid update was refused");
        }
        remove = mode == 1 ? statements::deleteEvent(id) : mode == 2 ? statements::deleteTemplate(id) : statements::deleteStaff(id);
        conn.execute(remove);
    }
    check(total(conn) == rowsBefore, "rows left behind or lost");
    check(sentinelState(conn) == before, "another row was changed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        return testOne(data, size);
    } catch (const store::StoreError &e) {
        // Any failure left uncaught above is one the program would not expect.
        fprintf(stderr, "unexpected failure: %s\n", qPrintable(e.description()));
        abort();
    }
}
