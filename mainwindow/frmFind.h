#pragma once

#include <QDateTime>
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;

// Edit > Find: the events whose texts or staff member hold the words typed,
// newest first, following the typing after a short pause. Return or a double
// click on a result closes the window with that event chosen.
class frmFind : public QDialog
{
    Q_OBJECT
public:
    // The most results shown; more say so.
    static constexpr int kShown = 200;
    // The pause after a key before the search runs.
    static constexpr int kPauseMs = 250;

    explicit frmFind(const QString &connectionString, QWidget *parent = nullptr);

    // The event chosen when the window was accepted; -1 for none.
    [[nodiscard]] int chosenEventId() const { return m_chosenId; }
    [[nodiscard]] QDateTime chosenStart() const { return m_chosenStart; }

    // Runs the search for the words in the field now.
    void search();
    // The words in the field; set, they are searched at once and selected, so
    // typing replaces them, and the event chosen last is chosen again.
    [[nodiscard]] QString words() const;
    void setWords(const QString &words, int chosenEventId = -1);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void choose();

    QString m_connectionString;
    QLineEdit *m_txtFind = nullptr;
    QTreeWidget *m_lvResults = nullptr;
    QLabel *m_lblFound = nullptr;
    QPushButton *m_cmdShow = nullptr;
    QTimer *m_searchLater = nullptr;
    int m_chosenId = -1;
    QDateTime m_chosenStart;
};
