#pragma once

#include "editor/EventConflict.h"
#include "model/Calendar.h"
#include "store/ChangeHistory.h"
#include "ui/AppServices.h"

#include <QDateTime>
#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QPlainTextEdit;
class QTimeEdit;
class QToolBar;

namespace store { class Connection; }

// The "Activity / Drill" editor: creates, edits, deletes and prints one event.
// The load handler runs in the constructor, before the caller prepares it.
class frmEventEditor : public QDialog
{
    Q_OBJECT
public:
    explicit frmEventEditor(const AppServices &services, QWidget *parent = nullptr);
    ~frmEventEditor() override;

    // Fills the window from the stored event and marks it as stored. False,
    // after a message, when the event cannot be read whole; the window is then
    // as it was and is not to be shown.
    bool loadScheduledEvent(int eventId);
    // Replaces the description with the template's; nothing else changes.
    void loadPredefinedEventDetails(int templateId);
    // Values of dtStartDate and dtEndDate (the date is shown and saved).
    void setStartDate(const QDateTime &value);
    void setEndDate(const QDateTime &value);
    // Text of cmbPredefinedEvents.
    void setTitleText(const QString &title);

    // Handlers, named after their controls.
    void Form_Load();
    void Form_Resize();
    void cmbPredefinedEvents_Click();
    void tlbrTop_ButtonClick(const QString &key);

    void loadStaffMembers();
    void loadPredefinedEvents();
    void selectStaffMember(int staffId);
    // Each returns whether its statement ran; a failure has been shown.
    bool updateScheduledEvent();
    bool insertScheduledEvent();
    bool deleteScheduledEvent();

    [[nodiscard]] QString connectionString() const { return m_connectionString; }
    [[nodiscard]] bool isExistingRecord() const { return m_isExistingRecord; }
    [[nodiscard]] int currentEventId() const { return m_currentEventId; }

    // Changed since the window was shown or loaded.
    [[nodiscard]] bool hasUnsavedChanges() const;

public slots:
    // Escape and the close box: asks first when there are unsaved changes.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void createControls();
    void createToolbar();
    // Opened on a shared calendar the login may only read: shown, printed, never saved.
    [[nodiscard]] bool readOnly() const;
    // Save and Close; true when saved and closed.
    bool saveAndClose();
    // Whether to save although the staff member has other events then.
    bool clashesAccepted();
    [[nodiscard]] QStringList fieldValues() const;
    // Who made and who last changed the stored event; none when not known.
    [[nodiscard]] static std::optional<store::RowHistory> readHistory(store::Connection &conn, int eventId);
    void showHistory(const std::optional<store::RowHistory> &history);
    [[nodiscard]] std::optional<int> selectedStaffId() const;
    [[nodiscard]] statements::EventValues valuesFromWindow() const;
    // Runs one write on a connection of its own; on failure shows `failureLine` and the
    // reason and returns false. The write returns what it wrote, each key with
    // the row as it was, and the calendar in use keeps it as an undo step.
    struct Written
    {
        QString step;
        QList<model::Calendar::EventWrite> writes;
    };
    bool writeEvent(const std::function<Written(store::Connection &)> &write, const QString &failureLine);

    AppServices m_services;
    QString m_connectionString;
    bool m_isExistingRecord = false;
    int m_currentEventId = -1;
    // The stored event as loaded, or as last shown in the conflict question; a
    // save is written only over this version.
    std::optional<store::Event> m_opened;
    std::optional<QStringList> m_shownValues; // the fields as first shown or loaded
    // The title list holds the stored event's own entry, not templates.
    bool m_titleListHoldsEvent = false;
    // Set while the title list matches typed text on leaving it; that is not a choice from the list.
    bool m_titleTypedMatch = false;

    QToolBar *m_tlbrTop = nullptr;
    QComboBox *m_cmbPOCs = nullptr;
    QComboBox *m_cmbPredefinedEvents = nullptr;
    QPlainTextEdit *m_txtDescription = nullptr;
    QLabel *m_picture1 = nullptr;
    QDateEdit *m_dtStartDate = nullptr;
    QTimeEdit *m_dtStartTime = nullptr;
    QDateEdit *m_dtEndDate = nullptr;
    QTimeEdit *m_dtEndTime = nullptr;
    QPlainTextEdit *m_txtNotes = nullptr;
    QLabel *m_lblChanged = nullptr;
};
