#include "ui/Accessibility.h"

#include "ui/Regional.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCalendarWidget>
#include <QHash>
#include <QLocale>
#include <QPointer>
#include <QSpinBox>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>

namespace accessibility {

namespace {

// Marks for the factory below.
constexpr char kReadableItems[] = "orvennaReadableItems";
constexpr char kProxyHost[] = "orvennaProxyHost";
constexpr char kDecoration[] = "orvennaDecoration";

const QCalendarWidget *calendarOf(const QWidget *grid)
{
    for (QWidget *w = grid ? grid->parentWidget() : nullptr; w; w = w->parentWidget())
        if (auto *calendar = qobject_cast<QCalendarWidget *>(w))
            return calendar;
    return nullptr;
}

// Laid out as QCalendarWidget lays out a month: an optional row of day names
// and column of week numbers, then six weeks, the first holding at least one
// day of the month before.
QString cellName(const QCalendarWidget *calendar, int row, int column)
{
    const int firstRow = calendar->horizontalHeaderFormat() == QCalendarWidget::NoHorizontalHeader ? 0 : 1;
    const int firstColumn = calendar->verticalHeaderFormat() == QCalendarWidget::NoVerticalHeader ? 0 : 1;
    if (column < firstColumn)
        return QString();
    const int firstDay = int(calendar->firstDayOfWeek());
    if (row < firstRow)
        return QLocale().dayName((firstDay - 1 + column - firstColumn) % 7 + 1, QLocale::LongFormat);
    const QDate first(calendar->yearShown(), calendar->monthShown(), 1);
    int before = (first.dayOfWeek() - firstDay + 7) % 7;
    if (before < 1)
        before += 7;
    const QDate date = first.addDays(qint64(row - firstRow) * 7 + (column - firstColumn) - before);
    return date.isValid() ? longDateText(date) : QString();
}

// Qt's own item views say every current entry has the focus, also in a view
// that does not; these say it only of the entry where the keys are. Children
// are numbered as the views number them in their focus and selection events:
// a table counts its hidden header row and column, a tree its header row.
struct Layout
{
    int headerRows = 0;
    int headerColumns = 0;
};

Layout layoutOf(const QAbstractItemView *view)
{
    if (qobject_cast<const QTableView *>(view))
        return {1, 1};
    if (qobject_cast<const QTreeView *>(view))
        return {1, 0};
    return {};
}

class ItemAccessible : public QAccessibleInterface
{
public:
    ItemAccessible(QAbstractItemView *view, int child) : m_view(view), m_child(child) {}

    bool isValid() const override { return m_view; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_view.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}

    int childIndex() const { return m_child; }

    QModelIndex index() const
    {
        if (!m_view || !m_view->model())
            return QModelIndex();
        const Layout layout = layoutOf(m_view);
        const int columns = m_view->model()->columnCount() + layout.headerColumns;
        const int row = m_child / columns - layout.headerRows;
        const int column = m_child % columns - layout.headerColumns;
        return row < 0 || column < 0 ? QModelIndex() : m_view->model()->index(row, column);
    }

    QString text(QAccessible::Text t) const override
    {
        const QModelIndex at = index();
        if (!at.isValid())
            return QString();
        if (t == QAccessible::Name) {
            if (const QCalendarWidget *calendar = calendarOf(m_view))
                return cellName(calendar, at.row(), at.column());
            const QString spoken = at.data(Qt::AccessibleTextRole).toString();
            return spoken.isEmpty() ? at.data().toString() : spoken;
        }
        if (t == QAccessible::Description)
            return at.data(Qt::AccessibleDescriptionRole).toString();
        if (t == QAccessible::Value && calendarOf(m_view))
            return at.data().toString();
        return QString();
    }

    QRect rect() const override
    {
        const QModelIndex at = index();
        if (!at.isValid())
            return QRect();
        const QRect r = m_view->visualRect(at);
        return QRect(m_view->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::Role role() const override
    {
        if (qobject_cast<const QTableView *>(m_view)) {
            const QCalendarWidget *calendar = calendarOf(m_view);
            const QModelIndex at = index();
            if (calendar && at.isValid() && at.row() == 0
                && calendar->horizontalHeaderFormat() != QCalendarWidget::NoHorizontalHeader)
                return QAccessible::ColumnHeader;
            return QAccessible::Cell;
        }
        if (!index().isValid())
            return QAccessible::ColumnHeader;
        return qobject_cast<const QTreeView *>(m_view) ? QAccessible::TreeItem : QAccessible::ListItem;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        const QModelIndex at = index();
        if (!at.isValid()) {
            s.invisible = true;
            return s;
        }
        s.disabled = !(at.flags() & Qt::ItemIsEnabled);
        if (at.flags() & Qt::ItemIsSelectable) {
            s.selectable = true;
            s.focusable = true;
            s.selected = m_view->selectionModel() && m_view->selectionModel()->isSelected(at);
            s.focused = m_view->hasFocus() && m_view->currentIndex() == at;
        }
        return s;
    }

private:
    QPointer<QAbstractItemView> m_view;
    int m_child;
};

class ViewAccessible : public QAccessibleWidget
{
public:
    explicit ViewAccessible(QAbstractItemView *view)
        : QAccessibleWidget(view, qobject_cast<QTableView *>(view)  ? QAccessible::Table
                                  : qobject_cast<QTreeView *>(view) ? QAccessible::Tree
                                                                    : QAccessible::List)
    {
    }

    ~ViewAccessible() override
    {
        for (QAccessible::Id id : std::as_const(m_items))
            QAccessible::deleteAccessibleInterface(id);
    }

    QAbstractItemView *view() const { return static_cast<QAbstractItemView *>(widget()); }

    // A calendar's grid is named by the month it shows.
    QString text(QAccessible::Text t) const override
    {
        const QCalendarWidget *calendar = calendarOf(view());
        if (t != QAccessible::Name || !calendar)
            return QAccessibleWidget::text(t);
        return QLocale().standaloneMonthName(calendar->monthShown(), QLocale::LongFormat) + QLatin1Char(' ')
            + QString::number(calendar->yearShown());
    }

    int childCount() const override
    {
        const QAbstractItemModel *model = view()->model();
        if (!model)
            return 0;
        const Layout layout = layoutOf(view());
        return (model->rowCount() + layout.headerRows) * (model->columnCount() + layout.headerColumns);
    }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto found = m_items.constFind(index); found != m_items.cend())
            return QAccessible::accessibleInterface(*found);
        const QAccessible::Id id = QAccessible::registerAccessibleInterface(new ItemAccessible(view(), index));
        m_items.insert(index, id);
        return QAccessible::accessibleInterface(id);
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *item = dynamic_cast<const ItemAccessible *>(child);
        return item && item->parent() == this ? item->childIndex() : -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QModelIndex at = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        if (!at.isValid())
            return nullptr;
        const Layout layout = layoutOf(view());
        return child((at.row() + layout.headerRows) * (view()->model()->columnCount() + layout.headerColumns)
                     + at.column() + layout.headerColumns);
    }

private:
    mutable QHash<int, QAccessible::Id> m_items;
};

// A widget whose focus proxy has the keys is not where they are itself.
class ProxyHost : public QAccessibleWidget
{
public:
    using QAccessibleWidget::QAccessibleWidget;

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.focused = QApplication::focusWidget() == widget();
        return s;
    }
};

// A plain QFrame would be a "frame", which readers take for a window.
class Decoration : public QAccessibleWidget
{
public:
    explicit Decoration(QWidget *widget) : QAccessibleWidget(widget, QAccessible::Separator) {}
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    // Asked once per class of the object's ancestry; only its own class answers.
    if (!widget || className != QLatin1String(widget->metaObject()->className()))
        return nullptr;
    if (widget->property(kReadableItems).toBool())
        if (auto *view = qobject_cast<QAbstractItemView *>(widget))
            return new ViewAccessible(view);
    if (widget->property(kProxyHost).toBool())
        return new ProxyHost(widget);
    if (widget->property(kDecoration).toBool())
        return new Decoration(widget);
    return nullptr;
}

template<class Ours>
void takeOver(QWidget *widget, const char *mark)
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(mark, true);
    // A reader already listening may have been given Qt's own one while the
    // widget was made; the next to ask gets this one.
    if (QAccessible::isActive())
        if (QAccessibleInterface *before = QAccessible::queryAccessibleInterface(widget); before && !dynamic_cast<Ours *>(before))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(before));
}

} // namespace

void readableCalendar(QCalendarWidget *calendar)
{
    hostOfFocusProxy(calendar);
    if (auto *grid = calendar->findChild<QTableView *>())
        readableItems(grid);
    const std::pair<const char *, const char *> buttons[] = {
        {"qt_calendar_prevmonth", "Previous month"},
        {"qt_calendar_nextmonth", "Next month"},
    };
    for (const auto &[name, text] : buttons)
        if (auto *button = calendar->findChild<QToolButton *>(QLatin1String(name)))
            button->setAccessibleName(QString::fromLatin1(text));
    // These show the month's and the year's value; what they choose is said beside it.
    if (auto *month = calendar->findChild<QToolButton *>(QStringLiteral("qt_calendar_monthbutton")))
        month->setAccessibleDescription(QStringLiteral("Month"));
    if (auto *year = calendar->findChild<QToolButton *>(QStringLiteral("qt_calendar_yearbutton")))
        year->setAccessibleDescription(QStringLiteral("Year"));
    if (auto *yearEdit = calendar->findChild<QSpinBox *>(QStringLiteral("qt_calendar_yearedit")))
        yearEdit->setAccessibleName(QStringLiteral("Year"));
}

void readableItems(QAbstractItemView *view)
{
    takeOver<ViewAccessible>(view, kReadableItems);
}

void hostOfFocusProxy(QWidget *widget)
{
    takeOver<ProxyHost>(widget, kProxyHost);
}

void decoration(QWidget *widget)
{
    takeOver<Decoration>(widget, kDecoration);
}

void announceName(QWidget *widget, const QString &name)
{
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

} // namespace accessibility
