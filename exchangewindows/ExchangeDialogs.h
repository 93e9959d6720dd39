#pragma once

#include "exchange/CalendarFile.h"
#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"
#include "ui/AppServices.h"

#include <QDialog>
#include <QMap>

#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QRadioButton;

// Picks a file and a range of days for "Export Calendar..." and "Import
// Calendar..."; it reads and writes nothing itself.
class frmCalendarFile : public QDialog
{
    Q_OBJECT
public:
    enum class Mode { Export, Import };
    enum class Range { ThisWeek, ThisMonth, FromTo, All };

    // `shownFirst` is the first of the seven shown days.
    frmCalendarFile(const AppServices &services, Mode mode, const QDate &shownFirst, QWidget *parent = nullptr);

    void setRange(Range range);
    void setFromTo(const QDate &first, const QDate &last);
    void setFileName(const QString &path);
    [[nodiscard]] QString fileName() const;
    // None for "All".
    [[nodiscard]] std::optional<exchange::DayRange> range() const;

    // The file picker, through the modal seam.
    void cmdBrowse_Click();

private:
    AppServices m_services;
    Mode m_mode;
    QDate m_shownFirst;
    QRadioButton *m_optWeek = nullptr;
    QRadioButton *m_optMonth = nullptr;
    QRadioButton *m_optFromTo = nullptr;
    QRadioButton *m_optAll = nullptr;
    QDateEdit *m_dtFrom = nullptr;
    QDateEdit *m_dtTo = nullptr;
    QLineEdit *m_txtFile = nullptr;
};

// Picks one staff member, or (when offered) every one of them (key 0).
class frmStaffPick : public QDialog
{
    Q_OBJECT
public:
    frmStaffPick(const QString &question, const QMap<QString, int> &staff, bool offerAll, QWidget *parent = nullptr);

    void selectStaff(int staffId);
    [[nodiscard]] int staffId() const;
    [[nodiscard]] QString staffName() const;

private:
    QComboBox *m_cmbPOC = nullptr;
};

// Reads and expands the file on a thread of its own, with a progress window
// whose Cancel stops it; the window stays usable meanwhile. Nothing here
// touches the store, whose connection belongs to the window's thread.
[[nodiscard]] CalendarFileRead readCalendarFile(QWidget *parent, const QString &path, const exchange::DayRange &range);
