#pragma once

#include "model/Entry.h"
#include "store/Event.h"
#include "store/StoreError.h"

#include <QList>

#include <optional>

namespace model {

// What undo and redo must ask a person; the main window answers.
class UndoQuestions
{
public:
    // A row this copy's step left as `expected` is now `now`: another copy
    // changed it since, or deleted it (no `now`).
    template <class Row>
    struct Conflict
    {
        Row expected;
        std::optional<Row> now;
    };

    virtual ~UndoQuestions() = default;
    // Whether to overwrite the other copy's versions; no keeps them all.
    virtual bool overwriteEvents(const QList<Conflict<store::Event>> &conflicts) = 0;
    virtual bool overwriteEntries(Table table, const QList<Conflict<Entry>> &conflicts) = 0;
    // An undo or redo failed and wrote nothing; `text` says which.
    virtual void failed(const QString &text, const store::StoreError &error) = 0;
};

} // namespace model
