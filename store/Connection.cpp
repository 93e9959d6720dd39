#include "store/Connection.h"

#include "store/ConnectionString.h"
#include "store/Dialect.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <limits>

namespace store {
namespace {

QAtomicInteger<quint64> g_connectionCounter;

QString describe(const QSqlError &error)
{
    QString text = error.driverText();
    const QString db = error.databaseText();
    if (!db.isEmpty() && db != text)
        text = text.isEmpty() ? db : text + QStringLiteral(": ") + db;
    return text.isEmpty() ? QStringLiteral("Unknown database error.") : text;
}

} // namespace

RowSet::RowSet() = default;
RowSet::RowSet(RowSet &&) noexcept = default;
RowSet &RowSet::operator=(RowSet &&) noexcept = default;
RowSet::~RowSet() = default;

RowSet::RowSet(std::unique_ptr<QSqlQuery> query)
    : m_query(std::move(query))
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
        throw StoreError(describe(m_query->lastError()));
}

void RowSet::moveNext()
{
    if (m_eof)
        return;
    m_eof = !m_query->next();
    if (m_eof && m_query->lastError().isValid())
        throw StoreError(describe(m_query->lastError()));
}

void RowSet::close()
{
    m_query.reset();
    m_columns.clear();
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
    return fromStored(nonNull(column).toString());
}

Connection::~Connection()
{
    close();
}

void Connection::open(const QString &connectionString)
{
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
        throw StoreError(QStringLiteral("Could not find file '%1'.").arg(QDir::toNativeSeparators(path)));
    if (!info.isFile())
        throw StoreError(QStringLiteral("'%1' is not a database file.").arg(QDir::toNativeSeparators(path)));

    const QString name = QStringLiteral("orvenna-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // mode=rw: SQLite itself refuses to create a file that vanished meanwhile.
        db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                           + QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
        QString failure;
        if (!db.open()) {
            failure = describe(db.lastError());
        } else {
            // SQLite opens lazily; touch the schema so a file that is no
            // database fails here, at open, like any other unusable file.
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                failure = describe(probe.lastError());
        }
        if (!failure.isEmpty()) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw StoreError(QStringLiteral("Could not open '%1': %2").arg(QDir::toNativeSeparators(path), failure));
        }
    }
    m_name = name;
    m_path = info.absoluteFilePath();
}

void Connection::close()
{
    if (m_name.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

RowSet Connection::execute(const QString &statement)
{
    if (!isOpen())
        throw StoreError(QStringLiteral("Operation is not allowed when the object is closed."));
    // SQLite would end the statement at a NUL and run what came before it.
    if (statement.contains(QChar(0)))
        throw StoreError(QStringLiteral("The text holds a NUL character, which cannot be stored."));
    const QString sql = toSqlite(statement);
    auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_name, false));
    query->setForwardOnly(true);
    if (!query->exec(sql))
        throw StoreError(describe(query->lastError()));
    if (!query->isSelect())
        return RowSet();
    return RowSet(std::move(query));
}

void Connection::beginTransaction()
{
    if (!isOpen())
        throw StoreError(QStringLiteral("Operation is not allowed when the object is closed."));
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.transaction())
        throw StoreError(describe(db.lastError()));
}

void Connection::commitTransaction()
{
    if (!isOpen())
        throw StoreError(QStringLiteral("Operation is not allowed when the object is closed."));
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.commit())
        throw StoreError(describe(db.lastError()));
}

void Connection::rollbackTransaction()
{
    if (isOpen())
        QSqlDatabase::database(m_name, false).rollback();
}

} // namespace store
