#include "mainwindow/PromptedUndo.h"

#include "editor/EventConflict.h"
#include "ui/Prompt.h"

namespace {

constexpr qsizetype kListed = 12;
const QString kTitle = QStringLiteral("Undo");

QString eventLine(const store::Event &e)
{
    return e.values.startDate.toString(QStringLiteral("ddd M/d/yyyy ")) + statements::timeText(e.values.startTime)
        + QStringLiteral("  ") + e.values.title;
}

template <class Row, class Line>
QString listing(const QList<model::UndoQuestions::Conflict<Row>> &conflicts, Line line)
{
    QStringList lines;
    for (qsizetype i = 0; i < conflicts.size() && i < kListed; ++i)
        lines << line(conflicts[i].expected) + (conflicts[i].now ? QString() : QStringLiteral(" (deleted)"));
    if (conflicts.size() > kListed)
        lines << QStringLiteral("... and %1 more").arg(conflicts.size() - kListed);
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace

bool PromptedUndo::overwriteEvents(const QList<Conflict<store::Event>> &conflicts)
{
    if (!m_prompt)
        return false;
    if (conflicts.size() == 1 && conflicts[0].now) {
        const Conflict<store::Event> &c = conflicts[0];
        return m_prompt->ask(m_parent,
                            QStringLiteral("Someone else changed \"%1\" since:\r\n\r\n").arg(c.expected.values.title)
                                + describeChanges(c.expected, *c.now, m_connectionString)
                                + QStringLiteral("\r\n\r\nOverwrite it? Choose No to keep the other version."),
                            kTitle);
    }
    return m_prompt->ask(m_parent,
                        QStringLiteral("Someone else changed or deleted %1 of these events since:\r\n").arg(conflicts.size())
                            + listing(conflicts, eventLine)
                            + QStringLiteral("\r\n\r\nOverwrite them? Choose No to keep the other versions."),
                        kTitle);
}

bool PromptedUndo::overwriteEntries(model::Table table, const QList<Conflict<model::Entry>> &conflicts)
{
    if (!m_prompt)
        return false;
    const QString kind = table == model::Table::Staff ? QStringLiteral("staff member") : QStringLiteral("activity or drill");
    QStringList lines;
    for (const Conflict<model::Entry> &c : conflicts)
        lines << (c.now ? QStringLiteral("\"%1\" is now \"%2\"").arg(c.expected.title, c.now->title)
                        : QStringLiteral("\"%1\" was deleted").arg(c.expected.title));
    return m_prompt->ask(m_parent,
                        QStringLiteral("Someone else changed the %1 since:\r\n\r\n").arg(kind) + lines.join(QStringLiteral("\r\n"))
                            + QStringLiteral("\r\n\r\nOverwrite it? Choose No to keep the other version."),
                        kTitle);
}

void PromptedUndo::failed(const QString &text, const store::StoreError &error)
{
    if (!m_prompt)
        return;
    m_prompt->critical(m_parent, text + QStringLiteral("\r\n") + error.description(), QString(), error.details());
}
