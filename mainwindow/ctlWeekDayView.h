#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QWidget>

#include <optional>

#include "store/Event.h"

class FocusRing;
class QFrame;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace store { class Connection; }

// One calendar day: its long date as title and its events, each as start
// time and title. The host gives it a title, an open connection and a date.
class ctlWeekDayView : public QWidget
{
    Q_OBJECT
public:
    explicit ctlWeekDayView(QWidget *parent = nullptr);

    void setDayTitle(const QString &title);
    [[nodiscard]] QString dayTitle() const;
    [[nodiscard]] QDateTime DayDate() const { return m_date; }

    // Remembers the date, then lists that calendar day's events in order of
    // start time. A row that cannot be read is left out and the rest are
    // listed; then the first failure is passed on (store::StoreError). A day
    // the store's dates cannot name stays empty without a query. `staffNames`
    // (idPOC to name, read once by the host for the whole week) names each
    // event's staff member in the tooltip of an entry cut short.
    void loadEvents(store::Connection &conn, const QDateTime &eventsDate,
                    const QHash<int, QString> &staffNames = {});

    // Remembers the date and lists what store::Events::readDay read, so a
    // host can read a whole week before it shows any of it.
    void showEvents(const QDateTime &eventsDate, QList<store::Event> rows, const QHash<int, QString> &staffNames = {});
    // Remembers the date and empties the list, for when no store can be reached.
    void clearEvents(const QDateTime &eventsDate);

    // The id of the selected entry, -1 when none is selected.
    [[nodiscard]] int selectedEventId() const;
    // Selects the entry of that event; false when the day does not list it.
    bool selectEvent(int eventId);
    void clearSelection();
    // The entry a removed one leaves in its place: the next of the day, else
    // the previous; -1 for an empty day or an event not listed.
    [[nodiscard]] int neighbourOf(int eventId) const;

    // The panel showing today marks its title.
    void setToday(bool today);
    // A calendar this copy may only read: a drag over the day is refused
    // (what the host does with keys and drops it decides itself).
    void setReadOnly(bool readOnly);

    // Mime format of a template dragged from the main window's template list.
    static QString templateMimeType();
    // Mime format of an entry dragged from a day: its event's key as text.
    static QString eventMimeType();

    // The event of an entry as the day listed it; none when not listed.
    [[nodiscard]] std::optional<store::Event> shownEvent(int eventId) const;

signals:
    void ScheduledEventSelected(int eventId);
    void RightMouseClick(int eventId);
    void templateDropped();
    // An entry dragged here from a day, moved, or copied when Ctrl was held at the drop.
    void eventDropped(int eventId, bool copy);
    // Keys on the chosen entry or in the day: Ctrl+X, Ctrl+C, Ctrl+V, and
    // Alt+Up/Alt+Down (minutes: -15 or 15).
    void cutKeyPressed(int eventId);
    void copyKeyPressed(int eventId);
    void pasteKeyPressed();
    void shiftKeyPressed(int eventId, int minutes);
    // A mouse button was pressed in the list, or it got a selection: the
    // host clears the other days, so the week has one selection.
    void selectionTaken();
    // Keys in the list: Delete on the selected entry (its id), and the Menu
    // key or Shift+F10 (the selected entry's id or -1, and where the popup
    // belongs on the screen).
    void deleteKeyPressed(int eventId);
    void popupKeyPressed(int eventId, const QPoint &globalPos);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Entry;
    // The day's date, and whether it is today, for screen readers.
    void nameDay();
    static int idOfKey(const QString &key);
    bool listKeyEvent(QEvent *event);
    [[nodiscard]] bool isCutShort(const QTreeWidgetItem *item) const;
    // The entry's whole text, its end and its staff member, line by line.
    [[nodiscard]] QString entryTip(const QTreeWidgetItem *item) const;
    // No entry may look current without being chosen.
    void dropUnchosenCurrent();

    QLabel *m_lblWeekDay;
    QFrame *m_lineTop;
    QTreeWidget *m_lvEventList;
    FocusRing *m_focusRing;
    QDateTime m_date;
    bool m_isToday = false;
    QHash<int, QString> m_staffNames;
    QHash<int, store::Event> m_shown; // by key
    QPoint m_pressAt;                 // where a drag of an entry may start
    int m_pressedId = -1;
    int m_mouseHandlers = 0;  // depth of our own handlers of a list mouse event
    bool m_ignoreRest = false; // the list was reloaded inside one: drop the rest of that click
};
