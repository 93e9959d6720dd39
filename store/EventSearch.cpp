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

QString statementFor(Engine engine, const QStringList &words, int limit)
{
    const bool server = engine == Engine::Postgres;
    return QStringLiteral("SELECT e.idScheduledEvent AS idScheduledEvent, e.title AS title, e.Description AS Description, "
                          "e.Notes AS Notes, e.EventTime AS EventTime, e.EventTimeEnd AS EventTimeEnd, e.idPOC AS idPOC, "
                          "p.pocName AS pocName FROM ")
        + (server ? QStringLiteral("tblEventSearch s JOIN tblScheduledEvents e ON e.idScheduledEvent = s.idScheduledEvent")
                  : QStringLiteral("tblEventSearch JOIN tblScheduledEvents e ON e.idScheduledEvent = tblEventSearch.rowid"))
        + QStringLiteral(" LEFT JOIN tblPOCs p ON p.idPOC = e.idPOC WHERE ")
        + (server ? serverCondition(words) : fileCondition(words))
        + QStringLiteral(" ORDER BY e.EventTime DESC, e.idScheduledEvent DESC LIMIT ") + QString::number(limit);
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
        rs = conn.execute(statementFor(conn.engine(), typedWords, limit));
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
