#include "mainwindow/ctlWeekDayView.h"

#include "mainwindow/FocusRing.h"
#include "store/Connection.h"
#include "store/Events.h"
#include "ui/Accessibility.h"
#include "ui/FocusMark.h"
#include "ui/Regional.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {
constexpr int kKeyRole = Qt::UserRole;
// The stored end and the staff member's id: the tip is made only when shown.
constexpr int kEndRole = Qt::UserRole + 1;
constexpr int kStaffRole = Qt::UserRole + 2;
// The titles of the same staff member's entries this one overlaps.
constexpr int kClashRole = Qt::UserRole + 3;
const QColor kClash(255, 214, 214);
const QColor kBackground(255, 255, 212);
const QColor kTodayTitle(0, 70, 160);

} // namespace

// An entry read out whole: a screen reader also hears its end and staff member.
class ctlWeekDayView::Entry : public QTreeWidgetItem
{
public:
    Entry(const ctlWeekDayView *day, const QString &text) : QTreeWidgetItem(QStringList(text)), m_day(day) {}

    QVariant data(int column, int role) const override
    {
        if (role == Qt::AccessibleTextRole && column == 0)
            return m_day->entryTip(this).replace(QLatin1Char('\n'), QLatin1String(", "));
        return QTreeWidgetItem::data(column, role);
    }

private:
    const ctlWeekDayView *m_day;
};

ctlWeekDayView::ctlWeekDayView(QWidget *parent)
    : QWidget(parent)
    , m_lblWeekDay(new QLabel(QStringLiteral("Label1"), this))
    , m_lineTop(new QFrame(this))
    , m_lvEventList(new QTreeWidget(this))
    , m_focusRing(nullptr)
{
    setObjectName(QStringLiteral("ctlWeekDayView"));
    m_lblWeekDay->setObjectName(QStringLiteral("lblWeekDay"));
    m_lineTop->setObjectName(QStringLiteral("lineTop"));
    m_lvEventList->setObjectName(QStringLiteral("lvEventList"));

    m_lblWeekDay->setGeometry(0, 0, 217, 17);
    m_lblWeekDay->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_lineTop->setFrameShape(QFrame::NoFrame);
    m_lineTop->setAutoFillBackground(true);
    QPalette linePalette = m_lineTop->palette();
    linePalette.setColor(QPalette::Window, QColor(128, 128, 128));
    m_lineTop->setPalette(linePalette);
    m_lineTop->setGeometry(0, 16, 217, 1);

    QFont listFont(QStringLiteral("Arial"));
    listFont.setPointSizeF(7.5);
    m_lvEventList->setFont(listFont);
    m_lvEventList->setColumnCount(1);
    m_lvEventList->setHeaderHidden(true);
    m_lvEventList->setRootIsDecorated(false);
    m_lvEventList->setIndentation(0);
    m_lvEventList->setUniformRowHeights(true);
    m_lvEventList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lvEventList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lvEventList->setGeometry(0, 17, 217, 80);
    m_lvEventList->viewport()->installEventFilter(this);
    m_lvEventList->installEventFilter(this);
    setFocusProxy(m_lvEventList);
    accessibility::hostOfFocusProxy(this);
    accessibility::readableItems(m_lvEventList);
    accessibility::decoration(m_lineTop);
    connect(m_lvEventList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this]() {
        if (m_lvEventList->selectionModel()->hasSelection())
            emit selectionTaken();
    });
    // Checked once the event that moved the current entry is over: a press
    // makes its entry current a moment before it chooses it.
    auto checkCurrent = [this]() {
        QMetaObject::invokeMethod(this, &ctlWeekDayView::dropUnchosenCurrent, Qt::QueuedConnection);
    };
    connect(m_lvEventList->selectionModel(), &QItemSelectionModel::currentChanged, this, checkCurrent);
    connect(m_lvEventList->selectionModel(), &QItemSelectionModel::selectionChanged, this, checkCurrent);
    // The drop is the host's business; the list passes drags on to the panel.
    m_lvEventList->setAcceptDrops(false);
    m_lvEventList->viewport()->setAcceptDrops(false);
    setAcceptDrops(true);

    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, kBackground);
    p.setColor(QPalette::Base, kBackground);
    setPalette(p);
    m_lvEventList->setPalette(p);
    markFocus(m_lvEventList, false);
    m_focusRing = new FocusRing(this, m_lvEventList);
}

void ctlWeekDayView::dropUnchosenCurrent()
{
    // The view makes the first entry current whenever it gets the focus back
    // (after a message box or an editor closed); its frame would look chosen.
    QItemSelectionModel *model = m_lvEventList->selectionModel();
    const QModelIndex current = model->currentIndex();
    if (current.isValid() && !model->isSelected(current))
        model->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

QString ctlWeekDayView::templateMimeType()
{
    return QStringLiteral("application/x-orvenna-template");
}

QString ctlWeekDayView::eventMimeType()
{
    return QStringLiteral("application/x-orvenna-event");
}

std::optional<store::Event> ctlWeekDayView::shownEvent(int eventId) const
{
    const auto it = m_shown.constFind(eventId);
    if (it == m_shown.constEnd())
        return std::nullopt;
    return *it;
}

void ctlWeekDayView::setDayTitle(const QString &title)
{
    // Another day is not today until the host says so.
    if (title != m_lblWeekDay->text())
        m_isToday = false;
    m_lblWeekDay->setText(title);
    nameDay();
}

void ctlWeekDayView::nameDay()
{
    const QString name = m_isToday ? dayTitle() + QStringLiteral(", today") : dayTitle();
    accessibility::announceName(this, name);
    accessibility::announceName(m_lvEventList, name);
}

QString ctlWeekDayView::dayTitle() const
{
    return m_lblWeekDay->text();
}

void ctlWeekDayView::clearEvents(const QDateTime &eventsDate)
{
    m_date = eventsDate;
    m_lvEventList->clear();
    m_shown.clear();
    m_pressedId = -1;
    // The click being handled must not go on to the new rows.
    if (m_mouseHandlers > 0)
        m_ignoreRest = true;
}

void ctlWeekDayView::setToday(bool today)
{
    QFont font = m_lblWeekDay->font();
    font.setBold(today);
    m_lblWeekDay->setFont(font);
    QPalette p = m_lblWeekDay->palette();
    p.setColor(QPalette::WindowText, today ? kTodayTitle : palette().color(QPalette::WindowText));
    m_lblWeekDay->setPalette(p);
    m_isToday = today;
    nameDay();
}

void ctlWeekDayView::loadEvents(store::Connection &conn, const QDateTime &eventsDate,
                                const QHash<int, QString> &staffNames)
{
    clearEvents(eventsDate);
    m_staffNames = staffNames;
    QList<store::Event> rows;
    std::optional<store::StoreError> unreadable;
    try {
        unreadable = store::Events::readDay(conn, eventsDate.date(), rows);
    } catch (...) {
        showEvents(eventsDate, std::move(rows), staffNames);
        throw;
    }
    showEvents(eventsDate, std::move(rows), staffNames);
    if (unreadable)
        throw *unreadable;
}

void ctlWeekDayView::showEvents(const QDateTime &eventsDate, QList<store::Event> rows,
                                const QHash<int, QString> &staffNames)
{
    clearEvents(eventsDate);
    m_staffNames = staffNames;
    // Listed by start time; rows of the same minute keep the store's order.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const store::Event &a, const store::Event &b) { return a.start() < b.start(); });
    QList<QTreeWidgetItem *> items;
    items.reserve(int(rows.size()));
    for (const store::Event &r : rows) {
        const QString text = r.values.startTime.toString(QStringLiteral("HH:mm")) + QLatin1Char(' ') + r.values.title;
        auto *item = new Entry(this, text);
        item->setData(0, kKeyRole, QStringLiteral("itm") + QString::number(r.id));
        item->setData(0, kEndRole, r.end());
        item->setData(0, kStaffRole, r.values.staffId);
        items.append(item);
        m_shown.insert(r.id, r);
    }
    // One staff member's entries that overlap are marked, each naming the others.
    auto until = [](const store::Event &e) { return std::max(e.end(), e.start().addSecs(60)); };
    for (qsizetype i = 0; i < rows.size(); ++i) {
        for (qsizetype j = i + 1; j < rows.size(); ++j) {
            const store::Event &a = rows[i], &b = rows[j];
            if (a.values.staffId < 0 || a.values.staffId != b.values.staffId || !a.end().isValid() || !b.end().isValid()
                || !(a.start() < until(b) && b.start() < until(a)))
                continue;
            for (auto [item, other] : {std::pair{items[i], &b}, std::pair{items[j], &a}}) {
                item->setData(0, kClashRole, item->data(0, kClashRole).toStringList() << other->values.title);
                item->setBackground(0, kClash);
            }
        }
    }
    m_lvEventList->addTopLevelItems(items);
}

QString ctlWeekDayView::entryTip(const QTreeWidgetItem *item) const
{
    QString tip = item->text(0);
    tip.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    tip.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // An end another tool wrote as no date is left out.
    const QDateTime end = item->data(0, kEndRole).toDateTime();
    if (end.isValid()) {
        tip += QStringLiteral("\nEnd time: ");
        if (end.date() != m_date.date())
            tip += longDateText(end.date()) + QLatin1Char(' ');
        tip += end.time().toString(QStringLiteral("HH:mm"));
    }
    const QString staff = m_staffNames.value(item->data(0, kStaffRole).toInt());
    if (!staff.isEmpty())
        tip += QStringLiteral("\nStaff Member: ") + staff;
    const QStringList clashes = item->data(0, kClashRole).toStringList();
    if (!clashes.isEmpty())
        tip += QStringLiteral("\nAt the same time as: ") + clashes.join(QStringLiteral(", "));
    return tip;
}

int ctlWeekDayView::idOfKey(const QString &key)
{
    bool ok = false;
    const int id = key.mid(3).toInt(&ok);
    return ok ? id : -1;
}

bool ctlWeekDayView::selectEvent(int eventId)
{
    const QString key = QStringLiteral("itm") + QString::number(eventId);
    for (int i = 0; i < m_lvEventList->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_lvEventList->topLevelItem(i);
        if (item->data(0, kKeyRole).toString() == key) {
            m_lvEventList->setCurrentItem(item);
            return true;
        }
    }
    return false;
}

int ctlWeekDayView::neighbourOf(int eventId) const
{
    const QString key = QStringLiteral("itm") + QString::number(eventId);
    const int count = m_lvEventList->topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        if (m_lvEventList->topLevelItem(i)->data(0, kKeyRole).toString() != key)
            continue;
        const int other = i + 1 < count ? i + 1 : i - 1;
        return other >= 0 ? idOfKey(m_lvEventList->topLevelItem(other)->data(0, kKeyRole).toString()) : -1;
    }
    return -1;
}

void ctlWeekDayView::clearSelection()
{
    m_lvEventList->selectionModel()->clear();
}

int ctlWeekDayView::selectedEventId() const
{
    const QList<QTreeWidgetItem *> selected = m_lvEventList->selectedItems();
    if (selected.isEmpty())
        return -1;
    return idOfKey(selected.first()->data(0, kKeyRole).toString());
}

bool ctlWeekDayView::isCutShort(const QTreeWidgetItem *item) const
{
    const QModelIndex index = m_lvEventList->model()->index(m_lvEventList->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(item)), 0);
    const QRect shown = m_lvEventList->visualRect(index);
    const QSize needed = m_lvEventList->sizeHintForIndex(index);
    const int width = std::min(shown.width(), m_lvEventList->viewport()->width() - shown.x());
    return needed.width() > width || needed.height() > shown.height();
}

bool ctlWeekDayView::listKeyEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *ke = static_cast<QKeyEvent *>(event);
        const int key = ke->key();
        const Qt::KeyboardModifiers mods = ke->modifiers() & ~Qt::KeypadModifier;
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier) {
            // As a double click does.
            if (!m_lvEventList->selectedItems().isEmpty())
                emit ScheduledEventSelected(selectedEventId());
            return true;
        }
        if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
            if (!m_lvEventList->selectedItems().isEmpty())
                emit deleteKeyPressed(selectedEventId());
            return true;
        }
        const bool chosen = !m_lvEventList->selectedItems().isEmpty();
        if (mods == Qt::ControlModifier && (key == Qt::Key_X || key == Qt::Key_C || key == Qt::Key_V)) {
            if (key == Qt::Key_V)
                emit pasteKeyPressed();
            else if (chosen && key == Qt::Key_X)
                emit cutKeyPressed(selectedEventId());
            else if (chosen)
                emit copyKeyPressed(selectedEventId());
            return true;
        }
        if (mods == Qt::AltModifier && (key == Qt::Key_Up || key == Qt::Key_Down)) {
            if (chosen)
                emit shiftKeyPressed(selectedEventId(), key == Qt::Key_Up ? -15 : 15);
            return true;
        }
        if ((key == Qt::Key_Menu && mods == Qt::NoModifier) || (key == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
            // At the selected entry, or at the top of an empty selection.
            const QList<QTreeWidgetItem *> selected = m_lvEventList->selectedItems();
            QPoint at(4, 4);
            if (!selected.isEmpty()) {
                const QRect r = m_lvEventList->visualItemRect(selected.first());
                at = QPoint(r.left() + 4, r.bottom());
            }
            emit popupKeyPressed(selectedEventId(), m_lvEventList->viewport()->mapToGlobal(at));
            return true;
        }
        return false;
    }
    case QEvent::ContextMenu:
        // The window system may follow the Menu key with this; the key has opened the popup already.
        return static_cast<QContextMenuEvent *>(event)->reason() == QContextMenuEvent::Keyboard;
    case QEvent::FocusOut:
        markFocus(m_lvEventList, false);
        return false;
    case QEvent::FocusIn: {
        markFocus(m_lvEventList, true);
        // Tabbing into a day highlights the entry the keys act on.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            && m_lvEventList->selectedItems().isEmpty() && m_lvEventList->topLevelItemCount() > 0) {
            QTreeWidgetItem *item = m_lvEventList->currentItem();
            m_lvEventList->setCurrentItem(item ? item : m_lvEventList->topLevelItem(0));
        }
        return false;
    }
    default:
        return false;
    }
}

bool ctlWeekDayView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lvEventList)
        return listKeyEvent(event) || QWidget::eventFilter(watched, event);
    if (watched != m_lvEventList->viewport())
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::ToolTip) {
        // Only an entry cut short needs its whole text; the tip is plain text, never markup.
        auto *he = static_cast<QHelpEvent *>(event);
        QTreeWidgetItem *item = m_lvEventList->itemAt(he->pos());
        if (item && (isCutShort(item) || !item->data(0, kClashRole).toStringList().isEmpty()))
            QToolTip::showText(he->globalPos(),
                               Qt::convertFromPlainText(entryTip(item), Qt::WhiteSpaceNormal),
                               m_lvEventList->viewport(), m_lvEventList->visualItemRect(item));
        else
            QToolTip::hideText();
        return true;
    }
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease
        && type != QEvent::MouseButtonDblClick && type != QEvent::MouseMove)
        return QWidget::eventFilter(watched, event);
    auto *me = static_cast<QMouseEvent *>(event);

    if (m_ignoreRest) {
        // A fresh press, or the pointer moving with no button held, starts anew.
        if (type == QEvent::MouseButtonPress || (type == QEvent::MouseMove && me->buttons() == Qt::NoButton)) {
            m_ignoreRest = false;
        } else {
            if (type == QEvent::MouseButtonRelease && me->buttons() == Qt::NoButton)
                m_ignoreRest = false;
            return true;
        }
    }

    ++m_mouseHandlers;
    bool handled = false;
    if (type == QEvent::MouseMove && m_pressedId != -1 && (me->buttons() & Qt::LeftButton)
        && (me->position().toPoint() - m_pressAt).manhattanLength() >= QApplication::startDragDistance()) {
        // The entry travels by its key; the day it lands on moves or copies it.
        const int id = m_pressedId;
        m_pressedId = -1;
        auto *drag = new QDrag(this);
        auto *mime = new QMimeData;
        mime->setData(eventMimeType(), QByteArray::number(id));
        if (QTreeWidgetItem *item = m_lvEventList->currentItem())
            mime->setText(item->text(0));
        drag->setMimeData(mime);
        drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
        --m_mouseHandlers;
        return true;
    }
    if (type == QEvent::MouseButtonRelease)
        m_pressedId = -1;
    if (type == QEvent::MouseButtonPress) {
        m_pressedId = -1;
        if (me->button() == Qt::LeftButton)
            if (QTreeWidgetItem *item = m_lvEventList->itemAt(me->position().toPoint())) {
                m_pressedId = idOfKey(item->data(0, kKeyRole).toString());
                m_pressAt = me->position().toPoint();
            }
        emit selectionTaken();
        if (me->button() == Qt::RightButton) {
            // The popup acts on the entry under the mouse.
            if (QTreeWidgetItem *item = m_lvEventList->itemAt(me->position().toPoint()))
                m_lvEventList->setCurrentItem(item);
            emit RightMouseClick(m_lvEventList->topLevelItemCount() < 1 ? -1 : selectedEventId());
            handled = true;
        }
    } else if (type == QEvent::MouseButtonDblClick && me->button() == Qt::LeftButton) {
        if (!m_lvEventList->selectedItems().isEmpty())
            emit ScheduledEventSelected(selectedEventId());
    }
    --m_mouseHandlers;
    // A host that reloaded the list meanwhile has done what this click meant.
    return handled || (m_mouseHandlers == 0 && m_ignoreRest);
}

void ctlWeekDayView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = int(std::nearbyint(double(height()))); // whole pixels already; a tie goes to even
    m_lblWeekDay->setGeometry(m_lblWeekDay->x(), m_lblWeekDay->y(), w, m_lblWeekDay->height());
    m_lineTop->setGeometry(0, m_lineTop->y(), w, 1);
    m_lvEventList->setGeometry(m_lvEventList->x(), m_lvEventList->y(), w,
                               std::max(0, h - m_lblWeekDay->height()));
    m_lvEventList->setColumnWidth(0, w);
}

namespace {
// An entry moves unless Ctrl is held, whatever the drag proposed.
Qt::DropAction entryAction(const QDropEvent *event)
{
    return (event->modifiers() & Qt::ControlModifier) ? Qt::CopyAction : Qt::MoveAction;
}
} // namespace

void ctlWeekDayView::setReadOnly(bool readOnly)
{
    // The window system then offers no drag to the day.
    setAcceptDrops(!readOnly);
}

void ctlWeekDayView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(templateMimeType())) {
        event->acceptProposedAction();
    } else if (event->mimeData()->hasFormat(eventMimeType())) {
        event->setDropAction(entryAction(event));
        event->accept();
    }
}

void ctlWeekDayView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasFormat(templateMimeType())) {
        event->acceptProposedAction();
    } else if (event->mimeData()->hasFormat(eventMimeType())) {
        event->setDropAction(entryAction(event));
        event->accept();
    }
}

void ctlWeekDayView::dropEvent(QDropEvent *event)
{
    if (event->mimeData()->hasFormat(eventMimeType())) {
        bool ok = false;
        const int id = event->mimeData()->data(eventMimeType()).toInt(&ok);
        if (!ok)
            return;
        const bool copy = entryAction(event) == Qt::CopyAction;
        event->setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
        event->accept();
        // After the drag has ended: the host reloads lists, the dragging one among them.
        QMetaObject::invokeMethod(this, [this, id, copy]() { emit eventDropped(id, copy); }, Qt::QueuedConnection);
        return;
    }
    if (!event->mimeData()->hasFormat(templateMimeType()))
        return;
    event->acceptProposedAction();
    emit templateDropped();
}
