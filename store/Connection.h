#pragma once

#include "store/Engine.h"
#include "store/StoreError.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>

class QSqlError;
class QSqlQuery;
struct sqlite3_stmt;

namespace store {

// A forward-only set of rows returned by Connection::execute. Columns are read
// by name without regard to case; a NULL where a text, number or date is
// wanted is a read failure.
class RowSet
{
public:
    RowSet();
    RowSet(RowSet &&) noexcept;
    RowSet &operator=(RowSet &&) noexcept;
    ~RowSet();

    [[nodiscard]] bool eof() const { return m_eof; }
    void moveNext();
    void close();

    [[nodiscard]] QVariant value(const QString &column) const;
    [[nodiscard]] QString text(const QString &column) const;
    // A text the row may leave out (a description, notes): NULL reads as empty.
    [[nodiscard]] QString optionalText(const QString &column) const;
    [[nodiscard]] int integer(const QString &column) const;
    [[nodiscard]] QDateTime dateTime(const QString &column) const;

private:
    friend class Connection;
    RowSet(std::unique_ptr<QSqlQuery> query, const QString &path);
    [[nodiscard]] int columnIndex(const QString &column) const;
    [[nodiscard]] QVariant nonNull(const QString &column) const;

    std::unique_ptr<QSqlQuery> m_query;
    QHash<QString, int> m_columns; // lower-case name -> index
    QString m_path; // of the database, for the reasons of failures
    bool m_eof = true;
};

class Connection;

// A write of the engine's own SQL with ? for its values, prepared once and run
// for many rows inside the caller's transaction: an import's thousands of rows
// cost one parse of each statement. Ends before its connection closes. Texts
// are stored as the dialect's literals store them: an empty one as '', not NULL.
class PreparedWrite
{
public:
    PreparedWrite(PreparedWrite &&) noexcept;
    PreparedWrite &operator=(PreparedWrite &&) noexcept;
    ~PreparedWrite();

    // Runs it with `values` (texts and whole numbers) for its ?s, in order. A
    // text holding a NUL is refused as Connection::execute refuses it.
    void run(const QVariantList &values);
    // Runs an insert of `rows` rows whose RETURNING gives each new row's key,
    // and returns the keys in the order the rows were given: the order the
    // keys were drawn in. A key past 32 bits throws, as Connection::execute's
    // insert does; the caller's transaction then takes the rows back.
    [[nodiscard]] QList<int> insertReturningKeys(const QVariantList &values, qsizetype rows);

private:
    friend class Connection;
    struct StatementFree
    {
        void operator()(sqlite3_stmt *statement) const;
    };
    PreparedWrite(Connection &conn, std::unique_ptr<QSqlQuery> query, sqlite3_stmt *statement);
    void runFile(const QVariantList &values, QList<qlonglong> *keys);
    void runServer(const QVariantList &values, QList<qlonglong> *keys);

    Connection *m_conn = nullptr;
    std::unique_ptr<QSqlQuery> m_query; // on the server
    // On the file, SQLite's own: Qt's binding makes a name for every value,
    // and SQLite looks each name up among all the others.
    std::unique_ptr<sqlite3_stmt, StatementFree> m_statement;
};

// One open database, for one operation. Opening never creates the file.
class Connection
{
public:
    Connection() = default;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection();

    // Opens the database named by the DBQ part of the connection string, or
    // the shared calendar when the string is a postgresql:// URL.
    void open(const QString &connectionString);
    void openFile(const QString &path);
    void close();
    [[nodiscard]] bool isOpen() const { return !m_name.isEmpty(); }
    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] Engine engine() const { return m_engine; }

    // Runs one statement of the program's dialect. For a SELECT the rows are
    // returned; for other statements the result is empty.
    RowSet execute(const QString &statement);
    // The key the last insert through execute gave its new row, for a table
    // with a generated key. Throws StoreError when there is none.
    [[nodiscard]] int lastInsertId();
    // Prepares `sql` (the engine's own, not the program's dialect) for runs
    // inside a transaction of this connection.
    [[nodiscard]] PreparedWrite prepareWrite(const QString &sql);

    // Several statements as one write: all of them land, or none.
    enum class Begin {
        Deferred,
        // Takes the file's write lock at once, so that what is read inside
        // stays as read until the commit. The server locks rows as they are
        // read FOR UPDATE instead.
        WriteLocked,
    };
    void beginTransaction(Begin begin = Begin::Deferred);
    void commitTransaction();
    void rollbackTransaction();

private:
    friend class PreparedWrite;
    void openServer(const QString &url);
    std::unique_ptr<QSqlQuery> run(const QString &sql);
    // Makes sure a kept server connection still stands before a statement
    // that must not run twice is sent on it; opens a fresh one when not.
    void makeSureAlive();
    void requireOpen() const;
    void runTransactionStatement(const QString &sql);
    // The engine's failure: for the file, with its plain reason; for the
    // server, when the connection is gone, the server's.
    [[nodiscard]] StoreError failure(const QSqlError &error);

    QString m_name;
    QString m_path;
    qlonglong m_lastInsertId = -1; // SQLite's, read by the insert itself
    Engine m_engine = Engine::Sqlite;
    bool m_reused = false; // a kept server connection, not yet used by this operation
    bool m_lost = false;   // the server connection failed; not to be kept
    bool m_inTransaction = false; // on the server, between begin and commit or rollback
};

} // namespace store
