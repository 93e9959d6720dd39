#include "store/Connection.h"

#include "store/ChangeHistory.h"
#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace store {
namespace {

QAtomicInteger<quint64> g_connectionCounter;

// Before any connection opens, also those a test or a tool opens on its own:
// every write to a calendar file runs the history triggers.
[[maybe_unused]] const bool g_fileFunctions = (registerFileFunctions(), true);

bool startsWith(const QString &sql, QLatin1String keyword)
{
    qsizetype i = 0;
    while (i < sql.size() && sql.at(i).isSpace())
        ++i;
    return QStringView(sql).mid(i, keyword.size()).compare(keyword, Qt::CaseInsensitive) == 0
        && (i + keyword.size() >= sql.size() || !sql.at(i + keyword.size()).isLetterOrNumber());
}

bool isInsert(const QString &sql)
{
    return startsWith(sql, QLatin1String("INSERT"));
}

// Whether running the statement twice leaves what running it once does. A read
// does; the program's updates and deletes set fixed values of rows named by
// key. An insert does not: a lost reply may come after its commit.
bool isRepeatable(const QString &sql)
{
    return startsWith(sql, QLatin1String("SELECT")) || startsWith(sql, QLatin1String("UPDATE"))
        || startsWith(sql, QLatin1String("DELETE"));
}

// The windows carry keys as 32-bit integers. Once another tool has used the
// last of them, SQLite hands out a larger one that could be saved but never
// read back, so an insert runs under a savepoint that is undone unless its key
// fits. A savepoint, not BEGIN, so that it also works inside a caller's
// transaction (an import, a repeat).
QString beyondKeysText(qlonglong key)
{
    return QStringLiteral("The new row would get the key %1, past the largest the program can read (%2); nothing was saved.")
        .arg(key)
        .arg(std::numeric_limits<int>::max());
}

// SQLite's failure as its Qt driver words it, with its result code.
QSqlError fileError(sqlite3 *file, int rc, const QString &what)
{
    return QSqlError(what, QString::fromUtf8(sqlite3_errmsg(file)), QSqlError::StatementError, QString::number(rc));
}

QString nulText()
{
    return QStringLiteral("The text holds a NUL character, which cannot be stored.");
}

// Values as Connection::execute refuses a statement: none with a NUL.
void refuseNul(const QVariantList &values)
{
    for (const QVariant &value : values) {
        if (value.typeId() == QMetaType::QString && static_cast<const QString *>(value.constData())->contains(QChar(0)))
            throw StoreError(nulText());
    }
}

qlonglong runInsert(const QSqlDatabase &db, const QString &sql, const QString &path)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SAVEPOINT orvenna_insert")))
        throw errorFrom(query.lastError(), path);
    std::optional<StoreError> failure;
    qlonglong key = -1;
    if (!query.exec(sql)) {
        failure = errorFrom(query.lastError(), path);
    } else {
        key = query.lastInsertId().toLongLong();
        if (key > std::numeric_limits<int>::max())
            failure = StoreError(beyondKeysText(key));
    }
    query.finish();
    if (!failure) {
        if (query.exec(QStringLiteral("RELEASE orvenna_insert")))
            return key;
        failure = errorFrom(query.lastError(), path);
    }
    query.exec(QStringLiteral("ROLLBACK TO orvenna_insert"));
    query.exec(QStringLiteral("RELEASE orvenna_insert"));
    throw *failure;
}

} // namespace

RowSet::RowSet() = default;
RowSet::RowSet(RowSet &&) noexcept = default;
RowSet &RowSet::operator=(RowSet &&) noexcept = default;
RowSet::~RowSet() = default;

RowSet::RowSet(std::unique_ptr<QSqlQuery> query, const QString &path)
    : m_query(std::move(query)), m_path(path)
{
    const QSqlRecord record = m_query->record();
    m_columns.reserve(record.count());
    for (int i = 0; i < record.count(); ++i) {
        const QString name = record.fieldName(i).toLower();
        if (!m_columns.contains(name))
            m_columns.insert(name, i);
        // A joined query may name its columns table.column; allow the bare name too.
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0 && !m_columns.contains(name.mid(dot + 1)))
            m_columns.insert(name.mid(dot + 1), i);
    }
    m_eof = !m_query->next();
    if (m_eof && m_query->lastError().isValid())
        throw errorFrom(m_query->lastError(), m_path);
}

void RowSet::moveNext()
{
    if (m_eof)
        return;
    m_eof = !m_query->next();
    if (m_eof && m_query->lastError().isValid())
        throw errorFrom(m_query->lastError(), m_path);
}

void RowSet::close()
{
    m_query.reset();
    m_columns.clear();
    m_path.clear();
    m_eof = true;
}

int RowSet::columnIndex(const QString &column) const
{
    const auto it = m_columns.constFind(column.toLower());
    if (it == m_columns.constEnd())
        throw StoreError(QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal: '%1'.").arg(column));
    return it.value();
}

QVariant RowSet::value(const QString &column) const
{
    if (m_eof || !m_query)
        throw StoreError(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."));
    return m_query->value(columnIndex(column));
}

QVariant RowSet::nonNull(const QString &column) const
{
    QVariant v = value(column);
    if (v.isNull())
        throw StoreError(QStringLiteral("Invalid use of Null: column '%1'.").arg(column));
    return v;
}

QString RowSet::text(const QString &column) const
{
    return nonNull(column).toString();
}

QString RowSet::optionalText(const QString &column) const
{
    return value(column).toString();
}

int RowSet::integer(const QString &column) const
{
    const QVariant v = nonNull(column);
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        throw StoreError(QStringLiteral("Type mismatch: '%1' in column '%2' is not a 32-bit whole number.").arg(v.toString(), column));
    return static_cast<int>(n);
}

QDateTime RowSet::dateTime(const QString &column) const
{
    const QVariant v = nonNull(column);
    if (v.typeId() == QMetaType::QDateTime) {
        // A server's timestamp: the wall-clock value as stored, whatever the zone.
        const QDateTime t = v.toDateTime();
        if (!t.isValid())
            throw StoreError(QStringLiteral("Type mismatch: column '%1' holds a time this computer's clock skips.").arg(column));
        return QDateTime(t.date(), t.time(), Qt::UTC);
    }
    return fromStored(v.toString());
}

Connection::~Connection()
{
    close();
}

void Connection::open(const QString &connectionString)
{
    if (engineOf(connectionString) == Engine::Postgres) {
        openServer(connectionString.trimmed());
        return;
    }
    const QString path = databasePathOf(connectionString);
    if (path.isEmpty())
        throw StoreError(QStringLiteral("Data source name not found and no default driver specified."));
    openFile(path);
}

void Connection::openFile(const QString &path)
{
    close();
    const QFileInfo info(path);
    if (!info.exists())
        throw StoreError(StoreError::Reason::Missing, info.absoluteFilePath(),
                         QStringLiteral("Could not find file '%1'.").arg(QDir::toNativeSeparators(path)));
    if (!info.isFile())
        throw StoreError(StoreError::Reason::NotCalendar, info.absoluteFilePath(),
                         QStringLiteral("'%1' is not a database file.").arg(QDir::toNativeSeparators(path)));

    registerFileFunctions();
    const QString name = QStringLiteral("orvenna-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // mode=rw: SQLite itself refuses to create a file that vanished meanwhile.
        db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                           + QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
        std::optional<StoreError> failure;
        if (!db.open()) {
            failure = errorFrom(db.lastError(), info.absoluteFilePath());
        } else {
            // SQLite opens lazily; touch the schema so a file that is no
            // database fails here, at open, like any other unusable file.
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                failure = errorFrom(probe.lastError(), info.absoluteFilePath());
            probe.finish();
            try {
                if (!failure)
                    bringUpToDate(db, Engine::Sqlite, info.absoluteFilePath());
                QSqlQuery history(db);
                if (!failure && history.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'tblChangeHistory'"))
                    && history.next()) {
                    history.finish();
                    for (const QString &trigger : fileHistoryTriggers())
                        if (!history.exec(trigger)) {
                            failure = errorFrom(history.lastError(), info.absoluteFilePath());
                            break;
                        }
                }
            } catch (const StoreError &newer) {
                failure = newer;
            }
        }
        if (failure) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            const QString text = QStringLiteral("Could not open '%1': %2").arg(QDir::toNativeSeparators(path), failure->driverText());
            throw StoreError(failure->reason(), failure->path(), text);
        }
    }
    m_name = name;
    m_path = info.absoluteFilePath();
    m_lastInsertId = -1;
}

void Connection::openServer(const QString &url)
{
    close();
    m_name = openServerConnection(url, true, &m_reused);
    m_path = url;
    m_engine = Engine::Postgres;
    m_lost = false;
    m_inTransaction = false;
}

void Connection::close()
{
    if (m_name.isEmpty())
        return;
    if (m_engine == Engine::Postgres) {
        // A transaction left open would hold its locks in the kept connection.
        releaseServerConnection(m_name, m_path, !m_lost && !m_inTransaction);
        m_name.clear();
        m_inTransaction = false;
        m_engine = Engine::Sqlite;
        return;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

RowSet Connection::execute(const QString &statement)
{
    requireOpen();
    // SQLite would end the statement at a NUL and run what came before it.
    if (statement.contains(QChar(0)))
        throw StoreError(nulText());
    const QString sql = toEngine(statement, m_engine);
    // The server's integer keys stop at 32 bits by themselves; SQLite's do not.
    if (m_engine == Engine::Sqlite && isInsert(sql)) {
        m_lastInsertId = runInsert(QSqlDatabase::database(m_name, false), sql, m_path);
        return RowSet();
    }
    auto query = run(sql);
    if (!query->isSelect())
        return RowSet();
    return RowSet(std::move(query), m_path);
}

int Connection::lastInsertId()
{
    requireOpen();
    qlonglong key = m_lastInsertId;
    if (m_engine == Engine::Postgres) {
        // The session's last identity value; the triggers draw none of their own.
        auto query = run(QStringLiteral("SELECT lastval()"));
        key = query->next() ? query->value(0).toLongLong() : -1;
    }
    if (key < 0 || key > std::numeric_limits<int>::max())
        throw StoreError(QStringLiteral("The database did not say which key the new row got."));
    return static_cast<int>(key);
}

PreparedWrite Connection::prepareWrite(const QString &sql)
{
    requireOpen();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (m_engine == Engine::Sqlite) {
        const QVariant handle = db.driver()->handle();
        sqlite3 *file = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
            ? *static_cast<sqlite3 *const *>(handle.constData())
            : nullptr;
        if (!file)
            throw StoreError(QStringLiteral("The database driver gave no SQLite connection to prepare a statement on."));
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt *statement = nullptr;
        const int rc = sqlite3_prepare_v3(file, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(statement);
            throw failure(fileError(file, rc, QStringLiteral("Unable to execute statement")));
        }
        return PreparedWrite(*this, nullptr, statement);
    }
    if (m_reused)
        makeSureAlive();
    auto query = std::make_unique<QSqlQuery>(db);
    if (!query->prepare(sql))
        throw failure(query->lastError());
    m_reused = false;
    return PreparedWrite(*this, std::move(query), nullptr);
}

void PreparedWrite::StatementFree::operator()(sqlite3_stmt *statement) const
{
    sqlite3_finalize(statement);
}

PreparedWrite::PreparedWrite(Connection &conn, std::unique_ptr<QSqlQuery> query, sqlite3_stmt *statement)
    : m_conn(&conn), m_query(std::move(query)), m_statement(statement)
{
}

PreparedWrite::PreparedWrite(PreparedWrite &&) noexcept = default;
PreparedWrite &PreparedWrite::operator=(PreparedWrite &&) noexcept = default;
PreparedWrite::~PreparedWrite() = default;

void PreparedWrite::run(const QVariantList &values)
{
    m_conn->requireOpen();
    refuseNul(values);
    if (m_statement)
        runFile(values, nullptr);
    else
        runServer(values, nullptr);
}

void PreparedWrite::runFile(const QVariantList &values, QList<qlonglong> *keys)
{
    sqlite3_stmt *statement = m_statement.get();
    sqlite3 *file = sqlite3_db_handle(statement);
    sqlite3_reset(statement);
    for (int i = 0; i < int(values.size()); ++i) {
        const QVariant &value = values.at(i);
        int rc = SQLITE_OK;
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
            rc = sqlite3_bind_int64(statement, i + 1, value.toLongLong());
            break;
        case QMetaType::QString: {
            // `values` outlives the run: SQLite may read the text where it is.
            const QString *text = static_cast<const QString *>(value.constData());
            rc = sqlite3_bind_text16(statement, i + 1, text->isNull() ? static_cast<const void *>(u"") : text->constData(),
                                     int(text->size() * sizeof(char16_t)), SQLITE_STATIC);
            break;
        }
        default:
            throw StoreError(QStringLiteral("A value of type %1 cannot be stored.").arg(QLatin1String(value.typeName())));
        }
        if (rc != SQLITE_OK)
            throw m_conn->failure(fileError(file, rc, QStringLiteral("Unable to bind parameters")));
    }
    for (;;) {
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE)
            break;
        if (rc == SQLITE_ROW) {
            if (keys)
                keys->append(sqlite3_column_int64(statement, 0));
            continue;
        }
        const QSqlError error = fileError(file, rc, QStringLiteral("Unable to fetch row"));
        sqlite3_reset(statement);
        throw m_conn->failure(error);
    }
    // Done with: it holds nothing until the next run.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

void PreparedWrite::runServer(const QVariantList &values, QList<qlonglong> *keys)
{
    for (int i = 0; i < int(values.size()); ++i) {
        const QVariant &value = values.at(i);
        // The driver sends a null text as NULL.
        if (value.typeId() == QMetaType::QString && static_cast<const QString *>(value.constData())->isNull())
            m_query->bindValue(i, QString(QLatin1String("")));
        else
            m_query->bindValue(i, value);
    }
    if (!m_query->exec())
        throw m_conn->failure(m_query->lastError());
    if (!keys)
        return;
    while (m_query->next())
        keys->append(m_query->value(0).toLongLong());
    if (m_query->lastError().isValid())
        throw m_conn->failure(m_query->lastError());
    m_query->finish();
}

QList<int> PreparedWrite::insertReturningKeys(const QVariantList &values, qsizetype rows)
{
    m_conn->requireOpen();
    refuseNul(values);
    QList<qlonglong> keys;
    keys.reserve(rows);
    if (m_statement)
        runFile(values, &keys);
    else
        runServer(values, &keys);
    if (keys.size() != rows)
        throw StoreError(QStringLiteral("The database did not say which key the new row got."));
    // Each engine draws increasing keys row by row, but may return them in any order.
    std::sort(keys.begin(), keys.end());
    QList<int> out;
    out.reserve(rows);
    for (qlonglong key : std::as_const(keys)) {
        if (key > std::numeric_limits<int>::max())
            throw StoreError(beyondKeysText(key));
        if (key < 0)
            throw StoreError(QStringLiteral("The database did not say which key the new row got."));
        out.append(static_cast<int>(key));
    }
    return out;
}

std::unique_ptr<QSqlQuery> Connection::run(const QString &sql)
{
    const bool repeatable = !m_inTransaction && isRepeatable(sql);
    if (m_engine == Engine::Postgres && m_reused && !repeatable)
        makeSureAlive();
    auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_name, false));
    // QPSQL streams forward-only rows and drops the rest when the next statement
    // runs on the connection; the server's small results are fetched whole.
    query->setForwardOnly(m_engine == Engine::Sqlite);
    if (query->exec(sql)) {
        m_reused = false;
        return query;
    }
    const QSqlError error = query->lastError();
    if (m_engine != Engine::Postgres || !isConnectionLost(error, m_name))
        throw failure(error);
    query.reset();
    m_lost = true;
    if (m_reused && repeatable) {
        // A kept connection the server dropped meanwhile (it restarted). Most
        // likely the statement never ran; if it did, running it again changes
        // nothing more.
        const QString url = m_path;
        openServer(url);
        m_reused = false;
        return run(sql);
    }
    throw failure(error);
}

void Connection::makeSureAlive()
{
    m_reused = false;
    QSqlQuery probe(QSqlDatabase::database(m_name, false));
    if (probe.exec(QStringLiteral("SELECT 1")))
        return;
    const QSqlError error = probe.lastError();
    probe = QSqlQuery();
    if (!isConnectionLost(error, m_name))
        throw failure(error);
    m_lost = true;
    const QString url = m_path;
    openServer(url);
    m_reused = false;
}

void Connection::requireOpen() const
{
    if (!isOpen())
        throw StoreError(QStringLiteral("Operation is not allowed when the object is closed."));
}

StoreError Connection::failure(const QSqlError &error)
{
    const StoreError e = errorFrom(error, m_path);
    if (m_engine == Engine::Sqlite || !isConnectionLost(error, m_name))
        return e;
    m_lost = true;
    return StoreError(StoreError::Reason::ServerLost, m_path, e.driverText());
}

// As a statement: the driver's own BEGIN and COMMIT drop SQLite's result code,
// and with it the plain reason (a disk that fills only at the commit).
void Connection::runTransactionStatement(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    if (!query.exec(sql))
        throw failure(query.lastError());
}

void Connection::beginTransaction(Begin begin)
{
    requireOpen();
    if (m_engine == Engine::Sqlite) {
        runTransactionStatement(begin == Begin::WriteLocked ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
        return;
    }
    if (m_reused)
        makeSureAlive(); // what runs inside is never run again
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.transaction())
        throw failure(db.lastError());
    m_inTransaction = true;
}

void Connection::commitTransaction()
{
    requireOpen();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (m_engine == Engine::Sqlite) {
        runTransactionStatement(QStringLiteral("COMMIT"));
        return;
    }
    m_inTransaction = false;
    if (!db.commit())
        throw failure(db.lastError());
}

void Connection::rollbackTransaction()
{
    m_inTransaction = false;
    if (isOpen())
        QSqlDatabase::database(m_name, false).rollback();
}

} // namespace store
