#pragma once

#include "store/ChangeListener.h"

#include <QDate>
#include <QObject>
#include <QString>

namespace model {

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
    // Hears what other copies change in a shared calendar; a file has no others.
    void listen();

    // Told after a write of this copy succeeded. Events of the days from
    // `first` to `last` (by start date); invalid dates: of any day.
    void tellEvents(const QDate &first, const QDate &last);
    void tellTemplates();
    void tellStaff();

    // Whether a change of the days first..last reaches into from..to; a
    // change of any day always does.
    [[nodiscard]] static bool touches(const QDate &first, const QDate &last, const QDate &from, const QDate &to);

signals:
    void eventsChanged(const QDate &first, const QDate &last, model::Calendar::Origin origin);
    void templatesChanged(model::Calendar::Origin origin);
    void staffChanged(model::Calendar::Origin origin);

private:
    void heard(const QString &table);

    QString m_connectionString;
    store::ChangeListener m_listener;
};

} // namespace model
