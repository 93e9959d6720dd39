#include "lists/frmListManager.h"

#include "model/Calendar.h"
#include "model/EntryRows.h"
#include "store/ChangeHistory.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Statements.h"
#include "store/StoreError.h"
#include "ui/Prompt.h"
#include "ui/ReadOnly.h"
#include "ui/WindowKeys.h"

#include <QAction>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QToolBar>

#include <algorithm>
#include <vector>

// The combo box's text field. QComboBox picks the entry whose text matches
// what was typed when editing finishes (Enter, leaving the field); that is no
// choice of the user's, so the window needs to know when it happens.
class TitleLineEdit : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;
    [[nodiscard]] bool finishingEdit() const { return m_finishing; }

protected:
    void focusOutEvent(QFocusEvent *event) override
    {
        const QScopedValueRollback<bool> guard(m_finishing, true);
        QLineEdit::focusOutEvent(event);
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        const QScopedValueRollback<bool> guard(m_finishing, true);
        QLineEdit::keyPressEvent(event);
    }

private:
    bool m_finishing = false;
};

namespace {
const QString kCrLf = QStringLiteral("\r\n");

// The layout is in pixels for an 8.25-point MS Sans Serif; where that is
// missing, a sans serif of similar width keeps the captions inside their labels.
QFont designFont(QFont font)
{
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setPointSizeF(8.25);
    return font;
}
} // namespace

frmListManager::frmListManager(const ListKind &kind, const AppServices &services, QWidget *parent)
    : QDialog(parent), m_kind(kind), m_services(services)
{
    setObjectName(kind.windowName);
    setWindowTitle(kind.caption);
    setFont(designFont(font()));
    createControls();
    resize(kind.clientSize);
    Form_Load();
}

frmListManager::~frmListManager()
{
    // Hiding the window on the way out takes the focus from the title field,
    // and the combo box then reports a choice; the window is half gone by then.
    m_combo->disconnect(this);
    m_titleEdit->disconnect(this);
}

void frmListManager::createControls()
{
    m_tlbrTop = new QToolBar(this);
    m_tlbrTop->setObjectName(QStringLiteral("tlbrTop"));
    m_tlbrTop->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_tlbrTop->setMovable(false);
    m_tlbrTop->setFloatable(false);
    m_tlbrTop->setFocusPolicy(Qt::NoFocus);
    m_tlbrTop->setGeometry(0, 0, m_kind.clientSize.width(), m_kind.toolbarHeight);
    const std::pair<const char *, const char *> buttons[] = {
        {"Save and Close", "saveAndClose"},
        {"Add New", "addNewEvent"},
        {"Delete", "deleteRecord"},
    };
    for (const auto &[caption, key] : buttons) {
        QAction *action = m_tlbrTop->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(key));
        action->setData(QString::fromLatin1(key));
    }
    connect(m_tlbrTop, &QToolBar::actionTriggered, this,
            [this](QAction *action) { tlbrTop_ButtonClick(action->data().toString()); });
    windowkeys::giveKeys(m_tlbrTop->findChild<QAction *>(QStringLiteral("saveAndClose")),
                         {QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::ALT | Qt::Key_S)});
    windowkeys::giveKeys(m_tlbrTop->findChild<QAction *>(QStringLiteral("addNewEvent")),
                         {QKeySequence(Qt::CTRL | Qt::Key_N), QKeySequence(Qt::ALT | Qt::Key_A)});
    windowkeys::giveKeys(m_tlbrTop->findChild<QAction *>(QStringLiteral("deleteRecord")),
                         {QKeySequence(Qt::ALT | Qt::Key_D)});
    if (readOnly())
        for (QAction *action : m_tlbrTop->actions())
            readonly::turnOff(action, true);

    m_label1 = new QLabel(m_kind.label1Text, this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label1->setGeometry(m_kind.label1);

    m_combo = new QComboBox(this);
    m_combo->setObjectName(m_kind.comboName);
    m_titleEdit = new TitleLineEdit(m_combo);
    m_combo->setLineEdit(m_titleEdit);
    m_combo->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion: a typed title stays exactly as typed.
    m_combo->setCompleter(nullptr);
    m_combo->setGeometry(m_kind.combo.left(), m_kind.combo.top(), m_kind.combo.width(),
                         m_combo->sizeHint().height());
    connect(m_combo, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (m_titleEdit->finishingEdit())
            return;
        m_listIndex = index;
        combo_Click();
    });
    // Typing over the title leaves no entry selected.
    connect(m_titleEdit, &QLineEdit::textEdited, this, [this] { m_listIndex = -1; });

    m_label2 = new QLabel(m_kind.label2Text, this);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label2->setGeometry(m_kind.label2);

    // Who saved the chosen entry last, beside the text's caption, under the list.
    m_lblChanged = new QLabel(this);
    m_lblChanged->setObjectName(QStringLiteral("lblChanged"));
    m_lblChanged->setTextFormat(Qt::PlainText);
    m_lblChanged->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblChanged->setGeometry(m_kind.combo.left(), m_kind.label2.top(), m_kind.combo.width(), m_kind.label2.height());
    m_lblChanged->hide();

    m_txtDescription = new QPlainTextEdit(this);
    m_txtDescription->setObjectName(QStringLiteral("txtDescription"));
    m_txtDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtDescription->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_txtDescription->setTabChangesFocus(true);
    m_txtDescription->setGeometry(m_kind.description);
    m_txtDescription->installEventFilter(this);
    m_txtDescription->viewport()->installEventFilter(this);

    // Named for screen readers by their captions, which also label them (a
    // Linux reader names a combo box by its value, so its typing field is named too).
    m_label1->setBuddy(m_combo);
    m_label2->setBuddy(m_txtDescription);
    m_combo->setAccessibleName(m_kind.label1Text);
    m_titleEdit->setAccessibleName(m_kind.label1Text);

    // Tab order of the controls that take the focus; the first one has it on opening.
    std::vector<std::pair<int, QWidget *>> order = {
        {m_kind.comboTab, m_combo},
        {m_kind.descriptionTab, m_txtDescription},
    };
    for (QWidget *button : windowkeys::reachableButtons(m_tlbrTop))
        order.emplace_back(m_kind.toolbarTab, button);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1].second, order[i].second);
    setTabOrder(order.back().second, order.front().second);
    order.front().second->setFocus();
    windowkeys::keepAltOutOfFields(this);
}

bool frmListManager::eventFilter(QObject *watched, QEvent *event)
{
    // Add New's prompt is there to be typed over: taking the focus selects it
    // whole, also with a click, which would otherwise just place the cursor.
    if ((watched == m_txtDescription || watched == m_txtDescription->viewport()) && !m_kind.addNewText.isEmpty()) {
        const bool prompt = m_txtDescription->toPlainText() == m_kind.addNewText;
        if (event->type() == QEvent::FocusIn) {
            m_promptClicked = prompt && static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason;
            if (prompt)
                m_txtDescription->selectAll();
        } else if (event->type() == QEvent::MouseButtonPress && m_promptClicked) {
            m_promptClicked = false;
            if (prompt) {
                m_txtDescription->selectAll();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

QStringList frmListManager::fieldValues() const
{
    return {titleText(), m_txtDescription->toPlainText()};
}

void frmListManager::markUnchanged()
{
    m_shownValues = fieldValues();
}

bool frmListManager::hasUnsavedChanges() const
{
    // Nothing typed here could be saved.
    return !readOnly() && fieldValues() != m_shownValues;
}

void frmListManager::reject()
{
    // Escape and the close box end here; what was typed is not thrown away unasked.
    if (windowkeys::mayClose(this, *m_services.prompt, hasUnsavedChanges(), [this] { saveAndClose(); }))
        QDialog::reject();
}

QString frmListManager::titleText() const
{
    return m_combo->currentText();
}

QString frmListManager::descriptionText() const
{
    // Stored with CR LF line breaks, as the editor stores its texts and the report expects.
    QString text = m_txtDescription->toPlainText();
    text.replace(QLatin1Char('\n'), kCrLf);
    return text;
}

void frmListManager::selectEntry(int index)
{
    m_combo->setCurrentIndex(index);
    m_listIndex = index;
}

void frmListManager::Form_Load()
{
    m_connectionString = store::connectionStringFor(m_services.programFolder, m_services.database);
    m_editingExisting = false;
    loadList();
    // Only a selected entry may be written over; a fill that stopped early selected none.
    if (m_listIndex >= 0) {
        m_editingExisting = true;
        m_selectedId = m_combo->itemData(m_listIndex).toInt();
    }
    markUnchanged();
}

void frmListManager::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // The toolbar is aligned to the top and spans the window, as any docked bar.
    m_tlbrTop->resize(width(), m_kind.toolbarHeight);
    Form_Resize();
}

void frmListManager::Form_Resize()
{
    const QRect outer = frameGeometry();
    if (outer.width() < 200 || outer.height() < 100)
        return;
    m_combo->resize(outer.width() - m_combo->x() - 30, m_combo->height());
    m_txtDescription->resize(outer.width() - m_txtDescription->x() - 30, m_txtDescription->height());
}

void frmListManager::combo_Click()
{
    if (m_listIndex < 0)
        return;
    const int id = m_combo->itemData(m_listIndex).toInt();
    loadDescription(id);
    if (m_combo->count() > 0) {
        m_editingExisting = true;
        m_selectedId = id;
    }
    markUnchanged();
}

void frmListManager::loadList()
{
    m_combo->clear();
    m_combo->clearEditText();
    m_listIndex = -1;
    try {
        store::Connection conn;
        conn.open(m_connectionString);
        m_kind.readEntries(conn, [this](int id, const QString &title) {
            m_combo->addItem(title);
            m_combo->setItemData(m_combo->count() - 1, id);
        });
        if (m_combo->count() > 0) {
            selectEntry(0);
            combo_Click();
        }
    } catch (const store::StoreError &) {
        // Keep what was read; the combo box chose its first entry by itself, undo that.
        m_combo->setCurrentIndex(-1);
        m_combo->clearEditText();
        m_listIndex = -1;
    }
}

void frmListManager::loadDescription(int id)
{
    try {
        store::Connection conn;
        conn.open(m_connectionString);
        // A text some other tool left NULL reads as empty: showing the
        // previous entry's text would mislead.
        if (const std::optional<QString> text = m_kind.readText(conn, id))
            m_txtDescription->setPlainText(*text);
        showHistory(QString(), QString());
        const auto table = m_kind.table == model::Table::Staff ? store::ChangeHistory::Table::Staff
                                                               : store::ChangeHistory::Table::Templates;
        if (const std::optional<store::RowHistory> h = store::ChangeHistory::read(conn, table, id))
            showHistory(store::ChangeHistory::latest(*h), store::ChangeHistory::full(*h));
    } catch (const store::StoreError &) {
        // List loads fail quietly; the window stays usable.
    }
}

void frmListManager::showHistory(const QString &latest, const QString &full)
{
    m_lblChanged->setToolTip(full);
    m_lblChanged->setAccessibleName(latest);
    m_lblChanged->setText(m_lblChanged->fontMetrics().elidedText(latest, Qt::ElideRight, m_lblChanged->width()));
    m_lblChanged->setVisible(!latest.isEmpty());
}

bool frmListManager::write(const std::function<Written(store::Connection &)> &change, const QString &failureLine)
{
    store::Connection conn;
    Written written;
    try {
        conn.open(m_connectionString);
        written = change(conn);
    } catch (const store::StoreError &e) {
        m_services.prompt->critical(this, failureLine + kCrLf + e.description(), QString(), e.details());
        return false;
    }
    if (m_services.calendar && written.id != -1) {
        const QString title = written.before ? written.before->title : titleText();
        m_services.calendar->entryWritten(conn, m_kind.table,
                                          QStringLiteral("%1 %2 '%3'").arg(written.verb, m_kind.stepNoun, title),
                                          written.id, written.before);
    } else if (m_services.calendar && m_kind.tellChanged) {
        (m_services.calendar->*m_kind.tellChanged)();
    }
    return true;
}

std::optional<model::Entry> frmListManager::storedEntry(store::Connection &conn, int id) const
{
    try {
        return model::EntryRows::readOne(conn, m_kind.table, id);
    } catch (const store::StoreError &) {
        // A row another tool damaged is still written, only without undo.
        if (!conn.isOpen())
            throw;
        return std::nullopt;
    }
}

bool frmListManager::titleTaken() const
{
    // Compared as it would be stored, and as a person reads names.
    const QString title = statements::cleanText(titleText()).trimmed();
    for (int i = 0; i < m_combo->count(); ++i)
        if (m_combo->itemText(i).trimmed().compare(title, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

int frmListManager::usesOfSelectedEntry() const
{
    if (!m_kind.countUses || m_listIndex < 0)
        return 0;
    try {
        store::Connection conn;
        conn.open(m_connectionString);
        return m_kind.countUses(conn, m_combo->itemData(m_listIndex).toInt());
    } catch (const store::StoreError &) {
        // The question is asked without the count; the delete reports its own failure.
        return 0;
    }
}

bool frmListManager::updateEntry()
{
    return write(
        [this](store::Connection &conn) -> Written {
            const std::optional<model::Entry> before = storedEntry(conn, m_selectedId);
            m_kind.updateRow(conn, m_selectedId, titleText(), descriptionText());
            if (!before)
                return {};
            return {QStringLiteral("Edit"), m_selectedId, before};
        },
        QStringLiteral("An error occured while updating the record"));
}

bool frmListManager::insertEntry()
{
    return write(
        [this](store::Connection &conn) -> Written {
            return {QStringLiteral("Add"), m_kind.insertRow(conn, titleText(), descriptionText()), std::nullopt};
        },
        QStringLiteral("An error occured while adding a new record"));
}

bool frmListManager::deleteEntry()
{
    return write(
        [this](store::Connection &conn) -> Written {
            if (m_listIndex < 0)
                throw store::StoreError(QStringLiteral("No entry is selected in the list."));
            const int id = m_combo->itemData(m_listIndex).toInt();
            const std::optional<model::Entry> before = storedEntry(conn, id);
            m_kind.deleteRow(conn, id);
            if (!before)
                return {};
            return {QStringLiteral("Delete"), id, before};
        },
        QStringLiteral("An error occured while deleting the record"));
}

bool frmListManager::readOnly() const
{
    return m_services.calendar && m_services.calendar->readOnly();
}

void frmListManager::tlbrTop_ButtonClick(const QString &key)
{
    if (readOnly())
        return;
    if (key == QLatin1String("saveAndClose")) {
        saveAndClose();
    } else if (key == QLatin1String("addNewEvent")) {
        m_combo->setCurrentIndex(-1);
        m_combo->clearEditText();
        m_listIndex = -1;
        m_combo->setFocus();
        m_txtDescription->setPlainText(m_kind.addNewText);
        showHistory(QString(), QString());
        m_editingExisting = false;
        markUnchanged();
    } else if (key == QLatin1String("deleteRecord")) {
        QString question = m_kind.deleteQuestionStart + titleText() + QStringLiteral("'?");
        if (const int uses = usesOfSelectedEntry(); uses > 0 && m_kind.inUseNote)
            question += kCrLf + m_kind.inUseNote(uses);
        if (!m_services.prompt->ask(this, question))
            return;
        deleteEntry();
        loadList();
        // With no entry left to stand for, a typed title must make a new row,
        // and not with the deleted entry's text.
        if (m_listIndex < 0) {
            m_editingExisting = false;
            if (m_combo->count() == 0)
                m_txtDescription->clear();
        }
        markUnchanged();
    }
}

bool frmListManager::saveAndClose()
{
    if (m_editingExisting) {
        if (!updateEntry())
            return false;
    } else if (!titleText().isEmpty()) {
        if (titleTaken() && !m_services.prompt->ask(this, m_kind.duplicateQuestion.arg(titleText())))
            return false; // the window stays open with what was typed
        if (!insertEntry())
            return false;
    } else {
        m_services.prompt->inform(this, m_kind.emptyTitleMessage);
        return false;
    }
    accept();
    return true;
}
