#pragma once

#include "lists/ListKind.h"
#include "ui/AppServices.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QToolBar;
class TitleLineEdit;

// A window that keeps one reference table: pick an entry from the combo box,
// edit its title in the combo's own text field and its text below, add new
// entries and delete them. Every store step opens and closes its own
// connection. The load handler runs in the constructor.
class frmListManager : public QDialog
{
    Q_OBJECT
public:
    frmListManager(const ListKind &kind, const AppServices &services, QWidget *parent = nullptr);
    ~frmListManager() override;

    // Handlers
    void Form_Load();
    void Form_Resize();
    // An entry was chosen in the list, by the user or by loadList.
    void combo_Click();
    // Dispatches on the button's key: "saveAndClose", "addNewEvent", "deleteRecord".
    void tlbrTop_ButtonClick(const QString &key);

    // Procedures
    void loadList();
    void loadDescription(int id);
    // "Changed by ..." beside the text's caption, the tooltip saying who made it too; hidden when empty.
    void showHistory(const QString &latest, const QString &full);
    // The writes report their own failure and tell whether the row was written.
    bool updateEntry();
    bool insertEntry();
    bool deleteEntry();

    [[nodiscard]] const ListKind &kind() const { return m_kind; }
    [[nodiscard]] QString connectionString() const { return m_connectionString; }
    [[nodiscard]] bool editingExisting() const { return m_editingExisting; }
    [[nodiscard]] int selectedId() const { return m_selectedId; }
    // The entry the title field stands for, or -1 once it was typed over,
    // emptied by Add New, or never chosen.
    [[nodiscard]] int listIndex() const { return m_listIndex; }

    // Changed since the window was filled, an entry chosen, or Add New.
    [[nodiscard]] bool hasUnsavedChanges() const;

public slots:
    // Escape and the close box: asks first when there are unsaved changes.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Runs one write on a connection of its own; a failure is shown under its first line.
    // The change says what it wrote, for the calendar's undo: the verb of
    // the step, the key, and the entry as it was before (none: new).
    struct Written
    {
        QString verb;
        int id = -1;
        std::optional<model::Entry> before;
    };
    bool write(const std::function<Written(store::Connection &)> &change, const QString &failureLine);
    // The entry as stored; none when it is gone or cannot be read.
    [[nodiscard]] std::optional<model::Entry> storedEntry(store::Connection &conn, int id) const;
    void createControls();
    // Opened on a shared calendar the login may only read: the list is shown, never changed.
    [[nodiscard]] bool readOnly() const;
    // Save and Close; true when saved and closed.
    bool saveAndClose();
    [[nodiscard]] QStringList fieldValues() const;
    void markUnchanged();
    void selectEntry(int index);
    [[nodiscard]] QString titleText() const;
    [[nodiscard]] QString descriptionText() const;
    // An entry of the list has the title being added.
    [[nodiscard]] bool titleTaken() const;
    // Events naming the selected entry; 0 when none is selected or the count fails.
    [[nodiscard]] int usesOfSelectedEntry() const;

    const ListKind &m_kind;
    AppServices m_services;
    QString m_connectionString;
    bool m_editingExisting = false;
    int m_selectedId = 0;
    int m_listIndex = -1;
    QStringList m_shownValues; // title and text as last filled by the window itself
    bool m_promptClicked = false; // the focus came with a click on Add New's prompt

    QToolBar *m_tlbrTop = nullptr;
    QLabel *m_label1 = nullptr;
    QComboBox *m_combo = nullptr;
    TitleLineEdit *m_titleEdit = nullptr;
    QLabel *m_label2 = nullptr;
    QPlainTextEdit *m_txtDescription = nullptr;
    QLabel *m_lblChanged = nullptr;
};
