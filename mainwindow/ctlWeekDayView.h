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
    // start time. A store failure is passed on (store::StoreError); the
    // entries read before it stay.
    void loadEvents(store::Connection &conn, const QDateTime &eventsDate);
    // Remembers the date and empties the list, for when no store can be reached.
    void clearEvents(const QDateTime &eventsDate);

    // The id of the selected entry, -1 when none is selected.
    [[nodiscard]] int selectedEventId() const;

    // Mime format of a template dragged from the main window's template list.
    static QString templateMimeType();

signals:
    void ScheduledEventSelected(int eventId);
    void RightMouseClick(int eventId);
    void templateDropped();

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
};
