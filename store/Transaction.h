#pragma once

#include "store/Connection.h"

namespace store {

// Begins at construction; rolls back when left without commit(), so an
// exception half way leaves nothing written.
class Transaction
{
public:
    explicit Transaction(Connection &conn, Connection::Begin begin = Connection::Begin::Deferred) : m_conn(conn)
    {
        m_conn.beginTransaction(begin);
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    ~Transaction()
    {
        if (!m_done)
            m_conn.rollbackTransaction();
    }
    void commit()
    {
        m_conn.commitTransaction();
        m_done = true;
    }

private:
    Connection &m_conn;
    bool m_done = false;
};

} // namespace store
