#pragma once

#include <QDateTime>
#include <QWidget>

class QFrame;
class QLabel;
class QTreeWidget;

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
    // the store's dates cannot name stays empty without a query.
    void loadEvents(store::Connection &conn, const QDateTime &eventsDate);
    // Remembers the date and empties the list, for when no store can be reached.
    void clearEvents(const QDateTime &eventsDate);

    // The id of the selected entry, -1 when none is selected.
    [[nodiscard]] int selectedEventId() const;
    // Selects the entry of that event; false when the day does not list it.
    bool selectEvent(int eventId);
    void clearSelection();

    // Mime format of a template dragged from the main window's template list.
    static QString templateMimeType();

signals:
    void ScheduledEventSelected(int eventId);
    void RightMouseClick(int eventId);
    void templateDropped();
    // A mouse button was pressed in the list, or it got a selection: the
    // host clears the other days, so the week has one selection.
    void selectionTaken();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static int idOfKey(const QString &key);

    QLabel *m_lblWeekDay;
    QFrame *m_lineTop;
    QTreeWidget *m_lvEventList;
    QDateTime m_date;
    int m_mouseHandlers = 0;  // depth of our own handlers of a list mouse event
    bool m_ignoreRest = false; // the list was reloaded inside one: drop the rest of that click
};
