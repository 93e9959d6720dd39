#include "mainwindow/frmFind.h"

#include "store/Connection.h"
#include "store/EventSearch.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kIdRole = Qt::UserRole;
constexpr int kStartRole = Qt::UserRole + 1;
} // namespace

frmFind::frmFind(const QString &connectionString, QWidget *parent)
    : QDialog(parent), m_connectionString(connectionString)
{
    setObjectName(QStringLiteral("frmFind"));
    setWindowTitle(QStringLiteral("Find"));

    auto *lblFind = new QLabel(QStringLiteral("&Words:"), this);
    lblFind->setObjectName(QStringLiteral("lblFind"));
    m_txtFind = new QLineEdit(this);
    m_txtFind->setObjectName(QStringLiteral("txtFind"));
    m_txtFind->setPlaceholderText(QStringLiteral("In a title, description, notes or staff member's name"));
    m_txtFind->setClearButtonEnabled(true);
    lblFind->setBuddy(m_txtFind);

    m_lvResults = new QTreeWidget(this);
    m_lvResults->setObjectName(QStringLiteral("lvResults"));
    m_lvResults->setHeaderLabels({QStringLiteral("Date and Time"), QStringLiteral("Title"), QStringLiteral("Staff Member")});
    m_lvResults->setRootIsDecorated(false);
    m_lvResults->setUniformRowHeights(true);
    m_lvResults->setAllColumnsShowFocus(true);
    m_lvResults->header()->setStretchLastSection(true);
    m_lvResults->setColumnWidth(0, 170);
    m_lvResults->setColumnWidth(1, 220);
    m_lvResults->installEventFilter(this);
    connect(m_lvResults, &QTreeWidget::itemDoubleClicked, this, &frmFind::choose);

    m_lblFound = new QLabel(this);
    m_lblFound->setObjectName(QStringLiteral("lblFound"));

    auto *buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("buttons"));
    m_cmdShow = buttons->addButton(QStringLiteral("&Show in Week"), QDialogButtonBox::AcceptRole);
    m_cmdShow->setObjectName(QStringLiteral("cmdShow"));
    m_cmdShow->setEnabled(false);
    m_cmdShow->setAutoDefault(false);
    QPushButton *close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setAutoDefault(false);
    connect(m_cmdShow, &QPushButton::clicked, this, &frmFind::choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblFind);
    layout->addWidget(m_txtFind);
    layout->addWidget(m_lvResults, 1);
    layout->addWidget(m_lblFound);
    layout->addWidget(buttons);

    // Typing only restarts the pause; one search runs when the typing stops.
    m_searchLater = new QTimer(this);
    m_searchLater->setObjectName(QStringLiteral("searchLater"));
    m_searchLater->setSingleShot(true);
    m_searchLater->setInterval(kPauseMs);
    connect(m_searchLater, &QTimer::timeout, this, &frmFind::search);
    connect(m_txtFind, &QLineEdit::textChanged, m_searchLater, qOverload<>(&QTimer::start));
    connect(m_lvResults, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { m_cmdShow->setEnabled(current != nullptr); });
    m_txtFind->installEventFilter(this);

    resize(620, 420);
}

void frmFind::search()
{
    m_searchLater->stop();
    m_lvResults->clear();
    const QString typed = m_txtFind->text();
    if (store::EventSearch::words(typed).isEmpty()) {
        m_lblFound->clear();
        return;
    }
    QList<store::Event> found;
    try {
        store::Connection conn;
        conn.open(m_connectionString);
        found = store::EventSearch::find(conn, typed, kShown + 1);
    } catch (const store::StoreError &e) {
        m_lblFound->setText(QStringLiteral("The search failed: ") + e.description());
        return;
    }
    const bool more = found.size() > kShown;
    if (more)
        found.removeLast();
    QList<QTreeWidgetItem *> rows;
    rows.reserve(found.size());
    for (const store::Event &e : found) {
        const QDateTime start = e.start();
        auto *row = new QTreeWidgetItem({start.toString(QStringLiteral("ddd M/dd/yyyy h:mm AP")), e.values.title, e.staffName});
        row->setData(0, kIdRole, e.id);
        row->setData(0, kStartRole, start);
        rows << row;
    }
    m_lvResults->addTopLevelItems(rows);
    if (!rows.isEmpty())
        m_lvResults->setCurrentItem(rows.first());
    m_lblFound->setText(found.isEmpty() ? QStringLiteral("No event holds these words.")
                        : more         ? QStringLiteral("The newest %1 events found; more words find fewer.").arg(kShown)
                        : found.size() == 1 ? QStringLiteral("1 event found.")
                                            : QStringLiteral("%1 events found.").arg(found.size()));
}

QString frmFind::words() const
{
    return m_txtFind->text();
}

void frmFind::setWords(const QString &words, int chosenEventId)
{
    m_txtFind->setText(words);
    m_txtFind->selectAll();
    search();
    for (int i = 0; i < m_lvResults->topLevelItemCount(); ++i) {
        if (m_lvResults->topLevelItem(i)->data(0, kIdRole).toInt() == chosenEventId)
            m_lvResults->setCurrentItem(m_lvResults->topLevelItem(i));
    }
}

void frmFind::choose()
{
    QTreeWidgetItem *row = m_lvResults->currentItem();
    if (!row)
        return;
    m_chosenId = row->data(0, kIdRole).toInt();
    m_chosenStart = row->data(0, kStartRole).toDateTime();
    accept();
}

bool frmFind::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (watched == m_txtFind) {
            // Return shows the first result, of the words as typed so far.
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                if (m_searchLater->isActive())
                    search();
                choose();
                return true;
            }
            // The arrows walk the results without leaving the field.
            if ((key == Qt::Key_Down || key == Qt::Key_Up || key == Qt::Key_PageDown || key == Qt::Key_PageUp)
                && m_lvResults->topLevelItemCount() > 0) {
                QCoreApplication::sendEvent(m_lvResults, event);
                return true;
            }
        } else if (watched == m_lvResults && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            choose();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
