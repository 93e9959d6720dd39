#include "mainwindow/SyncCommands.h"
#include "mainwindow/frmEventsMain.h"
#include "model/Calendar.h"
#include "store/ConnectionString.h"
#include "store/StoreError.h"
#include "sync/Secrets.h"
#include "syncwindows/SyncBackend.h"
#include "syncwindows/SyncSchedule.h"
#include "syncwindows/frmCalendarSync.h"
#include "ui/Regional.h"
#include "support/DavServers.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"
#include "support/TestMainWindow.h"
#include "support/TestMain.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSemaphore>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUuid>

#include <atomic>
#include <mutex>

using caldav::Account;
using caldav::Binding;
using caldav::ConflictChooser;
using caldav::DavError;
using caldav::Fault;
using caldav::SyncOutcome;

Q_DECLARE_METATYPE(caldav::Fault)

namespace {

// The sync core as the windows see it; a run does what the test says, on the worker thread.
class FakeBackend : public SyncBackend
{
public:
    using Run = std::function<SyncOutcome(const Account &, ConflictChooser *, const std::function<bool(int, int)> &)>;

    std::optional<Binding> binding(const QString &) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (unreadable)
            throw store::StoreError(store::StoreError::Reason::Locked, "eventDB.mdb", "database is locked");
        return bound;
    }
    void bind(const QString &, const Binding &b) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bound = b;
    }
    void unbind(const QString &) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bound.reset();
    }
    SyncOutcome run(const QString &, const Account &account, ConflictChooser *chooser,
                    const std::function<bool(int, int)> &progress) override
    {
        const int now = ++active;
        for (int seen = maxActive; now > seen && !maxActive.compare_exchange_weak(seen, now);) {
        }
        Run what;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            accounts << account;
            what = onRun.isEmpty() ? Run() : onRun.takeFirst();
        }
        struct Leaving
        {
            FakeBackend &b;
            ~Leaving()
            {
                --b.active;
                ++b.runs;
            }
        } leaving{*this};
        if (what)
            return what(account, chooser, progress);
        SyncOutcome o;
        o.finished = QDateTime::currentDateTimeUtc();
        return o;
    }
    QList<Account> accountsSeen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return accounts;
    }
    void then(const Run &run)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        onRun << run;
    }

    std::optional<Binding> bound;
    bool unreadable = false;
    QList<Run> onRun; // one per run, in order; none left: nothing to do
    QList<Account> accounts;
    std::atomic<int> runs{0}, active{0}, maxActive{0};

private:
    std::mutex m_mutex;
};

class MemorySecrets : public caldav::Secrets
{
public:
    std::optional<QString> password(const QUrl &server, const QString &user) override
    {
        const QString key = serverKey(server) + '\n' + user;
        return kept.contains(key) ? std::optional<QString>(kept.value(key)) : std::nullopt;
    }
    void setPassword(const QUrl &server, const QString &user, const QString &password) override
    {
        kept.insert(serverKey(server) + '\n' + user, password);
    }
    void forget(const QUrl &server, const QString &user) override { kept.remove(serverKey(server) + '\n' + user); }
    QString unavailable() const override { return QString(); }
    QHash<QString, QString> kept;
};

const QDateTime kShown(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);

Binding boundTo(const QString &url = QStringLiteral("https://dav.example.org/coach/plan/"))
{
    Binding b;
    b.calendar = QUrl(url);
    b.user = QStringLiteral("coach");
    return b;
}

// Bound to a server calendar whose password the secret store knows.
void bindKnowingPassword(FakeBackend &fake, MemorySecrets &secrets, const char *password = "pitch")
{
    fake.bound = boundTo();
    secrets.setPassword(fake.bound->calendar, "coach", QString::fromLatin1(password));
}

// The main window over the test's database, its sync through `fake`.
struct Window
{
    Window(TestDatabase &db, FakeBackend &fake, caldav::Secrets *secrets) : main(withSync(db, fake, secrets))
    {
        main.Form_Load();
        main.mView_DateClick(kShown);
        // The first sync after opening is no concern here; each test starts its own.
        timer("syncAfterChange")->stop();
    }
    static AppServices withSync(TestDatabase &db, FakeBackend &fake, caldav::Secrets *secrets)
    {
        db.services.sync = &fake;
        db.services.secrets = secrets;
        return db.services;
    }
    QTimer *timer(const char *name) { return main.findChild<QTimer *>(name); }
    void trigger(const QString &name)
    {
        auto *action = main.findChild<QAction *>(name);
        QVERIFY2(action, qPrintable(name));
        action->trigger();
    }
    SyncSchedule &schedule() { return *main.findChild<SyncSchedule *>(); }
    QString status() { return main.findChild<QLabel *>("lblSyncStatus")->text(); }
    TestMainWindow main;
};

template <class W>
W *control(QWidget &parent, const char *name)
{
    auto *w = parent.findChild<W *>(name);
    if (!w)
        qWarning("no control %s", name);
    return w;
}

void type(QWidget &dialog, const char *name, const QString &text)
{
    auto *edit = control<QLineEdit>(dialog, name);
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void click(QWidget &dialog, const char *name)
{
    QTest::mouseClick(control<QPushButton>(dialog, name), Qt::LeftButton);
}

QStringList listed(QWidget &dialog)
{
    QStringList out;
    auto *list = control<QListWidget>(dialog, "lstCalendars");
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

} // namespace

class tst_CalendarSync : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void dialogFindsPicksAndCreates_data();
    void dialogFindsPicksAndCreates();
    void dialogRefuses_data();
    void dialogRefuses();
    void controlsAreNamed();
    void afterLocalChanges();
    void oneRunAtATime();
    void syncNowShortcut();
    void statusAndFaults_data();
    void statusAndFaults();
    void unreadableCalendar();
    void wrongPasswordAskedAgain();
    void calendarGoneOffersAnother();
    void conflictAskedOnWindowThread();
    void closedWhileAsking();
    void cancelStopsTheRun();
    void secretStoreFallback();
    void desktopSecretStore();

private:
    QMap<QString, QString> m_servers;
    QTemporaryDir m_config;
};

void tst_CalendarSync::initTestCase()
{
    m_servers = davServers();
    QVERIFY2(m_servers.contains("RADICALE_URL"), "no test servers: run through ctest (davservers fixture)");
    // The settings of this run only.
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    // No secret service, but where keyring.sh runs one: the desktop's store says why.
    if (!qEnvironmentVariableIsSet("ORVENNA_TEST_KEYRING"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=") + QFile::encodeName(m_config.path()) + "/no-bus");
}

void tst_CalendarSync::init()
{
    QFile::remove(store::settingsFilePath());
}

void tst_CalendarSync::dialogFindsPicksAndCreates_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("login");
    QTest::addColumn<bool>("selfSigned");
    // Typed without its scheme, an address is a secure one.
    QTest::newRow("Radicale, TLS, login, typed without https://") << "RADICALE" << true << true;
    QTest::newRow("Xandikos, http on 127.0.0.1") << "XANDIKOS" << false << false;
}

void tst_CalendarSync::dialogFindsPicksAndCreates()
{
    QFETCH(QString, server);
    QFETCH(bool, login);
    QFETCH(bool, selfSigned);
    TestDatabase db;
    db.addStaff("Ann Keeper", "");
    const int jo = db.addStaff("Jo Winger", "");
    FakeBackend fake;
    MemorySecrets secrets;
    Window w(db, fake, &secrets);
    const QString url = m_servers.value(server + "_URL");
    const QString user = login ? m_servers.value("DAV_USER") : QString();
    const QString password = login ? m_servers.value("DAV_PASSWORD") : QString();
    const QString name = "Plan " + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    QString shownFingerprint;
    QStringList before, after;
    db.modal().steps.enqueue([&](QDialog &dialog) {
        type(dialog, "txtServer", selfSigned ? url.mid(QString("https://").size()) : url);
        type(dialog, "txtUser", user);
        type(dialog, "txtPassword", password);
        click(dialog, "cmdFind");
        auto *trust = control<QPushButton>(dialog, "cmdTrust");
        QCOMPARE(trust->isVisibleTo(&dialog), selfSigned);
        if (selfSigned) {
            shownFingerprint = control<QLabel>(dialog, "lblSyncMessage")->text();
            QVERIFY(listed(dialog).isEmpty());
            click(dialog, "cmdTrust");
            QVERIFY(!trust->isVisibleTo(&dialog));
        }
        before = listed(dialog);
        QVERIFY2(control<QPushButton>(dialog, "cmdCreate")->isEnabled(), qPrintable(control<QLabel>(dialog, "lblSyncMessage")->text()));
        type(dialog, "txtNewCalendar", name);
        click(dialog, "cmdCreate");
        QCOMPARE(control<QListWidget>(dialog, "lstCalendars")->currentItem()->text(), name);
        // Asked again, the server lists it by its name.
        click(dialog, "cmdFind");
        after = listed(dialog);
        auto *list = control<QListWidget>(dialog, "lstCalendars");
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).value(0));
        QSpinBox *reminder = control<QSpinBox>(dialog, "spnReminder");
        reminder->setFocus();
        QTest::keyClick(reminder, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(reminder, "30");
        auto *staff = control<QComboBox>(dialog, "cmbStaff");
        staff->setCurrentIndex(staff->findText("Jo Winger"));
        click(dialog, "cmdOK");
    });
    w.trigger("mnuCalendarSync");

    if (selfSigned)
        QVERIFY2(shownFingerprint.contains(frmCalendarSync::fingerprintText(m_servers.value("RADICALE_FINGERPRINT"))),
                 qPrintable(shownFingerprint));
    QVERIFY2(!before.contains(name), qPrintable(before.join(", ")));
    QVERIFY2(after.contains(name), qPrintable(after.join(", ")));
    QVERIFY(fake.bound);
    QCOMPARE(fake.bound->calendar.scheme() + "://" + fake.bound->calendar.authority() + "/", url);
    QVERIFY(fake.bound->calendar.path().endsWith('/'));
    QCOMPARE(fake.bound->user, user);
    QCOMPARE(fake.bound->trustedFingerprint, selfSigned ? m_servers.value("RADICALE_FINGERPRINT") : QString());
    QCOMPARE(fake.bound->reminderMinutes, 30);
    QCOMPARE(fake.bound->fallbackStaffId, jo);
    QCOMPARE(fake.bound->weeksBack, 8);
    QCOMPARE(fake.bound->weeksAhead, 52);
    // The password is in the secret store, and nowhere in the settings.
    QCOMPARE(secrets.password(fake.bound->calendar, user).value_or("<none>"), login ? password : "<none>");
    QFile settings(store::settingsFilePath());
    if (login && settings.open(QIODevice::ReadOnly))
        QVERIFY(!settings.readAll().contains(password.toUtf8()));
    // The first sync follows at once, with what the dialog gave.
    QTRY_COMPARE(fake.runs.load(), 1);
    QCOMPARE(fake.accountsSeen().value(0).password, password);
    QCOMPARE(fake.accountsSeen().value(0).trustedFingerprint, fake.bound->trustedFingerprint);
}

void tst_CalendarSync::dialogRefuses_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::newRow("http to another machine") << "http://dav.example.org/" << "x"
                                             << "Plain http:// is accepted only for this machine";
    QTest::newRow("http to a LAN address") << "http://192.168.1.20:5232/" << "x"
                                           << "Plain http:// is accepted only for this machine";
    QTest::newRow("no address") << "ftp://dav.example.org/" << "x" << "Enter the server's address";
    QTest::newRow("nothing typed") << "" << "x" << "Enter the server's address";
    QTest::newRow("wrong password") << "RADICALE" << "wrong" << "The server refused the user name or password.";
    QTest::newRow("nothing listening") << "http://127.0.0.1:1/" << "x" << "The server cannot be reached";
}

void tst_CalendarSync::dialogRefuses()
{
    QFETCH(QString, url);
    QFETCH(QString, password);
    QFETCH(QString, message);
    const bool radicale = url == "RADICALE";
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    Window w(db, fake, &secrets);
    QString said;
    QStringList found;
    db.modal().steps.enqueue([&](QDialog &dialog) {
        type(dialog, "txtServer", radicale ? m_servers.value("RADICALE_URL") : url);
        type(dialog, "txtUser", m_servers.value("DAV_USER"));
        type(dialog, "txtPassword", password);
        if (radicale) {
            click(dialog, "cmdFind");
            click(dialog, "cmdTrust");
        } else {
            click(dialog, "cmdFind");
        }
        said = control<QLabel>(dialog, "lblSyncMessage")->text();
        found = listed(dialog);
        click(dialog, "cmdOK"); // nothing picked: stays open
        QVERIFY(dialog.isVisible());
    });
    w.trigger("mnuCalendarSync");
    QVERIFY2(said.startsWith(message), qPrintable(said));
    QVERIFY(found.isEmpty());
    QVERIFY(!fake.bound);
    QVERIFY(secrets.kept.isEmpty());
}

void tst_CalendarSync::controlsAreNamed()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    Window w(db, fake, &secrets);
    // An unattended run leaves an event changed on both sides alone; the dialog lists it.
    fake.then([](const Account &, ConflictChooser *chooser, const std::function<bool(int, int)> &) {
        store::Event e;
        e.values.title = "Rondo";
        e.values.startDate = e.values.endDate = QDate(2026, 12, 9);
        e.values.startTime = QTime(9, 0);
        e.values.endTime = QTime(10, 0);
        SyncOutcome o;
        if (!chooser)
            o.left << caldav::SyncConflict{"u1", e, e};
        return o;
    });
    w.schedule().start(SyncSchedule::Trigger::Timer);
    QTRY_COMPARE(fake.runs.load(), 1);
    QTRY_VERIFY(!w.schedule().running());
    QStringList unnamed, leftListed, keys;
    QString server;
    db.modal().steps.enqueue([&](QDialog &dialog) {
        server = control<QLineEdit>(dialog, "txtServer")->text();
        // Each Alt key reaches one control: two alike only move the focus between them.
        for (QWidget *c : dialog.findChildren<QWidget *>()) {
            const QString text = c->inherits("QLabel") ? static_cast<QLabel *>(c)->text()
                : c->inherits("QAbstractButton")       ? static_cast<QAbstractButton *>(c)->text()
                                                       : QString();
            const qsizetype amp = text.indexOf('&');
            if (amp >= 0 && amp + 1 < text.size())
                keys << text.mid(amp + 1, 1).toLower();
        }
        auto *left = control<QListWidget>(dialog, "lstConflictsLeft");
        for (int i = 0; left && i < left->count(); ++i)
            leftListed << left->item(i)->text();
        for (QWidget *c : dialog.findChildren<QWidget *>()) {
            if (!c->focusPolicy() || c->inherits("QLabel") || c->objectName().startsWith("qt_"))
                continue;
            if (c->parentWidget() && c->parentWidget()->inherits("QAbstractSpinBox"))
                continue; // the spin box's own line edit
            if (c->parentWidget() && c->parentWidget()->inherits("QComboBox"))
                continue;
            if (c->objectName().isEmpty() || c->accessibleName().isEmpty())
                unnamed << QString("%1 '%2'").arg(c->metaObject()->className(), c->objectName());
        }
    });
    w.trigger("mnuCalendarSync");
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
    QVERIFY(keys.size() > 10);
    QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    QCOMPARE(leftListed, QStringList{"Rondo, Wed 12/9/2026 09:00"});
    // A bound calendar shows where it syncs.
    QCOMPARE(server, fake.bound->calendar.toString());
}

void tst_CalendarSync::afterLocalChanges()
{
    TestDatabase db;
    const int staff = db.addStaff("Ann Keeper", "");
    const int first = db.addEvent("Warm-up", kShown, kShown.addSecs(3600), staff);
    const int second = db.addEvent("Rondo", kShown.addSecs(7200), kShown.addSecs(9000), staff);
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    Window w(db, fake, &secrets);
    w.timer("syncAfterChange")->setInterval(100);
    // Two deletions in a row go out in one run, a moment after the last.
    w.main.choose = "mnuPopDeleteAppointment";
    w.main.ctlDayDetail_RightMouseClick(3, first);
    QVERIFY(w.timer("syncAfterChange")->isActive());
    w.main.ctlDayDetail_RightMouseClick(3, second);
    QCOMPARE(db.count("tblScheduledEvents"), 0);
    QTRY_COMPARE(fake.runs.load(), 1);
    QCOMPARE(fake.accountsSeen().value(0).password, QString("pitch"));
    QVERIFY(!w.timer("syncAfterChange")->isActive());
    // What a run brings in is shown, and is no change to send back.
    fake.then([](const Account &, ConflictChooser *, const std::function<bool(int, int)> &) {
        SyncOutcome o;
        o.received = 1;
        return o;
    });
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.runs.load(), 2);
    QTRY_VERIFY(w.status().startsWith("Synced at"));
    QVERIFY(!w.timer("syncAfterChange")->isActive());
    // A staff member renamed here renames the events' contact: that goes out too.
    w.main.calendar()->tellStaff();
    QTRY_COMPARE(fake.runs.load(), 3);
    // Every few minutes while the program runs.
    QCOMPARE(w.timer("syncEvery")->interval(), 5 * 60 * 1000);
    QVERIFY(w.timer("syncEvery")->isActive());
    w.timer("syncEvery")->setInterval(50);
    QTRY_VERIFY(fake.runs.load() >= 5);
}

void tst_CalendarSync::oneRunAtATime()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    Window w(db, fake, &secrets);
    QSemaphore go;
    auto held = [&go](const Account &, ConflictChooser *, const std::function<bool(int, int)> &) {
        go.acquire();
        return SyncOutcome();
    };
    fake.then(held);
    fake.then(held);
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.active.load(), 1);
    QVERIFY(w.main.findChild<QToolButton *>("cmdCancelSync")->isVisibleTo(&w.main));
    // Asked again while it runs: one more run afterwards, not two at once.
    w.trigger("mnuSyncNow");
    w.schedule().start(SyncSchedule::Trigger::Change);
    w.schedule().start(SyncSchedule::Trigger::Timer);
    go.release();
    QTRY_COMPARE(fake.runs.load(), 1);
    QTRY_COMPARE(fake.active.load(), 1);
    go.release();
    QTRY_COMPARE(fake.runs.load(), 2);
    QTRY_VERIFY(!w.schedule().running());
    QCOMPARE(fake.maxActive.load(), 1);
    QCOMPARE(fake.runs.load(), 2);
    QVERIFY(!w.main.findChild<QToolButton *>("cmdCancelSync")->isVisibleTo(&w.main));
}

void tst_CalendarSync::syncNowShortcut()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    Window w(db, fake, &secrets);
    w.main.show();
    w.main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.main));
    // Not bound yet: said so, nothing runs.
    QTest::keyClick(&w.main, Qt::Key_F9);
    QCOMPARE(db.prompt().texts().value(0).left(47), QString("This calendar is not synced with a server calen"));
    bindKnowingPassword(fake, secrets);
    QTest::keyClick(&w.main, Qt::Key_F9);
    QTRY_COMPARE(fake.runs.load(), 1);
}

void tst_CalendarSync::statusAndFaults_data()
{
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("changes") << -1 << "Synced at HH:MM:SS: 3 sent, 2 received, 1 deleted on the server" << "";
    QTest::newRow("nothing") << -2 << "Synced at HH:MM:SS: nothing changed" << "";
    QTest::newRow("conflicts left") << -3
                                    << "Synced at HH:MM:SS: nothing changed; 2 events changed on both sides were left "
                                       "alone (Sync Now asks which version to keep)"
                                    << "";
    QTest::newRow("network") << int(Fault::Network)
                             << "Sync failed at HH:MM:SS: the server cannot be reached (Connection refused). The next sync tries again."
                             << "The calendar was not synced: the server cannot be reached (Connection refused). The next sync tries again.";
    QTest::newRow("timeout") << int(Fault::Timeout)
                             << "Sync failed at HH:MM:SS: the server did not answer in time. The next sync tries again."
                             << "The calendar was not synced: the server did not answer in time. The next sync tries again.";
    QTest::newRow("full") << int(Fault::InsufficientStorage)
                          << "Sync failed at HH:MM:SS: the server is full (507): it stores nothing more until space is freed there."
                          << "The calendar was not synced: the server is full (507): it stores nothing more until space is freed there.";
    QTest::newRow("forbidden") << int(Fault::Forbidden)
                               << "Sync failed at HH:MM:SS: the server does not allow coach to change this calendar (403)."
                               << "The calendar was not synced: the server does not allow coach to change this calendar (403).";
    QTest::newRow("certificate changed")
        << int(Fault::Tls)
        << "Sync failed at HH:MM:SS: the server's certificate has changed and is not trusted; its SHA-256 fingerprint is "
           "AB:CD:EF:01. Nothing was synced. If you trust it, trust it in File > Calendar Sync..."
        << "The calendar was not synced: the server's certificate has changed and is not trusted; its SHA-256 "
           "fingerprint is AB:CD:EF:01. Nothing was synced. If you trust it, trust it in File > Calendar Sync...";
    QTest::newRow("garbage") << int(Fault::BadAnswer)
                             << "Sync failed at HH:MM:SS: the server's answer could not be read (not XML); nothing was changed."
                             << "The calendar was not synced: the server's answer could not be read (not XML); nothing was changed.";
}

void tst_CalendarSync::statusAndFaults()
{
    QFETCH(int, fault);
    QFETCH(QString, status);
    QFETCH(QString, message);
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    Window w(db, fake, &secrets);
    auto outcome = [fault](const Account &, ConflictChooser *, const std::function<bool(int, int)> &) {
        SyncOutcome o;
        o.finished = QDateTime::currentDateTimeUtc();
        if (fault == -1) {
            o.sent = 3;
            o.received = 2;
            o.deletedThere = 1;
        } else if (fault == -3) {
            o.left = {caldav::SyncConflict{"a", std::nullopt, std::nullopt}, caldav::SyncConflict{"b", std::nullopt, std::nullopt}};
        } else if (fault >= 0) {
            const QString reason = fault == int(Fault::Network) ? "Connection refused" : "not XML";
            throw DavError(Fault(fault), reason).withFingerprint("abcdef01");
        }
        return o;
    };
    // Unattended: the status line alone says it.
    fake.then(outcome);
    w.schedule().start(SyncSchedule::Trigger::Timer);
    QTRY_COMPARE(fake.runs.load(), 1);
    QTRY_VERIFY(!w.schedule().running());
    const QRegularExpression clock("\\d\\d:\\d\\d:\\d\\d");
    QCOMPARE(w.status().replace(clock, "HH:MM:SS"), status);
    const bool mendsNot = fault == int(Fault::Tls) || fault == int(Fault::Forbidden);
    // A fault no sync mends by itself is told once; the others only in the status line.
    QCOMPARE(db.prompt().texts(), mendsNot ? QStringList{message} : QStringList{});
    // Asked for by a person, a fault is told in a message too.
    db.prompt().shown.clear();
    fake.then(outcome);
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.runs.load(), 2);
    QTRY_VERIFY(!w.schedule().running());
    QCOMPARE(db.prompt().texts(), message.isEmpty() ? QStringList{} : QStringList{message});
    // After such a fault the schedule waits for a person.
    w.schedule().start(SyncSchedule::Trigger::Timer);
    QCOMPARE(w.schedule().running(), !mendsNot);
    QTRY_VERIFY(!w.schedule().running());
    QCOMPARE(fake.runs.load(), mendsNot ? 2 : 3);
}

void tst_CalendarSync::unreadableCalendar()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    fake.unreadable = true;
    Window w(db, fake, &secrets);
    // Unasked, it is tried again later without a word.
    w.schedule().start(SyncSchedule::Trigger::Timer);
    QVERIFY(!w.schedule().running());
    QCOMPARE(w.status(), QString());
    QVERIFY(db.prompt().texts().isEmpty());
    w.trigger("mnuSyncNow");
    QVERIFY(!w.schedule().running());
    const QString reason = "the calendar could not be read: "
        + store::StoreError(store::StoreError::Reason::Locked, "eventDB.mdb", "database is locked").description();
    QCOMPARE(db.prompt().texts(), QStringList{"The calendar was not synced: " + reason});
    QCOMPARE(w.status().replace(QRegularExpression("\\d\\d:\\d\\d:\\d\\d"), "HH:MM:SS"), "Sync failed at HH:MM:SS: " + reason);
    QCOMPARE(fake.runs.load(), 0);
}

void tst_CalendarSync::wrongPasswordAskedAgain()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets, "old");
    Window w(db, fake, &secrets);
    auto checked = [](const Account &a, ConflictChooser *, const std::function<bool(int, int)> &) {
        if (a.password != "new")
            throw DavError(Fault::Unauthorized, "401", 401);
        return SyncOutcome();
    };
    fake.then(checked);
    fake.then(checked);
    QString asked;
    QLineEdit::EchoMode echo = QLineEdit::Normal;
    db.modal().steps.enqueue([&](QDialog &dialog) {
        asked = control<QLabel>(dialog, "lblPasswordWhy")->text();
        echo = control<QLineEdit>(dialog, "txtPassword")->echoMode();
        type(dialog, "txtPassword", "new");
        click(dialog, "cmdOK");
    });
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.runs.load(), 2);
    QTRY_VERIFY(w.status().startsWith("Synced at"));
    QCOMPARE(db.modal().shownNames, QStringList{"frmSyncPassword"});
    QCOMPARE(asked, QString("The server https://dav.example.org:443 refused the password of coach. Enter it again:"));
    QCOMPARE(echo, QLineEdit::Password);
    QCOMPARE(secrets.password(fake.bound->calendar, "coach").value_or(""), QString("new"));
}

void tst_CalendarSync::calendarGoneOffersAnother()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    Window w(db, fake, &secrets);
    fake.then([](const Account &, ConflictChooser *, const std::function<bool(int, int)> &) -> SyncOutcome {
        throw DavError(Fault::NotFound, "404", 404);
    });
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(db.modal().shownNames, QStringList{"frmCalendarSync"});
    QCOMPARE(db.prompt().texts(), QStringList{"The calendar on the server is gone: https://dav.example.org/coach/plan/"
                                              "\r\n\r\nNothing was synced. Pick another calendar?"});
    QVERIFY(w.status().endsWith("the calendar is gone from the server (https://dav.example.org/coach/plan/)."));
    // Until then the schedule asks the server no more.
    w.schedule().start(SyncSchedule::Trigger::Timer);
    QVERIFY(!w.schedule().running());
    QCOMPARE(fake.runs.load(), 1);
}

void tst_CalendarSync::conflictAskedOnWindowThread()
{
    class ThreadPrompt : public FakePrompt
    {
    public:
        Answer message(QWidget *parent, const QString &text, Icon icon, Buttons buttons, const QString &title,
                       const QString &details) override
        {
            onWindowThread = onWindowThread && QThread::currentThread() == qApp->thread();
            return FakePrompt::message(parent, text, icon, buttons, title, details);
        }
        bool onWindowThread = true;
    } prompt;
    TestDatabase db;
    db.services.prompt = &prompt;
    const int ann = db.addStaff("Ann Keeper", "");
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    Window w(db, fake, &secrets);
    store::Event here;
    here.values.title = "Rondo";
    here.values.staffId = ann;
    here.values.startDate = here.values.endDate = QDate(2026, 12, 9);
    here.values.startTime = QTime(9, 0);
    here.values.endTime = QTime(10, 0);
    store::Event server = here;
    server.values.title = "Rondo 4v2";
    server.values.endTime = QTime(10, 30);
    QList<ConflictChooser::Choice> chosen;
    fake.then([&](const Account &, ConflictChooser *chooser, const std::function<bool(int, int)> &) {
        chosen << chooser->choose({"u1", here, server});
        chosen << chooser->choose({"u2", std::nullopt, server});
        return SyncOutcome();
    });
    prompt.answers << Prompt::Answer::No << Prompt::Answer::Yes;
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.runs.load(), 1);
    QVERIFY(prompt.onWindowThread);
    QCOMPARE(chosen, (QList<ConflictChooser::Choice>{ConflictChooser::Choice::Server, ConflictChooser::Choice::Here}));
    const QStringList texts = prompt.texts();
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts[0], QString("This event was changed both here and on the server since the last sync:\r\n\r\n"
                               "Title: here \"Rondo\", on the server \"Rondo 4v2\"\r\n"
                               "End: here %1 10:00, on the server %1 10:30\r\n\r\n"
                               "Keep the version here? Choose No to take the server's version; the other one is then lost.")
                           .arg(longDateText(QDate(2026, 12, 9))));
    QVERIFY2(texts[1].startsWith("This event was deleted here but changed on the server since the last sync:\r\n\r\n"
                                 "Title: \"Rondo 4v2\"\r\n"),
             qPrintable(texts[1]));
    QVERIFY(texts[1].contains("Staff member: Ann Keeper"));
}

void tst_CalendarSync::closedWhileAsking()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    auto w = std::make_unique<Window>(db, fake, &secrets);
    store::Event here;
    here.values.title = "Rondo";
    std::atomic<bool> asking{false};
    std::atomic<int> choice{-1};
    fake.then([&](const Account &, ConflictChooser *chooser, const std::function<bool(int, int)> &) {
        asking = true;
        choice = int(chooser->choose({"u1", here, here}));
        return SyncOutcome();
    });
    w->trigger("mnuSyncNow");
    // The question waits for the window's thread, which closes the window instead of asking.
    while (!asking)
        QThread::yieldCurrentThread();
    w.reset();
    QCOMPARE(fake.runs.load(), 1);
    QCOMPARE(choice.load(), int(ConflictChooser::Choice::Leave));
    QCoreApplication::processEvents();
    QVERIFY(db.prompt().texts().isEmpty());
}

void tst_CalendarSync::cancelStopsTheRun()
{
    TestDatabase db;
    FakeBackend fake;
    MemorySecrets secrets;
    bindKnowingPassword(fake, secrets);
    Window w(db, fake, &secrets);
    std::atomic<int> done{0};
    fake.then([&done](const Account &, ConflictChooser *, const std::function<bool(int, int)> &progress) {
        SyncOutcome o;
        // Between requests, until told to stop.
        while (progress(done, 1000) && done < 20000) {
            ++done;
            QThread::msleep(1);
        }
        o.sent = done;
        return o;
    });
    w.trigger("mnuSyncNow");
    auto *cancel = w.main.findChild<QToolButton *>("cmdCancelSync");
    QTRY_VERIFY(done > 0);
    QTRY_VERIFY(w.main.findChild<QWidget *>("prgSync")->isVisibleTo(&w.main));
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY(!w.schedule().running());
    QVERIFY(done < 20000);
    QVERIFY2(w.status().startsWith("Sync cancelled at"), qPrintable(w.status()));
    QVERIFY(!cancel->isVisibleTo(&w.main));
}

void tst_CalendarSync::secretStoreFallback()
{
    if (qEnvironmentVariableIsSet("ORVENNA_TEST_KEYRING"))
        QSKIP("a secret service runs here");
    TestDatabase db;
    FakeBackend fake;
    fake.bound = boundTo();
    Window w(db, fake, nullptr); // the desktop's store, with no secret service running
    QString asked;
    db.modal().steps.enqueue([&asked](QDialog &dialog) {
        asked = control<QLabel>(dialog, "lblPasswordWhy")->text();
        type(dialog, "txtPassword", "pitch-side-7");
        click(dialog, "cmdOK");
    });
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.runs.load(), 1);
    QCOMPARE(fake.accountsSeen().value(0).password, QString("pitch-side-7"));
    QVERIFY2(asked.startsWith("The password of coach at https://dav.example.org:443, to sync this calendar:\r\n\r\n"
                              "The password cannot be kept in the desktop's secret store ("),
             qPrintable(asked));
    QVERIFY2(asked.endsWith("), so it is asked for once each time Orvenna starts and kept in memory only."), qPrintable(asked));
    // Asked once per run: the next sync has it.
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.runs.load(), 2);
    QCOMPARE(db.modal().shownNames, QStringList{"frmSyncPassword"});
    QCOMPARE(fake.accountsSeen().value(1).password, QString("pitch-side-7"));
    // Kept in memory only: another run of the program does not know it.
    caldav::DesktopSecrets another;
    QVERIFY(!another.password(fake.bound->calendar, "coach"));
    QVERIFY(!another.unavailable().isEmpty());
}

void tst_CalendarSync::desktopSecretStore()
{
    if (!qEnvironmentVariableIsSet("ORVENNA_TEST_KEYRING"))
        QSKIP("needs a secret service: keyring.sh runs it (ctest syncwindows/tst_calendarsync_keyring)");
    const QUrl server("https://dav.example.org/coach/plan/");
    {
        caldav::DesktopSecrets secrets;
        QVERIFY(!secrets.password(server, "coach"));
        secrets.setPassword(server, "coach", "pitch-side-7");
        secrets.setPassword(server, "assistant", "other");
        QVERIFY2(secrets.unavailable().isEmpty(), qPrintable(secrets.unavailable()));
    }
    // Another run finds it in the keyring: by server and user, whatever the path.
    caldav::DesktopSecrets later;
    QCOMPARE(later.password(QUrl("https://dav.example.org/"), "coach").value_or("<none>"), QString("pitch-side-7"));
    QCOMPARE(later.password(server, "assistant").value_or("<none>"), QString("other"));
    QVERIFY(!later.password(QUrl("https://dav.example.org:8443/"), "coach"));
    QVERIFY(!later.password(QUrl("https://other.example.org/"), "coach"));
    // The window takes it from there: nothing is asked.
    TestDatabase db;
    FakeBackend fake;
    fake.bound = boundTo();
    Window w(db, fake, nullptr);
    w.trigger("mnuSyncNow");
    QTRY_COMPARE(fake.runs.load(), 1);
    QCOMPARE(fake.accountsSeen().value(0).password, QString("pitch-side-7"));
    QVERIFY(db.modal().shownNames.isEmpty());
    later.forget(server, "coach");
    QVERIFY(!caldav::DesktopSecrets().password(server, "coach"));
}

ORVENNA_TEST_MAIN(tst_CalendarSync)
#include "tst_calendarsync.moc"
