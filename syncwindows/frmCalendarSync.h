#pragma once

#include "sync/SyncEngine.h"
#include "ui/AppServices.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QUrl>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class SyncBackend;
namespace caldav { class Secrets; }

// File > "Calendar Sync...": binds the calendar in use to a calendar on a
// CalDAV server, found from the server's address or made there, and sets how
// it syncs. The talking to the server runs on a thread of its own.
class frmCalendarSync : public QDialog
{
    Q_OBJECT
public:
    // `calendarName` names a calendar made on the server; `staff` by key;
    // `left`: what the last sync left alone.
    frmCalendarSync(const AppServices &services, SyncBackend &backend, caldav::Secrets &secrets,
                    const QString &connectionString, const QString &calendarName, const QHash<int, QString> &staff,
                    const QList<caldav::SyncConflict> &left, QWidget *parent = nullptr);

    // Asks the server for its calendars.
    void cmdFind_Click();
    // Trusts the one certificate the server showed last, then asks again.
    void cmdTrust_Click();
    // Makes a calendar on the server, named as typed.
    void cmdCreate_Click();
    void cmdUnbind_Click();
    // Binds, and closes once bound.
    void accept() override;

    [[nodiscard]] caldav::Binding binding() const { return m_binding; }
    [[nodiscard]] bool unbound() const { return m_unbound; }
    [[nodiscard]] int everyMinutes() const;

    // "AB:CD:..." as a person compares it with another program's.
    [[nodiscard]] static QString fingerprintText(const QString &hex);

private:
    [[nodiscard]] caldav::Account account() const;
    void showFault(const std::exception_ptr &failure);
    // Runs `work` on a thread of its own while the dialog waits, usable but for its controls.
    std::exception_ptr offThread(const std::function<void()> &work);
    void say(const QString &text);

    AppServices m_services;
    SyncBackend &m_backend;
    caldav::Secrets &m_secrets;
    QString m_connectionString;
    caldav::Binding m_binding;
    bool m_unbound = false;
    QString m_trusted;     // the fingerprint the person trusts
    QString m_untrusted;   // the one the server showed last
    QUrl m_home;           // where a new calendar goes

    QLineEdit *m_txtServer = nullptr;
    QLineEdit *m_txtUser = nullptr;
    QLineEdit *m_txtPassword = nullptr;
    QPushButton *m_cmdFind = nullptr;
    QLabel *m_lblMessage = nullptr;
    QPushButton *m_cmdTrust = nullptr;
    QListWidget *m_lstCalendars = nullptr;
    QLineEdit *m_txtNewCalendar = nullptr;
    QPushButton *m_cmdCreate = nullptr;
    QSpinBox *m_spnReminder = nullptr;
    QComboBox *m_cmbStaff = nullptr;
    QSpinBox *m_spnWeeksBack = nullptr;
    QSpinBox *m_spnWeeksAhead = nullptr;
    QSpinBox *m_spnEvery = nullptr;
};

// Asks for a password, never showing it.
class frmSyncPassword : public QDialog
{
    Q_OBJECT
public:
    explicit frmSyncPassword(const QString &question, QWidget *parent = nullptr);
    [[nodiscard]] QString password() const;

private:
    QLineEdit *m_txtPassword = nullptr;
};
