#include "store/Templates.h"

#include "store/Connection.h"
#include "store/Statements.h"

namespace store {
namespace {

Template templateOf(const RowSet &row)
{
    Template t;
    t.title = row.text(QStringLiteral("Title"));
    t.id = row.integer(QStringLiteral("idPredefinedEvent"));
    t.description = row.optionalText(QStringLiteral("description"));
    return t;
}

} // namespace

void Templates::readAll(Connection &conn, const std::function<void(const Template &)> &each)
{
    RowSet rs = conn.execute(statements::allTemplates());
    while (!rs.eof()) {
        each(templateOf(rs));
        rs.moveNext();
    }
}

std::optional<Template> Templates::readOne(Connection &conn, int id)
{
    RowSet rs = conn.execute(statements::templateById(id));
    if (rs.eof())
        return std::nullopt;
    return templateOf(rs);
}

int Templates::insert(Connection &conn, const QString &title, const QString &description)
{
    conn.execute(statements::insertTemplate(title, description));
    return conn.lastInsertId();
}

void Templates::update(Connection &conn, int id, const QString &title, const QString &description)
{
    conn.execute(statements::updateTemplate(title, description, id));
}

void Templates::remove(Connection &conn, int id)
{
    conn.execute(statements::deleteTemplate(id));
}

int Templates::restore(Connection &conn, int id, const QString &title, const QString &description)
{
    if (id > 0 && conn.execute(statements::templateById(id)).eof()) {
        conn.execute(statements::restoreTemplate(title, description, id));
        return id;
    }
    const int key = insert(conn, title, description);
    rewrite(conn, key, title, description);
    return key;
}

void Templates::rewrite(Connection &conn, int id, const QString &title, const QString &description)
{
    conn.execute(statements::rewriteTemplate(title, description, id));
}

} // namespace store
