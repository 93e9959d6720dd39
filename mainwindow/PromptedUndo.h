#pragma once

#include "model/UndoQuestions.h"

#include <QString>

class Prompt;
class QWidget;

// Undo's and redo's questions, asked through the prompt as the editor asks
// its conflict question.
class PromptedUndo : public model::UndoQuestions
{
public:
    PromptedUndo(Prompt *prompt, QWidget *parent) : m_prompt(prompt), m_parent(parent) {}

    // For the staff members' names in the changes listed.
    void setConnectionString(const QString &connectionString) { m_connectionString = connectionString; }

    bool overwriteEvents(const QList<Conflict<store::Event>> &conflicts) override;
    bool overwriteEntries(model::Table table, const QList<Conflict<model::Entry>> &conflicts) override;
    void failed(const QString &text, const store::StoreError &error) override;

private:
    Prompt *m_prompt; // none: nothing is overwritten, failures go unsaid
    QWidget *m_parent;
    QString m_connectionString;
};
