#pragma once

#include "model/Entry.h"
#include "store/ChangeListener.h"
#include "store/Event.h"
#include "store/StoreError.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUndoStack>

#include <optional>

namespace store { class Connection; }

namespace model {

class UndoQuestions;

// One open calendar as the windows share it: says what changed in it, whether
// a window of this copy wrote it or another copy of a shared calendar did. A
// window that writes tells it; the windows showing that data follow its
// notices, so none reloads another's data by hand.
class Calendar : public QObject
{
    Q_OBJECT
public:
    enum class Origin { ThisCopy, OtherCopy };
    Q_ENUM(Origin)

    explicit Calendar(const QString &connectionString, QObject *parent = nullptr);

    [[nodiscard]] QString connectionString() const { return m_connectionString; }
    // The login may only read this shared calendar: asked of the server once,
    // as the calendar opens. A file, and a server that could not be asked, are
    // taken as writable; a write then says what is wrong.
    [[nodiscard]] bool readOnly() const { return m_readOnly; }
    // Hears what other copies change in a shared calendar; a file has no others.
    void listen();
    [[nodiscard]] bool isListening() const { return m_listener.isListening(); }

    // Told after a write of this copy succeeded. Events of the days from
    // `first` to `last` (by start date); invalid dates: of any day.
    void tellEvents(const QDate &first, const QDate &last);
    void tellTemplates();
    void tellStaff();

    // Whether a change of the days first..last reaches into from..to; a
    // change of any day always does.
    [[nodiscard]] static bool touches(const QDate &first, const QDate &last, const QDate &from, const QDate &to);

    // Undo and redo. Every write of this copy is a step on this calendar's
    // stack, so switching calendars leaves the steps of the other behind.
    [[nodiscard]] QUndoStack &undoStack() { return m_undo; }
    void setQuestions(UndoQuestions *questions) { m_questions = questions; }
    [[nodiscard]] UndoQuestions *questions() const { return m_questions; }
    // A step that fails writes nothing and stays where it is; the questions say so.
    void undo();
    void redo();

    // A key a write of this copy gave or left, with the row as it was before (none: new).
    struct EventWrite
    {
        int id = -1;
        std::optional<store::Event> before;
    };
    // After a write of this copy committed: reads the rows as they are now,
    // keeps the write as one undo step called `name` and tells the windows.
    void eventsWritten(store::Connection &conn, const QString &name, const QList<EventWrite> &writes);
    void entryWritten(store::Connection &conn, Table table, const QString &name, int id,
                      const std::optional<Entry> &before);

    // A row an undo put back under a new key: steps still holding the old
    // one find it under the new.
    [[nodiscard]] int currentKey(Table table, int key) const;
    void keyMoved(Table table, int from, int to);
    // For the steps: whether to leave the store alone (setting the stack back
    // after a failure), and their failure.
    [[nodiscard]] bool replaying() const { return m_replaying; }
    void stepFailed(const store::StoreError &error);

signals:
    void eventsChanged(const QDate &first, const QDate &last, model::Calendar::Origin origin);
    void templatesChanged(model::Calendar::Origin origin);
    void staffChanged(model::Calendar::Origin origin);

private:
    void heard(const QString &table);
    void step(bool back);
    // New rows' keys are theirs, whatever an older step had moved there.
    void claimed(Table table, const QList<int> &keys);

    QString m_connectionString;
    bool m_readOnly = false;
    store::ChangeListener m_listener;
    QUndoStack m_undo;
    UndoQuestions *m_questions = nullptr;
    QHash<int, int> m_movedKeys[3];
    bool m_replaying = false;
    std::optional<store::StoreError> m_failure;
};

} // namespace model
