#include "editor/frmEventEditor.h"

#include "model/Calendar.h"
#include "print/mdlEventsGlobals.h"
#include "store/ChangeHistory.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Events.h"
#include "store/StaffMembers.h"
#include "store/Templates.h"
#include "ui/Pictures.h"
#include "ui/Prompt.h"
#include "ui/ReadOnly.h"
#include "ui/TypedPicker.h"
#include "ui/WindowKeys.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTimeEdit>
#include <QToolBar>

#include <algorithm>

namespace {

constexpr QSize kClientSize(397, 318);
// The date pickers start here; every caller replaces it.
const QDate kInitialDate(2000, 1, 1);
const QTime kNoon(12, 0);

const QString kSaveAndClose = QStringLiteral("saveAndClose");
const QString kPrintEvent = QStringLiteral("printEvent");
const QString kDeleteRecord = QStringLiteral("deleteRecord");

QPixmap blankPicture()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}

QIcon saveIcon()
{
    QPixmap pm = blankPicture();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 40, 90), 1));
    p.setBrush(QColor(45, 85, 160));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 2, 8, 5)); // label
    p.setBrush(QColor(190, 190, 190));
    p.drawRect(QRectF(4.5, 9.5, 7, 5)); // shutter
    p.setBrush(QColor(45, 85, 160));
    p.drawRect(QRectF(9, 10.5, 1.5, 3));
    return QIcon(pm);
}

QIcon printIcon()
{
    QPixmap pm = blankPicture();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 5)); // paper in
    p.setBrush(QColor(170, 170, 170));
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1); // body
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 10.5, 7, 4)); // paper out
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 170, 60));
    p.drawEllipse(QPointF(12.5, 8.5), 0.9, 0.9);
    return QIcon(pm);
}

QIcon deleteIcon()
{
    QPixmap pm = blankPicture();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return QIcon(pm);
}

// What a multi-line box holds is written with the CR LF line breaks the
// store and the report expect.
QString storedLines(const QString &shown)
{
    QString text = shown;
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

// The captions sit in narrow fixed boxes; a wide desktop font gets one
// smaller size for all of them rather than cut words.
void fitCaptions(const QList<QLabel *> &labels)
{
    if (labels.isEmpty())
        return;
    QFont f = labels.first()->font();
    auto allFit = [&labels](const QFont &font) {
        const QFontMetrics metrics(font);
        for (const QLabel *l : labels)
            if (metrics.horizontalAdvance(l->text()) > l->width())
                return false;
        return true;
    };
    while (!allFit(f) && f.pointSizeF() > 6.0)
        f.setPointSizeF(f.pointSizeF() - 0.5);
    for (QLabel *l : labels)
        l->setFont(f);
}

// The pickers hold wall-clock values, as the store does; keeping them in UTC
// means no time zone or daylight-saving shift ever moves a date.
QDateTime wallClock(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC);
}

} // namespace

frmEventEditor::~frmEventEditor()
{
    // The title field loses focus while the window is torn down; its handlers
    // must not reach a window that is already half gone.
    if (QLineEdit *edit = m_cmbPredefinedEvents->lineEdit())
        edit->disconnect(this);
}

frmEventEditor::frmEventEditor(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmEventEditor"));
    setWindowTitle(QStringLiteral("Activity / Drill"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(applicationIcon());
    setFixedSize(kClientSize);
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    createControls();
    Form_Load();
}

void frmEventEditor::createToolbar()
{
    m_tlbrTop = new QToolBar(this);
    m_tlbrTop->setObjectName(QStringLiteral("tlbrTop"));
    m_tlbrTop->setMovable(false);
    m_tlbrTop->setFloatable(false);
    m_tlbrTop->setIconSize(QSize(16, 16));
    m_tlbrTop->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_tlbrTop->setGeometry(0, 0, 397, 22);

    struct Button
    {
        QString text;
        QString key;
        QIcon icon;
    };
    const Button buttons[] = {
        {QStringLiteral("Save and Close"), kSaveAndClose, saveIcon()},
        {QStringLiteral("Print"), kPrintEvent, printIcon()},
        {QStringLiteral("Delete"), kDeleteRecord, deleteIcon()},
    };
    for (const Button &b : buttons) {
        QAction *action = m_tlbrTop->addAction(b.icon, b.text);
        action->setObjectName(b.key);
        action->setData(b.key);
        const QString key = b.key;
        connect(action, &QAction::triggered, this, [this, key]() { tlbrTop_ButtonClick(key); });
    }
    windowkeys::giveKeys(m_tlbrTop->findChild<QAction *>(kSaveAndClose),
                         {QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::ALT | Qt::Key_S)});
    windowkeys::giveKeys(m_tlbrTop->findChild<QAction *>(kPrintEvent),
                         {QKeySequence(Qt::CTRL | Qt::Key_P), QKeySequence(Qt::ALT | Qt::Key_P)});
    windowkeys::giveKeys(m_tlbrTop->findChild<QAction *>(kDeleteRecord), {QKeySequence(Qt::ALT | Qt::Key_D)});
    if (readOnly()) {
        readonly::turnOff(m_tlbrTop->findChild<QAction *>(kSaveAndClose), true);
        readonly::turnOff(m_tlbrTop->findChild<QAction *>(kDeleteRecord), true);
    }
}

bool frmEventEditor::readOnly() const
{
    return m_services.calendar && m_services.calendar->readOnly();
}

void frmEventEditor::createControls()
{
    createToolbar();

    auto label = [this](const char *name, const QString &text, const QRect &geometry) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(geometry);
        return l;
    };
    auto textBox = [this](const char *name, const QRect &geometry) {
        auto *t = new QPlainTextEdit(this);
        t->setObjectName(QLatin1String(name));
        t->setTabChangesFocus(true);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        t->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        t->setGeometry(geometry);
        return t;
    };
    auto datePicker = [this](const char *name, const QRect &geometry) {
        QDateEdit *d = new TypedPicker<QDateEdit>(this);
        d->setObjectName(QLatin1String(name));
        d->setDisplayFormat(QStringLiteral("ddd M/dd/yyyy"));
        d->setCalendarPopup(true);
        d->setTimeSpec(Qt::UTC);
        d->setDateTime(wallClock(kInitialDate, QTime(0, 0)));
        d->setGeometry(geometry);
        return d;
    };
    auto timePicker = [this](const char *name, const QRect &geometry) {
        QTimeEdit *t = new TypedPicker<QTimeEdit>(this);
        t->setObjectName(QLatin1String(name));
        t->setDisplayFormat(QStringLiteral("h:mm AP"));
        t->setTimeSpec(Qt::UTC);
        t->setTime(kNoon);
        t->setGeometry(geometry);
        return t;
    };

    QList<QLabel *> labels;
    labels << label("Label5", QStringLiteral("Staff Member"), QRect(8, 32, 73, 25));
    m_cmbPOCs = new QComboBox(this);
    m_cmbPOCs->setObjectName(QStringLiteral("cmbPOCs"));
    m_cmbPOCs->setEditable(true);
    m_cmbPOCs->setInsertPolicy(QComboBox::NoInsert);
    m_cmbPOCs->setGeometry(80, 32, 305, 19);

    // Widened up to the list beside it, so the caption is not cut short.
    labels << label("Label1", QStringLiteral("Activity / Drill"), QRect(8, 56, 72, 17));
    m_cmbPredefinedEvents = new QComboBox(this);
    m_cmbPredefinedEvents->setObjectName(QStringLiteral("cmbPredefinedEvents"));
    // Leaving the field with a template's title typed selects that entry
    // inside QComboBox; unlike a pick from the list it must not load the
    // template. The flag brackets the combo box's own handling.
    auto *titleEdit = new QLineEdit(m_cmbPredefinedEvents);
    connect(titleEdit, &QLineEdit::editingFinished, this, [this]() { m_titleTypedMatch = true; });
    m_cmbPredefinedEvents->setLineEdit(titleEdit);
    connect(titleEdit, &QLineEdit::editingFinished, this, [this]() { m_titleTypedMatch = false; });
    // Titles are free text; completing them would change what was typed.
    m_cmbPredefinedEvents->setCompleter(nullptr);
    m_cmbPredefinedEvents->setInsertPolicy(QComboBox::NoInsert);
    m_cmbPredefinedEvents->setGeometry(80, 56, 305, 19);
    connect(m_cmbPredefinedEvents, &QComboBox::activated, this, [this]() {
        if (!m_titleTypedMatch)
            cmbPredefinedEvents_Click();
    });

    labels << label("Label2", QStringLiteral("Description"), QRect(0, 80, 73, 17));
    m_txtDescription = textBox("txtDescription", QRect(80, 80, 305, 57));

    m_picture1 = new QLabel(this);
    m_picture1->setObjectName(QStringLiteral("Picture1"));
    m_picture1->setPixmap(pitchPicture(QSize(70, 91)));
    m_picture1->setScaledContents(true);
    m_picture1->setGeometry(320, 144, 57, 73);

    labels << label("Label3", QStringLiteral("Start time"), QRect(16, 152, 57, 17));
    m_dtStartDate = datePicker("dtStartDate", QRect(80, 152, 129, 25));
    m_dtStartTime = timePicker("dtStartTime", QRect(208, 152, 89, 25));
    labels << label("Label4", QStringLiteral("End time"), QRect(16, 184, 57, 25));
    m_dtEndDate = datePicker("dtEndDate", QRect(80, 184, 129, 25));
    m_dtEndTime = timePicker("dtEndTime", QRect(208, 184, 89, 25));

    labels << label("lblNotes", QStringLiteral("NOTES:"), QRect(8, 208, 73, 17));
    m_txtNotes = textBox("txtNotes", QRect(8, 224, 377, 89));
    // Who saved the stored event last, in the free space beside the notes'
    // caption, up to the picture.
    m_lblChanged = label("lblChanged", QString(), QRect(80, 208, 236, 16));
    m_lblChanged->setTextFormat(Qt::PlainText);
    m_lblChanged->hide();

    fitCaptions(labels);

    // Each field named for screen readers; the captions beside them also
    // label them (the way Linux readers name a combo box).
    labels.at(0)->setBuddy(m_cmbPOCs);
    labels.at(1)->setBuddy(m_cmbPredefinedEvents);
    labels.at(2)->setBuddy(m_txtDescription);
    labels.at(5)->setBuddy(m_txtNotes);
    const std::pair<QWidget *, const char *> names[] = {
        {m_cmbPOCs, "Staff Member"},
        {m_cmbPOCs->lineEdit(), "Staff Member"},
        {m_cmbPredefinedEvents, "Activity / Drill"},
        {titleEdit, "Activity / Drill"},
        {m_dtStartDate, "Start date"},
        {m_dtStartTime, "Start time"},
        {m_dtEndDate, "End date"},
        {m_dtEndTime, "End time"},
        {m_txtNotes, "Notes"},
    };
    for (const auto &[field, name] : names)
        field->setAccessibleName(QString::fromLatin1(name));

    setTabOrder(m_cmbPredefinedEvents, m_txtDescription);
    setTabOrder(m_txtDescription, m_txtNotes);
    setTabOrder(m_txtNotes, m_dtStartDate);
    setTabOrder(m_dtStartDate, m_dtEndDate);
    setTabOrder(m_dtEndDate, m_dtStartTime);
    setTabOrder(m_dtStartTime, m_dtEndTime);
    setTabOrder(m_dtEndTime, m_cmbPOCs);
    // Then the toolbar's buttons, and round again to the title.
    QWidget *previous = m_cmbPOCs;
    for (QWidget *button : windowkeys::reachableButtons(m_tlbrTop)) {
        setTabOrder(previous, button);
        previous = button;
    }
    setTabOrder(previous, m_cmbPredefinedEvents);
    // The window opens on the first field, not on a toolbar button a reader would announce.
    m_cmbPredefinedEvents->setFocus();
    windowkeys::keepAltOutOfFields(this);
}

void frmEventEditor::Form_Load()
{
    m_connectionString = store::connectionStringFor(m_services.programFolder, m_services.database);
    loadStaffMembers();
    m_isExistingRecord = false;
    loadPredefinedEvents();
    m_currentEventId = -1;
}

void frmEventEditor::loadStaffMembers()
{
    m_cmbPOCs->clear();
    m_cmbPOCs->clearEditText();
    store::Connection conn;
    try {
        conn.open(m_connectionString);
        store::StaffMembers::readAll(conn, [this](const store::StaffMember &s) { m_cmbPOCs->addItem(s.name, s.id); });
        if (m_cmbPOCs->count() > 0)
            m_cmbPOCs->setCurrentIndex(0);
    } catch (const store::StoreError &) {
        // The list keeps what was read; the window stays usable.
    }
    conn.close();
}

void frmEventEditor::loadPredefinedEvents()
{
    m_titleListHoldsEvent = false;
    m_cmbPredefinedEvents->clear();
    m_cmbPredefinedEvents->clearEditText();
    store::Connection conn;
    try {
        conn.open(m_connectionString);
        store::Templates::readAll(conn,
                                  [this](const store::Template &t) { m_cmbPredefinedEvents->addItem(t.title, t.id); });
        if (m_cmbPredefinedEvents->count() > 0) {
            m_cmbPredefinedEvents->setCurrentIndex(0);
            cmbPredefinedEvents_Click();
        }
    } catch (const store::StoreError &) {
        // As above: a quiet stop.
    }
    conn.close();
}

void frmEventEditor::cmbPredefinedEvents_Click()
{
    // The stored event's own entry carries the event's key, not a template's.
    if (m_titleListHoldsEvent)
        return;
    const int index = m_cmbPredefinedEvents->currentIndex();
    if (index < 0)
        return;
    loadPredefinedEventDetails(m_cmbPredefinedEvents->itemData(index).toInt());
}

void frmEventEditor::loadPredefinedEventDetails(int templateId)
{
    store::Connection conn;
    try {
        conn.open(m_connectionString);
        if (const std::optional<store::Template> t = store::Templates::readOne(conn, templateId))
            m_txtDescription->setPlainText(t->description);
    } catch (const store::StoreError &) {
        // The description stays as it was.
    }
    conn.close();
}

bool frmEventEditor::loadScheduledEvent(int eventId)
{
    // The row is read whole before anything is shown: one that cannot be read
    // (a NULL title, a time another tool wrote in a form of its own) leaves
    // the window untouched, and the caller does not show it.
    std::optional<store::Event> row;
    std::optional<store::RowHistory> history;
    store::Connection conn;
    try {
        conn.open(m_connectionString);
        row = store::Events::readOne(conn, eventId);
        history = readHistory(conn, eventId);
    } catch (const store::StoreError &e) {
        conn.close();
        m_services.prompt->critical(this, QStringLiteral("An error occured while loading the record.\r\n") + e.description(),
                                    QString(), e.details());
        return false;
    }
    conn.close();

    m_titleListHoldsEvent = true;
    m_cmbPredefinedEvents->clear();
    m_cmbPredefinedEvents->clearEditText();
    m_txtDescription->setPlainText(QString());
    m_txtNotes->setPlainText(QString());
    m_opened = row;
    showHistory(history);
    if (row) {
        const statements::EventValues &v = row->values;
        m_cmbPredefinedEvents->addItem(v.title, eventId);
        m_cmbPredefinedEvents->setCurrentIndex(0);
        cmbPredefinedEvents_Click();
        m_txtDescription->setPlainText(v.description);
        m_txtNotes->setPlainText(v.notes);
        m_dtStartDate->setDateTime(wallClock(v.startDate, QTime(0, 0)));
        m_dtStartTime->setTime(QTime(v.startTime.hour(), v.startTime.minute()));
        m_dtEndDate->setDateTime(wallClock(v.endDate, QTime(0, 0)));
        m_dtEndTime->setTime(QTime(v.endTime.hour(), v.endTime.minute()));
        selectStaffMember(v.staffId);
    }
    m_isExistingRecord = true;
    m_currentEventId = eventId;
    m_shownValues = fieldValues();
    return true;
}

std::optional<store::RowHistory> frmEventEditor::readHistory(store::Connection &conn, int eventId)
{
    try {
        return store::ChangeHistory::read(conn, store::ChangeHistory::Table::Events, eventId);
    } catch (const store::StoreError &) {
        // A calendar that could not be brought up to date has no history; the event loads all the same.
        return std::nullopt;
    }
}

void frmEventEditor::showHistory(const std::optional<store::RowHistory> &history)
{
    const QString text = history ? store::ChangeHistory::latest(*history) : QString();
    m_lblChanged->setToolTip(history ? store::ChangeHistory::full(*history) : QString());
    m_lblChanged->setAccessibleName(text);
    m_lblChanged->setText(m_lblChanged->fontMetrics().elidedText(text, Qt::ElideRight, m_lblChanged->width()));
    m_lblChanged->setVisible(!text.isEmpty());
}

void frmEventEditor::selectStaffMember(int staffId)
{
    const int index = m_cmbPOCs->findData(staffId);
    if (index >= 0)
        m_cmbPOCs->setCurrentIndex(index);
}

void frmEventEditor::setStartDate(const QDateTime &value)
{
    m_dtStartDate->setDateTime(wallClock(value.date(), value.time()));
}

void frmEventEditor::setEndDate(const QDateTime &value)
{
    m_dtEndDate->setDateTime(wallClock(value.date(), value.time()));
}

void frmEventEditor::setTitleText(const QString &title)
{
    m_cmbPredefinedEvents->setEditText(title);
}

void frmEventEditor::tlbrTop_ButtonClick(const QString &key)
{
    if (readOnly() && key != kPrintEvent)
        return;
    if (key == kSaveAndClose) {
        saveAndClose();
    } else if (key == kDeleteRecord) {
        if (!m_services.prompt->ask(this, QStringLiteral("Are you sure you want to delete the event '")
                                              + m_cmbPredefinedEvents->currentText() + QStringLiteral("'?")))
            return;
        // A never-stored event has no row to remove; its title list holds templates.
        if (!m_isExistingRecord) {
            QDialog::reject();
            return;
        }
        deleteScheduledEvent();
        accept();
    } else if (key == kPrintEvent) {
        if (m_currentEventId == -1) {
            m_services.prompt->inform(this, QStringLiteral("Please save first"));
            return;
        }
        store::Connection conn;
        try {
            conn.open(m_connectionString);
        } catch (const store::StoreError &e) {
            m_services.prompt->critical(this, QStringLiteral("An error occured while loading the record.\r\n")
                                                  + e.description(), QString(), e.details());
            return;
        }
        mdlEventsGlobals::printEventReport(m_services, m_currentEventId, conn);
    }
}

bool frmEventEditor::clashesAccepted()
{
    store::Event event;
    try {
        event.values = valuesFromWindow();
    } catch (const store::StoreError &) {
        return true; // the save says what is missing
    }
    event.id = m_isExistingRecord ? m_currentEventId : -1;
    // Asked when the time or the staff member is new, not at every save of an old clash.
    if (m_opened && m_opened->start() == event.start() && m_opened->end() == event.end()
        && m_opened->values.staffId == event.values.staffId)
        return true;
    store::Connection conn;
    try {
        conn.open(m_connectionString);
    } catch (const store::StoreError &) {
        return true;
    }
    return ::clashesAccepted(*m_services.prompt, this, conn, event, QStringLiteral("Save"));
}

bool frmEventEditor::saveAndClose()
{
    if (!clashesAccepted())
        return false; // the window stays open with everything typed
    const bool saved = m_isExistingRecord ? updateScheduledEvent() : insertScheduledEvent();
    // A failed save keeps the window and everything typed in it.
    if (saved)
        accept();
    return saved;
}

QStringList frmEventEditor::fieldValues() const
{
    return {m_cmbPredefinedEvents->currentText(),
            m_txtDescription->toPlainText(),
            m_txtNotes->toPlainText(),
            m_dtStartDate->date().toString(Qt::ISODate),
            m_dtStartTime->time().toString(QStringLiteral("HH:mm")),
            m_dtEndDate->date().toString(Qt::ISODate),
            m_dtEndTime->time().toString(QStringLiteral("HH:mm")),
            m_cmbPOCs->currentText()};
}

bool frmEventEditor::hasUnsavedChanges() const
{
    // Nothing typed here could be saved.
    return !readOnly() && m_shownValues && fieldValues() != *m_shownValues;
}

void frmEventEditor::reject()
{
    // Escape and the close box end here; what was typed is not thrown away unasked.
    if (windowkeys::mayClose(this, *m_services.prompt, hasUnsavedChanges(), [this] { saveAndClose(); }))
        QDialog::reject();
}

std::optional<int> frmEventEditor::selectedStaffId() const
{
    // A name typed that is no entry of the list is no staff member.
    const QString typed = m_cmbPOCs->currentText();
    const int current = m_cmbPOCs->currentIndex();
    if (current >= 0 && m_cmbPOCs->itemText(current) == typed)
        return m_cmbPOCs->itemData(current).toInt();
    const int match = m_cmbPOCs->findText(typed, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (match >= 0)
        return m_cmbPOCs->itemData(match).toInt();
    return std::nullopt;
}

statements::EventValues frmEventEditor::valuesFromWindow() const
{
    const std::optional<int> staffId = selectedStaffId();
    if (!staffId)
        throw store::StoreError(QStringLiteral("No staff member is selected in the Staff Member list."));
    statements::EventValues v;
    v.title = m_cmbPredefinedEvents->currentText();
    v.description = storedLines(m_txtDescription->toPlainText());
    v.notes = storedLines(m_txtNotes->toPlainText());
    const QTime start = m_dtStartTime->time();
    const QTime end = m_dtEndTime->time();
    v.startDate = m_dtStartDate->date();
    v.startTime = QTime(start.hour(), start.minute());
    v.endDate = m_dtEndDate->date();
    v.endTime = QTime(end.hour(), end.minute());
    v.staffId = *staffId;
    return v;
}

bool frmEventEditor::writeEvent(const std::function<Written(store::Connection &)> &write, const QString &failureLine)
{
    store::Connection conn;
    Written written;
    try {
        conn.open(m_connectionString);
        written = write(conn);
    } catch (const store::StoreError &e) {
        conn.close();
        m_services.prompt->critical(this, failureLine + QStringLiteral("\r\n") + e.description(), QString(), e.details());
        return false;
    }
    if (m_services.calendar && !written.writes.isEmpty())
        m_services.calendar->eventsWritten(conn, written.step, written.writes);
    return true;
}

bool frmEventEditor::updateScheduledEvent()
{
    // Written only over the event as this window last knew it: a save another
    // copy made since, even one landing while the question below is open,
    // comes back as the question rather than being lost unsaid.
    using Outcome = store::Events::UpdateResult::Outcome;
    for (;;) {
        const store::Event base = m_opened.value_or(store::Event());
        store::Events::UpdateResult result;
        if (!writeEvent(
                [this, &base, &result](store::Connection &conn) -> Written {
                    const statements::EventValues values = valuesFromWindow();
                    result = store::Events::updateIfUnchanged(conn, m_currentEventId, base, values);
                    if (result.outcome != Outcome::Updated)
                        return {};
                    return {QStringLiteral("Edit '%1'").arg(values.title), {{m_currentEventId, base}}};
                },
                QStringLiteral("An error occured while updating the record")))
            return false;
        if (result.outcome == Outcome::Updated)
            return true;
        if (result.outcome == Outcome::Gone) {
            if (!m_services.prompt->ask(this, QStringLiteral("This event no longer exists; another copy of Orvenna "
                                                             "may have deleted it.\r\n"
                                                             "Do you want to save your changes as a new event?")))
                return false; // the window stays open with everything typed
            return insertScheduledEvent();
        }
        if (keepOthersVersion(*m_services.prompt, this, m_connectionString, base, *result.current))
            return true;
        // The user has seen this version and chose to overwrite it, and only it.
        m_opened = result.current;
    }
}

bool frmEventEditor::insertScheduledEvent()
{
    return writeEvent(
        [this](store::Connection &conn) -> Written {
            const statements::EventValues values = valuesFromWindow();
            return {QStringLiteral("Add '%1'").arg(values.title), {{store::Events::insert(conn, values), std::nullopt}}};
        },
        QStringLiteral("An error occured while adding a new record"));
}

bool frmEventEditor::deleteScheduledEvent()
{
    std::optional<store::Event> before;
    const bool deleted = writeEvent(
        [this, &before](store::Connection &conn) -> Written {
            // A row another tool damaged is still deleted, only without undo.
            before = store::Events::removeReturning(conn, m_currentEventId);
            if (!before)
                return {};
            return {QStringLiteral("Delete '%1'").arg(before->values.title), {{m_currentEventId, before}}};
        },
        QStringLiteral("An error occured while deleting the record"));
    if (deleted && !before && m_services.calendar)
        m_services.calendar->tellEvents(QDate(), QDate());
    return deleted;
}

void frmEventEditor::Form_Resize()
{
    const QRect outer = frameGeometry();
    const int w = outer.width();
    const int h = outer.height();
    if (h < m_txtNotes->y() || w < 200)
        return;
    for (QWidget *control : {static_cast<QWidget *>(m_cmbPredefinedEvents), static_cast<QWidget *>(m_txtDescription),
                             static_cast<QWidget *>(m_cmbPOCs), static_cast<QWidget *>(m_txtNotes)}) {
        const int width = w - control->x() - 30;
        if (width >= 0)
            control->resize(width, control->height());
    }
    const int notesHeight = h - m_txtNotes->y() - 40;
    if (notesHeight >= 0)
        m_txtNotes->resize(m_txtNotes->width(), notesHeight);
}

void frmEventEditor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Form_Resize();
    // The caller has prepared the window; what it shows now is what closing compares with.
    if (!m_shownValues)
        m_shownValues = fieldValues();
}

void frmEventEditor::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    Form_Resize();
}
