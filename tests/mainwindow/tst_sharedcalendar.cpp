// The program on a shared calendar: switching to it, seeing the other copies'
// changes without a click, and two coaches saving the same event.

#include "editor/EditorDriver.h"
#include "editor/frmEventEditor.h"
#include "exchange/CalendarStore.h"
#include "mainwindow/CalendarCommands.h"
#include "mainwindow/SharedCalendar.h"
#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
#include "store/ChangeListener.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/StoreError.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"
#include "support/TestMainWindow.h"
#include "syncwindows/SyncBackend.h"
#include "syncwindows/SyncSchedule.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCalendarWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QUrl>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QDialog>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include <unistd.h>

namespace {

QStringList shownTitles(const frmEventsMain &w, int panel)
{
    QStringList titles;
    auto *list = w.dayPanel(panel)->findChild<QTreeWidget *>("lvEventList");
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        titles << list->topLevelItem(i)->text(0).mid(6);
    return titles;
}

void run(const QString &connectionString, const QString &statement)
{
    store::Connection conn;
    conn.open(connectionString);
    conn.execute(statement);
}

// "key title" of every stored event, in key order.
QStringList titlesWithKeys(const QString &connectionString)
{
    store::Connection conn;
    conn.open(connectionString);
    QStringList rows;
    for (store::RowSet rs = conn.execute("SELECT idScheduledEvent, title FROM tblScheduledEvents ORDER BY idScheduledEvent");
         !rs.eof(); rs.moveNext())
        rows << QString::number(rs.integer("idScheduledEvent")) + ' ' + rs.text("title");
    return rows;
}

// Counts the sync schedule's looks at the calendar's server calendar; it has none.
class CountingSync : public SyncBackend
{
public:
    std::optional<caldav::Binding> binding(const QString &) override
    {
        ++asked;
        return std::nullopt;
    }
    void bind(const QString &, const caldav::Binding &) override {}
    void unbind(const QString &) override {}
    caldav::SyncOutcome run(const QString &, const caldav::Account &, caldav::ConflictChooser *,
                            const std::function<bool(int, int)> &) override
    {
        return {};
    }
    int asked = 0;
};

// A throw-away PostgreSQL of the test's own (the suite's server stays up for
// the other tests), which the test stops and starts again as an admin would.
class OwnServer
{
public:
    OwnServer() : m_dir(QStringLiteral("/tmp/orvenna-pgstop-%1").arg(QCoreApplication::applicationPid()))
    {
        QProcess p;
        p.start("bash", {QFINDTESTDATA("store/pgserver.sh"), "start", m_dir});
        started = p.waitForFinished(60000) && p.exitCode() == 0;
        if (!started)
            qWarning("%s", p.readAllStandardError().constData());
    }
    ~OwnServer() { QProcess::execute("bash", {QFINDTESTDATA("store/pgserver.sh"), "stop", m_dir}); }
    [[nodiscard]] QString url() const
    {
        return "postgresql://orvenna@" + QString::fromLatin1(QUrl::toPercentEncoding(m_dir)) + "/postgres";
    }
    // pg_ctl refuses root; the script hands the cluster to "nobody" then.
    bool pgCtl(const QStringList &args)
    {
        const QString bin = qEnvironmentVariable("ORVENNA_PG_BINDIR", "/usr/lib/postgresql/15/bin");
        QStringList command{bin + "/pg_ctl", "-D", m_dir + "/data", "-w", "-t", "30"};
        command += args;
        QProcess p;
        p.setWorkingDirectory(m_dir);
        if (geteuid() == 0)
            p.start("runuser", QStringList{"-u", "nobody", "--"} + command);
        else
            p.start(command.takeFirst(), command);
        return p.waitForFinished(60000) && p.exitCode() == 0;
    }
    bool stop(const QString &mode) { return pgCtl({"-m", mode, "stop"}); }
    bool start()
    {
        return pgCtl({"-l", m_dir + "/server.log", "-o",
                      "-c listen_addresses='' -c unix_socket_directories='" + m_dir + "' -c fsync=off", "start"});
    }
    bool started = false;

private:
    QString m_dir;
};

// A primary and its streaming standby of the test's own (pg_basebackup on a
// replication slot, commits wait for the standby), and an address naming both
// that takes whichever accepts writes.
class StandbyPair
{
public:
    StandbyPair() : m_dir(QStringLiteral("/tmp/orvenna-pgpair-%1").arg(QCoreApplication::applicationPid()))
    {
        started = script("start-standby");
    }
    ~StandbyPair() { script("stop"); }
    [[nodiscard]] QString url() const
    {
        return "postgresql://orvenna@" + QString::fromLatin1(QUrl::toPercentEncoding(m_dir)) + ","
            + QString::fromLatin1(QUrl::toPercentEncoding(m_dir + "/standby")) + "/postgres?target_session_attrs=read-write";
    }
    bool script(const QString &action)
    {
        QProcess p;
        p.start("bash", {QFINDTESTDATA("store/pgserver.sh"), action, m_dir});
        const bool done = p.waitForFinished(60000) && p.exitCode() == 0;
        if (!done)
            qWarning("%s", p.readAllStandardError().constData());
        return done;
    }
    bool started = false;

private:
    QString m_dir;
};

// Chooses a popup entry instead of opening the popup.
statements::EventValues eventToday(const QString &title, int hour = 9)
{
    const QDate today = QDate::currentDate();
    return {title, "", "", today, QTime(hour, 0), today, QTime(hour + 1, 0), 1};
}

} // namespace

class tst_SharedCalendar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void switchCalendar_data();
    void switchCalendar();
    void othersChangesAppear();
    void serverFaults_data();
    void serverFaults();
    void serverStopsWhileShown_data();
    void serverStopsWhileShown();
    void twoCoachesSaveOneEvent_data();
    void twoCoachesSaveOneEvent();
    void standbyTakesOver();
    void loginRights_data();
    void loginRights();

    void cleanupTestCase();

private:
    QTemporaryDir m_config;
    std::unique_ptr<OwnServer> m_ownServer; // started by the first case that needs it
};

void tst_SharedCalendar::cleanupTestCase()
{
    m_ownServer.reset();
}

void tst_SharedCalendar::initTestCase()
{
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
    TestDatabase::setEngine(store::Engine::Postgres);
    try {
        TestDatabase db;
    } catch (const std::exception &e) {
        QFAIL(qPrintable(QStringLiteral("no PostgreSQL test server: ") + QString::fromUtf8(e.what())));
    }
}

void tst_SharedCalendar::switchCalendar_data()
{
    QTest::addColumn<bool>("startOnServer");
    QTest::addColumn<QString>("typed"); // {server}: the test server's calendar
    QTest::addColumn<QString>("said");  // empty: it switches and says nothing
    QTest::newRow("to the server") << false << "{server}" << "";
    QTest::newRow("back to the file") << true << "" << "";
    QTest::newRow("server down") << false << "postgresql://orvenna@%2Fnonexistent/cal" << "cannot be reached";
    QTest::newRow("no tables there") << false << TestDatabase::serverUrl("postgres") << "has no calendar tables";
    QTest::newRow("not an address") << false << "eventDB.mdb" << "not a PostgreSQL address";
    QTest::newRow("password in it") << false << "postgresql://orvenna:secret@db/cal" << "~/.pgpass";
}

void tst_SharedCalendar::switchCalendar()
{
    QFETCH(bool, startOnServer);
    QFETCH(QString, typed);
    QFETCH(QString, said);
    TestDatabase db;
    const QString server = db.connectionString();
    run(server, statements::insertEvent(eventToday("On the server")));
    const QString file = db.folder() + "/eventDB.mdb";
    store::createDatabase(file);
    run(store::connectionStringFor(db.folder()), statements::insertEvent(eventToday("In the file")));
    saveDatabaseUrl(startOnServer ? server : QString());

    AppServices services = db.services;
    services.database = savedDatabaseUrl();
    TestMainWindow w(services);
    w.Form_Load();
    QCOMPARE(shownTitles(w, 3), QStringList{startOnServer ? "On the server" : "In the file"});
    // A repeat made here can be undone here only.
    db.prompt().inputs.enqueue("1");
    w.choose = "popRepeatWeekly";
    w.ctlDayDetail_RightMouseClick(3, 1);
    auto *undo = w.findChild<QAction *>("mnuUndo");
    QVERIFY(undo->isEnabled());
    QCOMPARE(undo->text(), "&Undo Repeat");
    // Undone and done again on either engine, the copy under the key it had.
    const QString inUse = startOnServer ? server : store::connectionStringFor(db.folder());
    const QStringList repeated = titlesWithKeys(inUse);
    QCOMPARE(repeated.size(), 2);
    undo->trigger();
    QCOMPARE(titlesWithKeys(inUse), repeated.mid(0, 1));
    w.findChild<QAction *>("mnuRedo")->trigger();
    QCOMPARE(titlesWithKeys(inUse), repeated);
    db.prompt().shown.clear();

    typed.replace("{server}", server);
    db.prompt().inputs.enqueue(typed);
    w.findChild<QAction *>("mnuSharedCalendar")->trigger();
    // The box names the calendar in use and offers its address.
    QCOMPARE(db.prompt().shown.at(0).isInput, true);
    QVERIFY(db.prompt().shown.at(0).text.contains(startOnServer ? server : file));
    QCOMPARE(db.prompt().shown.at(0).defaultText, startOnServer ? server : QString());
    if (!said.isEmpty()) {
        QCOMPARE(db.prompt().shown.size(), 2);
        QVERIFY2(db.prompt().shown.at(1).text.contains(said), qPrintable(db.prompt().shown.at(1).text));
        QCOMPARE(savedDatabaseUrl(), QString());
        QCOMPARE(w.database(), QString());
        QVERIFY(undo->isEnabled());
        return;
    }
    QCOMPARE(db.prompt().shown.size(), 1);
    QCOMPARE(savedDatabaseUrl(), typed);
    QCOMPARE(w.database(), typed);
    QCOMPARE(shownTitles(w, 3), QStringList{startOnServer ? "In the file" : "On the server"});
    // The other calendar's rows are not the repeat's, whatever their keys.
    QVERIFY(!undo->isEnabled());
    const QString other = startOnServer ? store::connectionStringFor(db.folder()) : server;
    run(other, statements::insertEvent(eventToday("Same key as the repeat", 10)));
    undo->trigger();
    QCOMPARE(db.prompt().shown.size(), 1);
    w.mView_DateClick(w.weekDate());
    QCOMPARE(shownTitles(w, 3), (QStringList{startOnServer ? "In the file" : "On the server", "Same key as the repeat"}));

    // The calendar now in use is the one told: a template the manager adds is listed before it closes.
    auto *templates = w.findChild<QListWidget *>("lstEventTemplates");
    int listed = -1;
    db.modal().steps.enqueue([&](QDialog &manager) {
        auto press = [&manager](const char *key) {
            auto *bar = manager.findChild<QToolBar *>("tlbrTop");
            QTest::mouseClick(bar->widgetForAction(manager.findChild<QAction *>(key)), Qt::LeftButton);
        };
        press("addNewEvent");
        QTest::keyClicks(manager.findChild<QComboBox *>("cmbPredefinedEvents")->lineEdit(), "Rondo");
        press("saveAndClose");
        listed = templates->count();
    });
    w.findChild<QAction *>("mnuPredefinedEvents")->trigger();
    QCOMPARE(listed, 1);
    // And on the server, its announcements are heard.
    if (!startOnServer) {
        run(server, statements::insertEvent(eventToday("Heard after the switch")));
        QTRY_VERIFY(shownTitles(w, 3).contains("Heard after the switch"));
    }
}

void tst_SharedCalendar::othersChangesAppear()
{
    TestDatabase db;
    const QString server = db.connectionString();
    db.addTemplate("Rondo", "");
    db.addTemplate("Sprints", "");
    frmEventsMain w(db.services);
    w.Form_Load();
    auto *templates = w.findChild<QListWidget *>("lstEventTemplates");
    templates->setCurrentRow(1);

    run(server, statements::insertEvent(eventToday("Saved elsewhere")));
    QTRY_COMPARE(shownTitles(w, 3), QStringList{"Saved elsewhere"});

    // A template added elsewhere: the list grows, the chosen entry stays chosen.
    run(server, statements::insertTemplate("Passing", ""));
    QTRY_COMPARE(templates->count(), 3);
    QCOMPARE(templates->currentItem()->text(), QStringLiteral("Sprints"));

    // Nothing moves under an open modal window; it catches up once it closes.
    QDialog editor(&w);
    editor.setModal(true);
    editor.show();
    QTRY_VERIFY(QApplication::activeModalWidget() == &editor);
    // Heard, and the reload put off until the modal window is gone.
    QTimer *later = w.findChild<QTimer *>("liveReloadLater");
    QVERIFY(later);
    run(server, statements::deleteEvent(1));
    QTRY_VERIFY(later->isActive() && later->interval() == 200);
    QCOMPARE(shownTitles(w, 3), QStringList{"Saved elsewhere"});
    editor.close();
    QTRY_COMPARE(shownTitles(w, 3), QStringList());
}

void tst_SharedCalendar::serverFaults_data()
{
    QTest::addColumn<QString>("url"); // empty: this test's database, without tables
    QTest::addColumn<QString>("reason");
    QTest::newRow("server down") << "postgresql://orvenna@%2Fnonexistent/cal" << "cannot be reached (is it running?)";
    QTest::newRow("login refused") << TestDatabase::serverUrl(QString(), "intruder") << "refused the login of user";
    QTest::newRow("no such database") << TestDatabase::serverUrl("nocal") << "has no database \"nocal\"";
    QTest::newRow("tables missing") << "" << "has no calendar tables";
}

void tst_SharedCalendar::serverFaults()
{
    QFETCH(QString, url);
    QFETCH(QString, reason);
    TestDatabase db(false);
    AppServices services = db.services;
    if (!url.isEmpty())
        services.database = url;
    frmEventsMain w(services);
    w.Form_Load();
    // The window opens; once it is on screen one message names the calendar
    // and the reason, and other dates do not repeat it.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE(db.prompt().shown.size(), 1);
    w.mView_DateClick(w.weekDate().addDays(7));
    QCOMPARE(db.prompt().shown.size(), 1);
    QVERIFY2(db.prompt().shown.at(0).text.contains(services.database), qPrintable(db.prompt().shown.at(0).text));
    QVERIFY2(db.prompt().shown.at(0).text.contains(reason), qPrintable(db.prompt().shown.at(0).text));
    if (!url.isEmpty())
        return;
    // Once the tables are there, the same window works without a restart.
    store::createDatabase(services.database);
    run(services.database, statements::insertEvent(eventToday("After the repair")));
    w.mView_DateClick(QDateTime::currentDateTime());
    QCOMPARE(shownTitles(w, 3), QStringList{"After the repair"});
    QCOMPARE(db.prompt().shown.size(), 1);
}

void tst_SharedCalendar::serverStopsWhileShown_data()
{
    QTest::addColumn<QString>("mode"); // how the server is stopped
    QTest::addColumn<QString>("reload"); // what asks for the week then
    QTest::newRow("fast stop, F5") << "fast" << "F5";
    QTest::newRow("immediate stop, F5") << "immediate" << "F5";
    QTest::newRow("fast stop, the same date clicked") << "fast" << "click";
    QTest::newRow("immediate stop, another date by key") << "immediate" << "Right";
}

void tst_SharedCalendar::serverStopsWhileShown()
{
    QFETCH(QString, mode);
    QFETCH(QString, reload);
    if (!m_ownServer) {
        m_ownServer = std::make_unique<OwnServer>();
        QVERIFY(m_ownServer->started);
        store::createDatabase(m_ownServer->url());
    }
    OwnServer &server = *m_ownServer;
    run(server.url(), "DELETE FROM tblScheduledEvents");
    run(server.url(), statements::insertEvent(eventToday("Before the stop")));
    // The server commits without waiting for the disk; an immediate stop must not lose the setup.
    run(server.url(), "CHECKPOINT");
    TestDatabase db;
    AppServices services = db.services;
    services.database = server.url();
    frmEventsMain w(services);
    w.Form_Load();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(shownTitles(w, 3), QStringList{"Before the stop"});
    auto *status = w.findChild<QLabel *>("lblWeekStatus");
    QVERIFY(status);
    QCOMPARE(status->text(), QString());

    QVERIFY(server.stop(mode));
    auto *calendar = w.findChild<QCalendarWidget *>("mView");
    auto *view = calendar->findChild<QAbstractItemView *>();
    const bool sameWeek = reload != "Right";
    if (reload == "F5")
        QTest::keyClick(&w, Qt::Key_F5);
    else if (reload == "click")
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->currentIndex()).center());
    else
        QTest::keyClick(view, Qt::Key_Right);
    // The first failed read says why, at once and only once.
    QCOMPARE(db.prompt().shown.size(), 1);
    QVERIFY2(db.prompt().shown.at(0).text.contains("cannot be reached"), qPrintable(db.prompt().shown.at(0).text));
    QVERIFY2(status->text().contains("cannot be reached"), qPrintable(status->text()));
    // The week shown stays, marked as not current; another week is shown empty, said so.
    QCOMPARE(shownTitles(w, sameWeek ? 3 : 2), sameWeek ? QStringList{"Before the stop"} : QStringList());
    QCOMPARE(status->text().startsWith("Not current"), sameWeek);
    // Another date clicked meanwhile is not told again; F5, asked for, is.
    const QDateTime shown = w.weekDate();
    w.mView_DateClick(shown.addDays(14));
    QCOMPARE(db.prompt().shown.size(), 1);
    QVERIFY2(status->text().contains("cannot be reached"), qPrintable(status->text()));
    w.mView_DateClick(shown);
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(db.prompt().shown.size(), 2);
    QVERIFY2(db.prompt().shown.at(1).text.contains("cannot be reached"), qPrintable(db.prompt().shown.at(1).text));
    QCOMPARE(shownTitles(w, sameWeek ? 3 : 2), QStringList());
    QVERIFY2(status->text().contains("cannot be reached"), qPrintable(status->text()));

    // Back up: the next reload shows the week as stored, unmarked.
    QVERIFY(server.start());
    run(server.url(), statements::insertEvent(eventToday("After the start", 11)));
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(shownTitles(w, sameWeek ? 3 : 2), (QStringList{"Before the stop", "After the start"}));
    QCOMPARE(status->text(), QString());
    QCOMPARE(db.prompt().shown.size(), 2);
}

void tst_SharedCalendar::twoCoachesSaveOneEvent_data()
{
    QTest::addColumn<QString>("theirs");   // the title the other coach saves meanwhile; empty: no other save
    QTest::addColumn<bool>("overwrite");   // the answer to the question
    QTest::addColumn<QString>("stored");
    QTest::newRow("nobody else saved") << "" << true << "Mine";
    QTest::newRow("overwrite theirs") << "Theirs" << true << "Mine";
    QTest::newRow("keep theirs") << "Theirs" << false << "Theirs";
    QTest::newRow("they saved what was there") << "Original" << true << "Mine";
}

void tst_SharedCalendar::twoCoachesSaveOneEvent()
{
    QFETCH(QString, theirs);
    QFETCH(bool, overwrite);
    QFETCH(QString, stored);
    TestDatabase db;
    db.addStaff("Dana", "");
    db.addStaff("Marco", "");
    const QDateTime start(QDate(2026, 12, 6), QTime(9, 0), Qt::UTC);
    db.addEvent("Original", start, start.addSecs(3600), 1, "", "bring cones");

    frmEventEditor mine(db.services);
    mine.loadScheduledEvent(1);
    mine.setTitleText("Mine");
    if (!theirs.isEmpty()) {
        const bool same = theirs == "Original";
        statements::EventValues v{theirs, "", same ? "bring cones" : "bring bibs", start.date(),
                                  same ? QTime(9, 0) : QTime(9, 30), start.date(), QTime(10, 0), same ? 1 : 2};
        run(db.connectionString(), statements::updateEvent(v, 1));
    }
    db.prompt().answers.enqueue(overwrite ? Prompt::Answer::Yes : Prompt::Answer::No);
    mine.tlbrTop_ButtonClick("saveAndClose");

    const bool asked = !theirs.isEmpty() && theirs != "Original";
    QCOMPARE(db.prompt().shown.size(), asked ? 1 : 0);
    if (asked) {
        const QString text = db.prompt().shown.at(0).text;
        for (const char *change : {"Title: was \"Original\", now \"Theirs\"", "Start: was ", " 09:00, now ",
                                   "Staff member: was Dana, now Marco", "Notes: was \"bring cones\", now \"bring bibs\""})
            QVERIFY2(text.contains(QLatin1String(change)), qPrintable(text));
        QVERIFY(!text.contains("End:"));
        QCOMPARE(db.prompt().shown.at(0).icon, Prompt::Icon::Question);
    }
    QCOMPARE(mine.result(), int(QDialog::Accepted));
    QCOMPARE(db.scalar("SELECT title FROM tblScheduledEvents").toString(), stored);
}

// The primary dies with a coach's editor open and the standby is promoted:
// both copies find the new primary by themselves, hear on, the typing is
// saved, and what was committed before the crash is there.
void tst_SharedCalendar::standbyTakesOver()
{
    using namespace driver;
    StandbyPair pair;
    QVERIFY(pair.started);
    const QString url = pair.url();
    store::createDatabase(url);
    run(url, statements::insertStaff("Dana", ""));
    run(url, statements::insertEvent(eventToday("Warm-up")));

    store::ChangeListener listening; // a copy without windows
    QSignalSpy heard(&listening, &store::ChangeListener::changed);
    listening.listen(url);
    QVERIFY(listening.isListening());

    TestDatabase db;
    AppServices services = db.services;
    services.database = url;
    TestMainWindow w(services);
    w.Form_Load();
    QCOMPARE(shownTitles(w, 3), QStringList{"Warm-up"});
    QSignalSpy windowHeard(w.calendar(), &model::Calendar::eventsChanged);

    bool edited = false;
    db.modal().steps.enqueue([&](QDialog &editor) {
        retype(notes(editor), "Bring cones");
        // Acknowledged just before the crash, so on the standby too.
        run(url, statements::insertEvent(eventToday("Committed last", 10)));
        QTRY_VERIFY(!heard.isEmpty());
        heard.clear();
        QVERIFY(pair.script("kill-primary"));
        // Both copies notice the loss; the standby does not take writes yet.
        QTRY_VERIFY(!listening.isListening());
        QTRY_VERIFY(!w.calendar()->isListening());
        // Asked on a thread of its own, so that this thread's connection to
        // the dead primary is still kept for the save below.
        QString said = "opened";
        std::unique_ptr<QThread> asking(QThread::create([&]() {
            try {
                run(url, "SELECT count(*) FROM tblPOCs");
            } catch (const store::StoreError &e) {
                said = e.description();
            }
        }));
        asking->start();
        QVERIFY(asking->wait(30000));
        QVERIFY2(said.contains("the one that answers is a standby (target_session_attrs=read-write); once it is "
                               "promoted the calendar opens again: session is read-only"),
                 qPrintable(said));
        QVERIFY(pair.script("promote"));
        windowHeard.clear();
        // Saved before the copies are back: only the catch-up reload shows it.
        run(url, statements::insertEvent(eventToday("Saved during the switch", 11)));
        QTRY_VERIFY_WITH_TIMEOUT(listening.isListening() && w.calendar()->isListening(), 10000);
        // Anything may have changed, said once (the save may have been heard
        // too, should a copy have been back already).
        QTRY_VERIFY(!heard.isEmpty());
        QCOMPARE(heard.takeFirst().at(0).toString(), QString());
        for (const QList<QVariant> &notice : std::as_const(heard))
            QCOMPARE(notice.at(0).toString(), "tblscheduledevents");
        QTRY_VERIFY(!windowHeard.isEmpty());
        QCOMPARE(windowHeard.takeFirst().at(0).toDate(), QDate());
        QCOMPARE(notes(editor)->toPlainText(), "Bring cones");
        press(editor, "saveAndClose");
        edited = true;
    });
    w.ctlDayDetail_ScheduledEventSelected(3, 1);
    QVERIFY(edited);
    QVERIFY2(db.prompt().texts().isEmpty(), qPrintable(db.prompt().texts().join(" | ")));
    QStringList stored;
    for (const QString &row : titlesWithKeys(url))
        stored << row.section(' ', 1); // the promoted server's keys go on from further up
    QCOMPARE(stored, (QStringList{"Warm-up", "Committed last", "Saved during the switch"}));
    store::Connection conn;
    conn.open(url);
    QCOMPARE(conn.execute("SELECT Notes FROM tblScheduledEvents WHERE idScheduledEvent = 1").text("Notes"), "Bring cones");
    QCOMPARE(shownTitles(w, 3), (QStringList{"Warm-up", "Committed last", "Saved during the switch"}));

    // Live updates go on in both copies.
    heard.clear();
    run(url, statements::insertEvent(eventToday("After the switch", 12)));
    QTRY_COMPARE(shownTitles(w, 3).size(), 4);
    QCOMPARE(shownTitles(w, 3).last(), "After the switch");
    QTRY_VERIFY(!heard.isEmpty());
    QCOMPARE(heard.takeFirst().at(0).toString(), "tblscheduledevents");
}

void tst_SharedCalendar::loginRights_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("role"); // given to the login; empty: the calendar's owner
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("a reader") << "coach2" << "orvenna_reader" << true;
    QTest::newRow("an editor") << "coach1" << "orvenna_editor" << false;
    QTest::newRow("the owner") << "orvenna" << "" << false;
}

// A login that may only read opens the shared calendar read-only: the title
// says so, every command that would write is off and says why, keys and drops
// that would write do nothing, and other copies' changes still appear.
void tst_SharedCalendar::loginRights()
{
    QFETCH(QString, login);
    QFETCH(QString, role);
    QFETCH(bool, readOnly);
    TestDatabase db;
    if (!role.isEmpty()) {
        db.exec(QStringLiteral("DO $$ BEGIN CREATE ROLE %1 LOGIN; EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END $$")
                    .arg(login));
        db.exec(QStringLiteral("GRANT %1 TO %2").arg(role, login));
    }
    db.addStaff("Dana", "");
    db.addTemplate("Rondo", "Pass and move");
    run(db.connectionString(), statements::insertEvent(eventToday("Planned")));
    AppServices services = db.services;
    services.database = TestDatabase::serverUrl(QString(), login);
    CountingSync sync;
    services.sync = &sync;
    TestMainWindow w(services);
    w.Form_Load();
    // Nor does it sync on its own: taking the phones' changes in would write.
    auto *schedule = w.findChild<SyncSchedule *>("syncSchedule");
    QVERIFY(schedule);
    for (SyncSchedule::Trigger trigger : {SyncSchedule::Trigger::Timer, SyncSchedule::Trigger::Change})
        schedule->start(trigger);
    QCOMPARE(sync.asked, readOnly ? 0 : 2);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(w.windowTitle(), readOnly ? "Orvenna (read-only)" : "Orvenna");
    const QString why = "Your login may only read this shared calendar, so this is turned off.";
    for (const char *name : {"mnuNewAppointment", "popAddAppointment", "mnuPopDeleteAppointment", "mnuImportCalendar",
                             "popRepeatWeekly", "popCopyWeek", "mnuUndo", "mnuRedo", "mnuCalendarSync", "mnuSyncNow"}) {
        auto *action = w.findChild<QAction *>(name);
        QVERIFY2(action, name);
        if (readOnly) {
            QVERIFY2(!action->isEnabled(), name);
            QCOMPARE(action->toolTip(), why);
        } else {
            QVERIFY2(action->isEnabled() == (QByteArray(name) != "mnuUndo" && QByteArray(name) != "mnuRedo"), name);
            QVERIFY2(action->toolTip() != why, name);
        }
    }
    // Reading, printing, export and Find stay.
    for (const char *name : {"mnuPrintAppointment", "mnuPopPrintAppointment", "mnuExportCalendar", "mnuPrintWeekPlan",
                             "mnuFind", "mnuPredefinedEvents", "mnuPOCs"})
        QVERIFY2(w.findChild<QAction *>(name)->isEnabled(), name);
    QCOMPARE(shownTitles(w, 3), QStringList{"Planned"});
    // Exported, the calendar has the same name for every login.
    {
        store::Connection mine, owners;
        mine.open(services.database);
        owners.open(db.connectionString());
        const QString named = exchange::calendarIdentity(mine); // before the owner's export could name it
        QCOMPARE(named, exchange::calendarIdentity(owners));
    }

    // Another copy's change appears.
    run(db.connectionString(), statements::insertEvent(eventToday("Saved elsewhere", 11)));
    QTRY_COMPARE(shownTitles(w, 3), (QStringList{"Planned", "Saved elsewhere"}));

    // The event opens for reading: printed, not saved nor deleted, closed without a question.
    QStringList editorState;
    db.modal().steps.enqueue([&](QDialog &editor) {
        for (const char *key : {"saveAndClose", "deleteRecord", "printEvent"}) {
            auto *action = editor.findChild<QAction *>(key);
            editorState << QStringLiteral("%1 %2 %3").arg(key).arg(action->isEnabled()).arg(action->toolTip() == why);
        }
        QTest::keyClicks(editor.findChild<QPlainTextEdit *>("txtNotes"), "typed");
        editor.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
        if (editor.isVisible())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    QVERIFY(w.dayPanel(3)->selectEvent(1));
    QTest::keyClick(w.dayPanel(3)->findChild<QTreeWidget *>("lvEventList"), Qt::Key_Return);
    QCOMPARE(editorState, (QStringList{QStringLiteral("saveAndClose %1 %2").arg(!readOnly).arg(readOnly),
                                       QStringLiteral("deleteRecord %1 %2").arg(!readOnly).arg(readOnly),
                                       "printEvent 1 0"}));
    QCOMPARE(db.scalar("SELECT Notes FROM tblScheduledEvents WHERE idScheduledEvent = 1").toString(), readOnly ? "" : "typed");
    QCOMPARE(db.prompt().texts(), QStringList());

    // The managers show their lists, their commands off.
    for (const char *manager : {"mnuPredefinedEvents", "mnuPOCs"}) {
        QStringList off;
        db.modal().steps.enqueue([&](QDialog &window) {
            for (QAction *action : window.findChild<QToolBar *>("tlbrTop")->actions())
                if (!action->isEnabled() && action->toolTip() == why)
                    off << action->objectName();
            window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
            QTest::keyClick(&window, Qt::Key_Escape);
        });
        w.findChild<QAction *>(manager)->trigger();
        QCOMPARE(off, readOnly ? (QStringList{"saveAndClose", "addNewEvent", "deleteRecord"}) : QStringList());
    }
    db.modal().shownNames.clear();
    if (readOnly) {
        // Reached another way than through their entries, the commands still write nothing.
        w.ctlDayDetail_RightMouseClick(3, 1);
        w.mnuNewAppointment_Click();
        w.popAddAppointment_Click();
        w.mnuPopDeleteAppointment_Click();
        w.ctlDayDetail_TemplateDropped(2);
        w.placeEvent(1, QDate(), 15, false);
        w.placeEvent(1, QDate(), 0, true);
        auto *commands = w.findChild<CalendarCommands *>("calendarCommands");
        QVERIFY(commands);
        commands->mnuImportCalendar_Click();
        commands->popRepeatWeekly_Click();
        commands->popCopyWeek_Click();
        QCOMPARE(db.modal().shownNames, QStringList());
        QCOMPARE(db.prompt().texts(), QStringList());
        QCOMPARE(titlesWithKeys(db.connectionString()), (QStringList{"1 Planned", "2 Saved elsewhere"}));
    }

    // Keys and a dropped template: nothing is asked, opened or changed.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QMimeData mime;
    mime.setData(ctlWeekDayView::templateMimeType(), QByteArray());
    const QPoint at(20, 30);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.dayPanel(2), &enter);
    QApplication::sendEvent(w.dayPanel(2), &drop);
    QCOMPARE(db.modal().shownNames, readOnly ? QStringList() : (QStringList{"frmEventEditor", "frmEventEditor"}));
    QCOMPARE(enter.isAccepted(), !readOnly);
    auto *list = w.dayPanel(3)->findChild<QTreeWidget *>("lvEventList");
    QVERIFY(w.dayPanel(3)->selectEvent(1));
    QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(db.scalar("SELECT EventTime FROM tblScheduledEvents WHERE idScheduledEvent = 1").toDateTime().time(),
             QTime(9, readOnly ? 0 : 15));
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(titlesWithKeys(db.connectionString()), (readOnly ? QStringList{"1 Planned", "2 Saved elsewhere"}
                                                              : QStringList{"1 Planned", "2 Saved elsewhere", "3 Planned"}));
    // The copy pasted (asked about: it clashes with the original) is selected; Delete asks and removes it.
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(db.prompt().shown.size(), readOnly ? 0 : 2);
    QCOMPARE(titlesWithKeys(db.connectionString()), (QStringList{"1 Planned", "2 Saved elsewhere"}));
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_SharedCalendar)
#include "tst_sharedcalendar.moc"
