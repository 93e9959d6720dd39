#include "syncwindows/frmCalendarSync.h"

#include "store/StoreError.h"
#include "sync/CalDavClient.h"
#include "sync/Secrets.h"
#include "syncwindows/SyncBackend.h"
#include "syncwindows/SyncSchedule.h"
#include "ui/Prompt.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

using caldav::DavError;
using caldav::Fault;

namespace {

// What a screen reader calls the control: its label's text without the mnemonic and colon.
template <class W>
W *named(W *widget, const char *objectName, const QString &label)
{
    widget->setObjectName(QLatin1String(objectName));
    QString name = label;
    name.remove(QLatin1Char('&'));
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    widget->setAccessibleName(name);
    return widget;
}

QString nameOf(const caldav::Calendar &c)
{
    if (!c.displayName.trimmed().isEmpty())
        return c.displayName.trimmed();
    const QStringList parts = c.url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.isEmpty() ? c.url.toString() : parts.last();
}

} // namespace

frmCalendarSync::frmCalendarSync(const AppServices &services, SyncBackend &backend, caldav::Secrets &secrets,
                                 const QString &connectionString, const QString &calendarName,
                                 const QHash<int, QString> &staff, const QList<caldav::SyncConflict> &left,
                                 QWidget *parent)
    : QDialog(parent), m_services(services), m_backend(backend), m_secrets(secrets), m_connectionString(connectionString)
{
    setObjectName(QStringLiteral("frmCalendarSync"));
    setWindowTitle(QStringLiteral("Calendar Sync"));
    auto *layout = new QVBoxLayout(this);

    auto *server = new QFormLayout;
    const QString serverLabel = QStringLiteral("&Server address:");
    m_txtServer = named(new QLineEdit(this), "txtServer", serverLabel);
    m_txtServer->setPlaceholderText(QStringLiteral("https://host/... (the server, your principal or the calendar)"));
    server->addRow(serverLabel, m_txtServer);
    const QString userLabel = QStringLiteral("&User name:");
    m_txtUser = named(new QLineEdit(this), "txtUser", userLabel);
    server->addRow(userLabel, m_txtUser);
    const QString passwordLabel = QStringLiteral("&Password:");
    m_txtPassword = named(new QLineEdit(this), "txtPassword", passwordLabel);
    m_txtPassword->setEchoMode(QLineEdit::Password);
    server->addRow(passwordLabel, m_txtPassword);
    layout->addLayout(server);
    auto *note = named(new QLabel(QStringLiteral("Plain http:// is accepted only for this machine (localhost, "
                                                 "127.0.0.1, ::1). The password is kept in the desktop's secret "
                                                 "store, never in a file."),
                                  this),
                       "lblSyncNote", QStringLiteral("Note"));
    note->setWordWrap(true);
    layout->addWidget(note);

    auto *find = new QHBoxLayout;
    m_cmdFind = named(new QPushButton(QStringLiteral("&Find Calendars"), this), "cmdFind",
                      QStringLiteral("Find Calendars"));
    connect(m_cmdFind, &QPushButton::clicked, this, &frmCalendarSync::cmdFind_Click);
    m_cmdTrust = named(new QPushButton(QStringLiteral("&Trust This Certificate"), this), "cmdTrust",
                       QStringLiteral("Trust This Certificate"));
    m_cmdTrust->setVisible(false);
    connect(m_cmdTrust, &QPushButton::clicked, this, &frmCalendarSync::cmdTrust_Click);
    find->addWidget(m_cmdFind);
    find->addWidget(m_cmdTrust);
    find->addStretch(1);
    layout->addLayout(find);
    m_lblMessage = named(new QLabel(this), "lblSyncMessage", QStringLiteral("Message"));
    m_lblMessage->setWordWrap(true);
    m_lblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_lblMessage);

    const QString listLabel = QStringLiteral("&Calendar on the server:");
    auto *lblList = new QLabel(listLabel, this);
    m_lstCalendars = named(new QListWidget(this), "lstCalendars", listLabel);
    lblList->setBuddy(m_lstCalendars);
    layout->addWidget(lblList);
    layout->addWidget(m_lstCalendars);
    auto *create = new QHBoxLayout;
    const QString newLabel = QStringLiteral("&New calendar:");
    auto *lblNew = new QLabel(newLabel, this);
    m_txtNewCalendar = named(new QLineEdit(calendarName, this), "txtNewCalendar", newLabel);
    lblNew->setBuddy(m_txtNewCalendar);
    m_cmdCreate = named(new QPushButton(QStringLiteral("C&reate"), this), "cmdCreate",
                        QStringLiteral("Create the new calendar on the server"));
    m_cmdCreate->setEnabled(false);
    connect(m_cmdCreate, &QPushButton::clicked, this, &frmCalendarSync::cmdCreate_Click);
    create->addWidget(lblNew);
    create->addWidget(m_txtNewCalendar, 1);
    create->addWidget(m_cmdCreate);
    layout->addLayout(create);

    auto *how = new QFormLayout;
    const QString reminderLabel = QStringLiteral("Rem&inder, minutes before:");
    m_spnReminder = named(new QSpinBox(this), "spnReminder", reminderLabel);
    m_spnReminder->setRange(-1, 7 * 24 * 60);
    m_spnReminder->setSpecialValueText(QStringLiteral("none"));
    how->addRow(reminderLabel, m_spnReminder);
    const QString staffLabel = QStringLiteral("Staff &member of phone events naming none:");
    m_cmbStaff = named(new QComboBox(this), "cmbStaff", staffLabel);
    QList<QPair<QString, int>> sorted;
    for (auto it = staff.cbegin(); it != staff.cend(); ++it)
        sorted.append({it.value(), it.key()});
    std::sort(sorted.begin(), sorted.end());
    for (const auto &s : sorted)
        m_cmbStaff->addItem(s.first, s.second);
    how->addRow(staffLabel, m_cmbStaff);
    const QString backLabel = QStringLiteral("Repeating phone events, weeks &back:");
    m_spnWeeksBack = named(new QSpinBox(this), "spnWeeksBack", backLabel);
    m_spnWeeksBack->setRange(0, 520);
    how->addRow(backLabel, m_spnWeeksBack);
    const QString aheadLabel = QStringLiteral("Repeating phone events, weeks &ahead:");
    m_spnWeeksAhead = named(new QSpinBox(this), "spnWeeksAhead", aheadLabel);
    m_spnWeeksAhead->setRange(1, 520);
    how->addRow(aheadLabel, m_spnWeeksAhead);
    const QString everyLabel = QStringLiteral("Sync &every, minutes:");
    m_spnEvery = named(new QSpinBox(this), "spnEvery", everyLabel);
    m_spnEvery->setRange(1, 24 * 60);
    m_spnEvery->setValue(SyncSchedule::savedEveryMinutes());
    how->addRow(everyLabel, m_spnEvery);
    layout->addLayout(how);

    if (!left.isEmpty()) {
        const QString leftLabel = QStringLiteral("Left alone by the last sync, changed on both sides (Sync Now asks "
                                                 "which version to keep):");
        auto *lblLeft = new QLabel(leftLabel, this);
        lblLeft->setWordWrap(true);
        auto *lstLeft = named(new QListWidget(this), "lstConflictsLeft", leftLabel);
        lblLeft->setBuddy(lstLeft);
        for (const caldav::SyncConflict &c : left) {
            const std::optional<store::Event> &e = c.here ? c.here : c.server;
            lstLeft->addItem(e ? QStringLiteral("%1, %2").arg(e->values.title,
                                                              e->start().toString(QStringLiteral("ddd M/d/yyyy HH:mm")))
                               : c.uid);
        }
        layout->addWidget(lblLeft);
        layout->addWidget(lstLeft);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    named(buttons->button(QDialogButtonBox::Ok), "cmdOK", QStringLiteral("OK"));
    named(buttons->button(QDialogButtonBox::Cancel), "cmdCancel", QStringLiteral("Cancel"));
    auto *unbind = named(buttons->addButton(QStringLiteral("Stop S&yncing"), QDialogButtonBox::DestructiveRole),
                         "cmdUnbind", QStringLiteral("Stop Syncing"));
    connect(unbind, &QPushButton::clicked, this, &frmCalendarSync::cmdUnbind_Click);
    connect(buttons, &QDialogButtonBox::accepted, this, &frmCalendarSync::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    std::optional<caldav::Binding> bound;
    try {
        bound = m_backend.binding(m_connectionString);
    } catch (const std::exception &e) {
        say(QStringLiteral("The calendar's sync settings could not be read: ") + QString::fromStdString(e.what()));
    }
    unbind->setVisible(bound.has_value());
    const caldav::Binding settings = bound.value_or(caldav::Binding());
    m_spnReminder->setValue(settings.reminderMinutes < 0 ? -1 : settings.reminderMinutes);
    m_cmbStaff->setCurrentIndex(std::max(0, m_cmbStaff->findData(settings.fallbackStaffId)));
    m_spnWeeksBack->setValue(settings.weeksBack);
    m_spnWeeksAhead->setValue(settings.weeksAhead);
    if (bound) {
        m_txtServer->setText(bound->calendar.toString());
        m_txtUser->setText(bound->user);
        m_trusted = bound->trustedFingerprint;
        auto *item = new QListWidgetItem(nameOf({bound->calendar, QString(), {}, {}, {}}), m_lstCalendars);
        item->setData(Qt::UserRole, bound->calendar);
        item->setToolTip(bound->calendar.toString());
        m_lstCalendars->setCurrentItem(item);
        say(QStringLiteral("This calendar syncs with %1.").arg(bound->calendar.toString()));
    }
}

QString frmCalendarSync::fingerprintText(const QString &hex)
{
    QStringList pairs;
    const QString upper = hex.toUpper();
    for (int i = 0; i + 1 < upper.size(); i += 2)
        pairs << upper.mid(i, 2);
    return pairs.join(QLatin1Char(':'));
}

int frmCalendarSync::everyMinutes() const
{
    return m_spnEvery->value();
}

void frmCalendarSync::say(const QString &text)
{
    m_lblMessage->setText(text);
    m_lblMessage->setAccessibleDescription(text);
}

caldav::Account frmCalendarSync::account() const
{
    caldav::Account a;
    // An address typed without its scheme is a secure one.
    const QString typed = m_txtServer->text().trimmed();
    a.url = QUrl(typed.contains(QLatin1String("://")) ? typed : QStringLiteral("https://") + typed);
    a.user = m_txtUser->text().trimmed();
    a.password = m_txtPassword->text();
    if (a.password.isEmpty())
        a.password = m_secrets.password(a.url, a.user).value_or(QString());
    a.trustedFingerprint = m_trusted;
    return a;
}

std::exception_ptr frmCalendarSync::offThread(const std::function<void()> &work)
{
    std::exception_ptr failure;
    QThread *thread = QThread::create([&work, &failure]() {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    QEventLoop loop;
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    const QList<QWidget *> controls = findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *w : controls)
        w->setEnabled(false);
    setCursor(Qt::BusyCursor);
    thread->start();
    loop.exec();
    thread->wait();
    delete thread;
    unsetCursor();
    for (QWidget *w : controls)
        w->setEnabled(true);
    m_cmdCreate->setEnabled(m_home.isValid());
    return failure;
}

void frmCalendarSync::showFault(const std::exception_ptr &failure)
{
    m_cmdTrust->setVisible(false);
    try {
        std::rethrow_exception(failure);
    } catch (const DavError &e) {
        switch (e.fault()) {
        case Fault::Tls:
            if (e.fingerprint().isEmpty()) {
                say(QStringLiteral("The secure connection to the server failed: ") + e.reason());
                return;
            }
            m_untrusted = e.fingerprint();
            m_cmdTrust->setVisible(true);
            say(QStringLiteral("Refused: this system does not trust the server's certificate. Its SHA-256 "
                               "fingerprint is\n%1\nTrust this one certificate only if it is your server's (ask "
                               "whoever runs it to compare).")
                    .arg(fingerprintText(e.fingerprint())));
            return;
        case Fault::Insecure:
            say(QStringLiteral("Plain http:// is accepted only for this machine (localhost, 127.0.0.1, ::1). Use "
                               "https:// for another server."));
            return;
        case Fault::Unauthorized:
            say(QStringLiteral("The server refused the user name or password."));
            return;
        case Fault::Network:
            say(QStringLiteral("The server cannot be reached: ") + e.reason());
            return;
        case Fault::Timeout:
            say(QStringLiteral("The server did not answer in time."));
            return;
        case Fault::InsufficientStorage:
            say(QStringLiteral("The server is full (507): it stores nothing more until space is freed there."));
            return;
        default:
            say(QStringLiteral("The server could not be asked: ") + e.reason());
            return;
        }
    } catch (const store::StoreError &e) {
        say(QStringLiteral("The calendar could not be read or written: ") + e.description());
    } catch (const std::exception &e) {
        say(QString::fromStdString(e.what()));
    }
}

void frmCalendarSync::cmdFind_Click()
{
    const caldav::Account a = account();
    if (!a.url.isValid() || a.url.host().isEmpty()
        || (a.url.scheme() != QLatin1String("https") && a.url.scheme() != QLatin1String("http"))) {
        say(QStringLiteral("Enter the server's address, https://host/... (the server, your principal or the "
                           "calendar itself)."));
        return;
    }
    caldav::Discovery found;
    const std::exception_ptr failure = offThread([&a, &found]() {
        caldav::CalDavClient client(a);
        found = client.discover();
    });
    m_lstCalendars->clear();
    m_home = found.home;
    m_cmdCreate->setEnabled(m_home.isValid());
    if (failure) {
        showFault(failure);
        return;
    }
    m_cmdTrust->setVisible(false);
    for (const caldav::Calendar &c : found.calendars) {
        auto *item = new QListWidgetItem(nameOf(c), m_lstCalendars);
        item->setData(Qt::UserRole, c.url);
        item->setToolTip(c.url.toString());
    }
    if (m_lstCalendars->count() > 0)
        m_lstCalendars->setCurrentRow(0);
    if (found.calendars.isEmpty())
        say(m_home.isValid() ? QStringLiteral("The server holds no calendar for events here yet: create one.")
                             : QStringLiteral("The server holds no calendar for events here."));
    else
        say(found.calendars.size() == 1 ? QStringLiteral("1 calendar found: pick it, or create another.")
                                        : QStringLiteral("%1 calendars found: pick one, or create another.")
                                              .arg(found.calendars.size()));
}

void frmCalendarSync::cmdTrust_Click()
{
    if (m_untrusted.isEmpty())
        return;
    m_trusted = m_untrusted;
    m_untrusted.clear();
    cmdFind_Click();
}

void frmCalendarSync::cmdCreate_Click()
{
    const QString name = m_txtNewCalendar->text().trimmed();
    if (!m_home.isValid())
        return;
    if (name.isEmpty()) {
        say(QStringLiteral("Enter a name for the new calendar."));
        return;
    }
    const caldav::Account a = account();
    const QUrl home = m_home;
    caldav::Calendar made;
    const std::exception_ptr failure = offThread([&a, &home, &name, &made]() {
        caldav::CalDavClient client(a);
        made = client.makeCalendar(home, name);
    });
    if (failure) {
        showFault(failure);
        return;
    }
    if (made.displayName.isEmpty())
        made.displayName = name;
    auto *item = new QListWidgetItem(nameOf(made), m_lstCalendars);
    item->setData(Qt::UserRole, made.url);
    item->setToolTip(made.url.toString());
    m_lstCalendars->setCurrentItem(item);
    say(QStringLiteral("Made the calendar %1 on the server.").arg(nameOf(made)));
}

void frmCalendarSync::cmdUnbind_Click()
{
    if (!m_services.prompt->ask(this, QStringLiteral("Stop syncing this calendar with the server? The events stay "
                                                     "on both sides.")))
        return;
    try {
        m_backend.unbind(m_connectionString);
    } catch (...) {
        showFault(std::current_exception());
        return;
    }
    m_unbound = true;
    QDialog::reject();
}

void frmCalendarSync::accept()
{
    QListWidgetItem *picked = m_lstCalendars->currentItem();
    if (!picked) {
        say(QStringLiteral("Pick a calendar on the server, or create one: choose Find Calendars first."));
        return;
    }
    const caldav::Account a = account();
    caldav::Binding b;
    b.calendar = picked->data(Qt::UserRole).toUrl();
    b.user = a.user;
    b.trustedFingerprint = m_trusted;
    b.reminderMinutes = m_spnReminder->value();
    b.fallbackStaffId = m_cmbStaff->currentIndex() < 0 ? -1 : m_cmbStaff->currentData().toInt();
    b.weeksBack = m_spnWeeksBack->value();
    b.weeksAhead = m_spnWeeksAhead->value();
    try {
        m_backend.bind(m_connectionString, b);
    } catch (...) {
        showFault(std::current_exception());
        return;
    }
    if (!m_txtPassword->text().isEmpty())
        m_secrets.setPassword(b.calendar, b.user, m_txtPassword->text());
    SyncSchedule::saveEveryMinutes(m_spnEvery->value());
    m_binding = b;
    QDialog::accept();
}

frmSyncPassword::frmSyncPassword(const QString &question, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSyncPassword"));
    setWindowTitle(QStringLiteral("Calendar Sync"));
    auto *layout = new QVBoxLayout(this);
    auto *label = named(new QLabel(question, this), "lblPasswordWhy", question);
    label->setWordWrap(true);
    layout->addWidget(label);
    m_txtPassword = named(new QLineEdit(this), "txtPassword", QStringLiteral("Password"));
    m_txtPassword->setEchoMode(QLineEdit::Password);
    label->setBuddy(m_txtPassword);
    layout->addWidget(m_txtPassword);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    named(buttons->button(QDialogButtonBox::Ok), "cmdOK", QStringLiteral("OK"));
    named(buttons->button(QDialogButtonBox::Cancel), "cmdCancel", QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString frmSyncPassword::password() const
{
    return m_txtPassword->text();
}
