#include "store/EventSearch.h"

#include "store/Connection.h"
#include "store/Engine.h"

#include <QDir>

namespace store {
namespace {

QString quotedText(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

// FTS5: each word a quoted prefix, all of them required.
QString fileCondition(const QStringList &words)
{
    QStringList terms;
    for (const QString &word : words)
        terms << QLatin1Char('"') + QString(word).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QStringLiteral("\"*");
    return QStringLiteral("tblEventSearch MATCH ") + quotedText(terms.join(QStringLiteral(" AND ")));
}

// The server folds each word as it folded the stored texts, then takes it as
// a quoted prefix lexeme.
QString serverCondition(const QStringList &words)
{
    QStringList terms;
    for (const QString &word : words)
        terms << QStringLiteral("to_tsquery('simple', '''' || replace(orvenna_fold(%1), '''', '''''') || ''':*')")
                     .arg(quotedText(word));
    return QStringLiteral("s.words @@ (") + terms.join(QStringLiteral(" && ")) + QLatin1Char(')');
}

const QString kColumns = QStringLiteral(
    "e.idScheduledEvent AS idScheduledEvent, e.title AS title, e.Description AS Description, e.Notes AS Notes, "
    "e.EventTime AS EventTime, e.EventTimeEnd AS EventTimeEnd, e.idPOC AS idPOC, p.pocName AS pocName");
const QString kStaff = QStringLiteral(" LEFT JOIN tblPOCs p ON p.idPOC = e.idPOC");
const QString kNewestFirst = QStringLiteral(" ORDER BY e.EventTime DESC, e.idScheduledEvent DESC");

// The newest keys are picked from the start times alone, and only those rows
// read whole: a word in most events sorts far fewer bytes.
QString fileStatement(const QStringList &words, int limit)
{
    return QStringLiteral("SELECT ") + kColumns
        + QStringLiteral(" FROM (SELECT e.idScheduledEvent AS id FROM tblEventSearch JOIN tblScheduledEvents e"
                         " ON e.idScheduledEvent = tblEventSearch.rowid WHERE ")
        + fileCondition(words) + kNewestFirst + QStringLiteral(" LIMIT ") + QString::number(limit)
        + QStringLiteral(") k JOIN tblScheduledEvents e ON e.idScheduledEvent = k.id") + kStaff + kNewestFirst;
}

// Above this many events holding the words, the server walks the events from
// the newest back until it has enough; below it, it sorts those it found.
// The server's guess between the two can be far off for a rare word's prefix,
// so it is counted first.
constexpr int kCommon = 5000;

QString serverCount(const QStringList &words)
{
    return QStringLiteral("SELECT count(*) AS found FROM (SELECT 1 FROM tblEventSearch s WHERE ") + serverCondition(words)
        + QStringLiteral(" LIMIT ") + QString::number(kCommon) + QStringLiteral(") m");
}

QString serverStatement(const QStringList &words, int limit, bool common)
{
    const QString tail = kNewestFirst + QStringLiteral(" LIMIT ") + QString::number(limit);
    if (common)
        return QStringLiteral("SELECT ") + kColumns
            + QStringLiteral(" FROM tblScheduledEvents e JOIN tblEventSearch s ON s.idScheduledEvent = e.idScheduledEvent")
            + kStaff + QStringLiteral(" WHERE ") + serverCondition(words) + tail;
    return QStringLiteral("WITH m AS MATERIALIZED (SELECT s.idScheduledEvent FROM tblEventSearch s WHERE ")
        + serverCondition(words) + QStringLiteral(") SELECT ") + kColumns
        + QStringLiteral(" FROM m JOIN tblScheduledEvents e ON e.idScheduledEvent = m.idScheduledEvent") + kStaff + tail;
}

bool hasIndex(Connection &conn)
{
    const QString sql = conn.engine() == Engine::Postgres
        ? QStringLiteral("SELECT count(*) AS found FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
                         " AND tablename = 'tbleventsearch'")
        : QStringLiteral("SELECT count(*) AS found FROM sqlite_master WHERE lower(name) = 'tbleventsearch'");
    return conn.execute(sql).integer(QStringLiteral("found")) == 1;
}

Event eventOf(const RowSet &row)
{
    Event e;
    e.id = row.integer(QStringLiteral("idScheduledEvent"));
    e.values.title = row.text(QStringLiteral("title"));
    e.values.description = row.optionalText(QStringLiteral("Description"));
    e.values.notes = row.optionalText(QStringLiteral("Notes"));
    const QDateTime start = row.dateTime(QStringLiteral("EventTime"));
    e.values.startDate = start.date();
    e.values.startTime = start.time();
    // A listing: an end or staff key another tool left unreadable is left out.
    try {
        const QDateTime end = row.dateTime(QStringLiteral("EventTimeEnd"));
        e.values.endDate = end.date();
        e.values.endTime = end.time();
    } catch (const StoreError &) {
    }
    try {
        e.values.staffId = row.integer(QStringLiteral("idPOC"));
    } catch (const StoreError &) {
        e.values.staffId = -1;
    }
    e.staffName = row.optionalText(QStringLiteral("pocName"));
    return e;
}

} // namespace

QStringList EventSearch::words(const QString &typed)
{
    QStringList words;
    QString word;
    bool hasBase = false; // a word of accents alone is none
    const QString text = typed.normalized(QString::NormalizationForm_C);
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const QChar c = i < text.size() ? text.at(i) : QChar();
        if (i < text.size() && (c.isLetterOrNumber() || c.isMark() || c.isSurrogate())) {
            word += c;
            hasBase = hasBase || !c.isMark();
            continue;
        }
        if (hasBase)
            words << word;
        word.clear();
        hasBase = false;
    }
    return words;
}

QList<Event> EventSearch::find(Connection &conn, const QString &typed, int limit)
{
    QList<Event> found;
    const QStringList typedWords = words(typed);
    if (typedWords.isEmpty() || limit <= 0)
        return found;
    RowSet rs;
    try {
        if (conn.engine() == Engine::Postgres) {
            const bool common = conn.execute(serverCount(typedWords)).integer(QStringLiteral("found")) >= kCommon;
            rs = conn.execute(serverStatement(typedWords, limit, common));
        } else {
            rs = conn.execute(fileStatement(typedWords, limit));
        }
    } catch (const StoreError &e) {
        bool missing = false;
        try {
            missing = !hasIndex(conn);
        } catch (const StoreError &) {
        }
        if (!missing)
            throw;
        const bool server = conn.engine() == Engine::Postgres;
        const QString calendar = server ? QStringLiteral("The shared calendar %1").arg(withoutPassword(conn.path()))
                                        : QStringLiteral("The calendar '%1'").arg(QDir::toNativeSeparators(conn.path()));
        throw StoreError(StoreError::Reason::Other, conn.path(),
                         calendar
                             + QStringLiteral(" comes from an older Orvenna and could not be brought up to date when it "
                                              "was opened, so it has no index to search yet. ")
                             + (server ? QStringLiteral("Open it once with a login that may create tables, then try again.")
                                       : QStringLiteral("Make the file and its folder writable, then open it again.")));
    }
    while (!rs.eof()) {
        // A row another tool left without a readable start has no week to show it in.
        try {
            found.append(eventOf(rs));
        } catch (const StoreError &) {
        }
        rs.moveNext();
    }
    return found;
}

} // namespace store
