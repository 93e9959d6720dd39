#include "exchangewindows/ExchangeDialogs.h"
#include "exchange/ICalendar.h"
#include "mainwindow/CalendarCommands.h"
#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
#include "print/ReportBrowser.h"
#include "print/frmPrint.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"
#include "support/TestMainWindow.h"

#include <QAction>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QDateTime at(int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute));
}

// The shown week is Sunday 12/6 to Saturday 12/12.
const QDateTime kShown = at(9, 0);

struct Window
{
    explicit Window(TestDatabase &db) : main(db.services)
    {
        main.Form_Load();
        main.mView_DateClick(kShown);
    }
    void trigger(const QString &name)
    {
        auto *action = main.findChild<QAction *>(name);
        QVERIFY2(action, qPrintable(name));
        action->trigger();
    }
    TestMainWindow main;
};

QStringList rows(TestDatabase &db)
{
    return db.scalar("SELECT ifnull(group_concat(r, ' | '), '') FROM (SELECT substr(EventTime, 6, 11) || ' ' || title AS r "
                     "FROM tblScheduledEvents ORDER BY EventTime, idScheduledEvent)")
        .toString()
        .split(QStringLiteral(" | "), Qt::SkipEmptyParts);
}

// Another program holding the file locked for writing (and reading) until released.
struct FileLock
{
    explicit FileLock(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "otherProgram");
        db.setDatabaseName(path);
        held = db.open() && QSqlQuery(db).exec("BEGIN EXCLUSIVE");
    }
    ~FileLock() { release(); }
    void release()
    {
        if (!QSqlDatabase::contains("otherProgram"))
            return;
        {
            QSqlDatabase db = QSqlDatabase::database("otherProgram");
            QSqlQuery(db).exec("ROLLBACK");
            db.close();
        }
        QSqlDatabase::removeDatabase("otherProgram");
    }
    bool held = false;
};

// Answers as FakePrompt does; `beforeCreating` runs when the command asks
// whether to create, after it has read what it needs.
class CreatingPrompt : public FakePrompt
{
public:
    std::function<void()> beforeCreating;
    Answer message(QWidget *parent, const QString &text, Icon icon, Buttons buttons, const QString &title = QString(),
                   const QString &details = QString()) override
    {
        if (text.startsWith("Create these") && beforeCreating)
            beforeCreating();
        return FakePrompt::message(parent, text, icon, buttons, title, details);
    }
};

QStringList shownTitles(frmEventsMain &main, int panel)
{
    QStringList titles;
    auto *list = main.dayPanel(panel)->findChild<QTreeWidget *>("lvEventList");
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        titles << list->topLevelItem(i)->text(0).mid(6);
    return titles;
}

QString run(const QString &program, const QStringList &args)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return QStringLiteral("<%1 missing: install poppler-utils>").arg(program);
    QProcess p;
    p.start(path, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class tst_CalendarCommands : public QObject
{
    Q_OBJECT

private slots:
    void menus();
    void repeat_data();
    void repeat();
    void exportRanges_data();
    void exportRanges();
    void import_data();
    void import();
    void importHostile_data();
    void importHostile();
    void weekPlan_data();
    void weekPlan();
};

void tst_CalendarCommands::menus()
{
    TestDatabase db;
    Window w(db);
    auto texts = [&](const QString &menu) {
        QStringList out;
        for (QAction *a : w.main.findChild<QMenu *>(menu)->actions())
            out << QString(a->objectName() + QLatin1Char('=') + a->text()).remove(QLatin1Char('&'));
        return out;
    };
    QCOMPARE(texts("mnuRootFile"), (QStringList{"mnuPrintAppointment=Print Selected Activity/Drill",
                                                "mnuExportCalendar=Export Calendar...", "mnuImportCalendar=Import Calendar...",
                                                "mnuPrintWeekPlan=Print Week Plan", "=", "mnuCalendarSync=Calendar Sync...",
                                                "mnuSyncNow=Sync Now", "=", "mnuSharedCalendar=Shared Calendar...",
                                                "=", "mnuClose=Close"}));
    QCOMPARE(texts("mnuPopupRoot").mid(3), (QStringList{"=", "popPrintWeekPlan=Print Week Plan", "popRepeatWeekly=Repeat Weekly...",
                                                        "popCopyWeek=Copy Week To...", "=", "mnuUndo=Undo", "mnuRedo=Redo"}));
    QCOMPARE(texts("mnuRootEdit"), (QStringList{"mnuUndo=Undo", "mnuRedo=Redo", "=", "mnuFind=Find..."}));
    QVERIFY(!w.main.findChild<QAction *>("mnuUndo")->isEnabled());
    QVERIFY(!w.main.findChild<QAction *>("mnuRedo")->isEnabled());
}

void tst_CalendarCommands::repeat_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("setup"); // "Team there": the target holds the copy already; "refuse MM-DD": the
                                        // store refuses a row of that day; "locked": another program locks the file
    QTest::addColumn<QStringList>("created");
    const QStringList none;
    QTest::newRow("three weeks") << "popRepeatWeekly" << "3" << true << ""
                                 << QStringList{"12-14 18:00 Team", "12-21 18:00 Team", "12-28 18:00 Team"};
    QStringList weeks14;
    for (int week = 1; week <= 14; ++week)
        weeks14 << at(7, 18).date().addDays(7 * week).toString("MM-dd 18:00 Team");
    // Another copy retitles every copy before the undo.
    QTest::newRow("14 weeks, changed meanwhile") << "popRepeatWeekly" << "14" << true << "retitled meanwhile" << weeks14;
    QTest::newRow("until a date") << "popRepeatWeekly" << " 12/21/2026 " << true << "" << QStringList{"12-14 18:00 Team", "12-21 18:00 Team"};
    QTest::newRow("answered No") << "popRepeatWeekly" << "3" << false << "" << none;
    QTest::newRow("not a number or date") << "popRepeatWeekly" << "soon" << true << "" << none;
    QTest::newRow("too many weeks") << "popRepeatWeekly" << "521" << true << "" << none;
    QStringList weeks520;
    for (int week = 1; week <= 520; ++week)
        weeks520 << at(7, 18).date().addDays(7 * week).toString("MM-dd 18:00 Team");
    QTest::newRow("520 weeks, the most") << "popRepeatWeekly" << "520" << true << "" << weeks520;
    QTest::newRow("until 520 weeks ahead") << "popRepeatWeekly" << "11/24/2036" << true << "" << weeks520;
    QTest::newRow("until a day past 520 weeks") << "popRepeatWeekly" << "11/25/2036" << true << "" << none;
    QTest::newRow("copy week ahead") << "popCopyWeek" << "12/16/2026" << true << ""
                                     << QStringList{"12-14 18:00 Team", "12-17 09:00 Gym"};
    QTest::newRow("copy week back, over the year") << "popCopyWeek" << "1/2/2027" << true << ""
                                                   << QStringList{"12-31 18:00 Team", "01-03 09:00 Gym"};
    QTest::newRow("copy onto itself") << "popCopyWeek" << "12/9/2026" << true << "" << none;
    // What the target week holds already is not made twice.
    QTest::newRow("copy week, one there already") << "popCopyWeek" << "12/16/2026" << true << "Team there"
                                                  << QStringList{"12-17 09:00 Gym"};
    QTest::newRow("copy week, all there already") << "popCopyWeek" << "12/16/2026" << true << "Team there, Gym there" << none;
    // A copy that double-books its staff member is named in the question.
    QTest::newRow("copy week onto a clash") << "popCopyWeek" << "12/16/2026" << true << "Clash there"
                                            << QStringList{"12-14 18:00 Team", "12-17 09:00 Gym"};
    QTest::newRow("copy week, same titles at another time or staff member") << "popCopyWeek" << "12/16/2026" << true
        << "Gym later there, Team of another there" << QStringList{"12-14 18:00 Team", "12-17 09:00 Gym"};
    // A store that refuses a row half way keeps none of them.
    QTest::newRow("repeat refused half way") << "popRepeatWeekly" << "3" << true << "refuse 12-21" << none;
    QTest::newRow("copy refused half way") << "popCopyWeek" << "12/16/2026" << true << "refuse 12-17" << none;
    // One message; the week shown stays.
    QTest::newRow("repeat on a locked file") << "popRepeatWeekly" << "3" << true << "locked" << none;
    QTest::newRow("copy on a locked file") << "popCopyWeek" << "12/16/2026" << true << "locked" << none;
}

void tst_CalendarCommands::repeat()
{
    QFETCH(QString, command);
    QFETCH(QString, input);
    QFETCH(bool, yes);
    QFETCH(QString, setup);
    QFETCH(QStringList, created);

    TestDatabase db;
    CreatingPrompt prompt;
    db.services.prompt = &prompt;
    const int team = db.addEvent("Team", at(7, 18), at(7, 19, 30), 1);
    db.addEvent("Gym", at(10, 9), at(10, 10), 1);
    db.addEvent("Later", at(13, 9), at(13, 10), 1);
    if (setup.contains("Team there"))
        db.addEvent("Team", at(14, 18), at(14, 19, 30), 1);
    if (setup.contains("Gym there"))
        db.addEvent("Gym", at(17, 9), at(17, 9, 30), 1);
    if (setup.contains("Gym later there"))
        db.addEvent("Gym", at(17, 10), at(17, 11), 1);
    if (setup.contains("Clash there"))
        db.addEvent("Clash", at(17, 9, 30), at(17, 10, 30), 1);
    if (setup.contains("Team of another there"))
        db.addEvent("Team", at(14, 18), at(14, 19, 30), 2);
    if (setup.startsWith("refuse"))
        db.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON tblScheduledEvents WHEN NEW.EventTime LIKE '2026-%1%' "
                               "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END")
                    .arg(setup.mid(7)));
    const QStringList before = rows(db);
    Window w(db);
    std::unique_ptr<FileLock> lock;
    if (setup == "locked") {
        // On screen, where a failed read of the week would say so at once.
        w.main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    }
    if (setup == "locked")
        prompt.beforeCreating = [&] {
            lock = std::make_unique<FileLock>(db.path());
            QVERIFY(lock->held);
        };
    prompt.inputs.enqueue(input);
    prompt.answers.enqueue(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
    w.main.choose = command;
    w.main.ctlDayDetail_RightMouseClick(1, team);
    if (lock) {
        // Said once, with the reason; the week is not emptied by the failure.
        QCOMPARE(prompt.shown.size(), 3);
        QVERIFY2(prompt.shown.at(2).text.contains("nothing was created") && prompt.shown.at(2).text.contains("locked"),
                 qPrintable(prompt.shown.at(2).text));
        QCOMPARE(shownTitles(w.main, 1), QStringList{"Team"});
        QCOMPARE(shownTitles(w.main, 4), QStringList{"Gym"});
        QCOMPARE(w.main.findChild<QLabel *>("lblWeekStatus")->text(), QString());
        lock->release();
    }
    if (setup.startsWith("refuse"))
        QVERIFY2(prompt.shown.last().text.contains("nothing was created"), qPrintable(prompt.shown.last().text));

    QStringList expected = before + created;
    std::sort(expected.begin(), expected.end());
    QStringList after = rows(db);
    std::sort(after.begin(), after.end());
    QCOMPARE(after, expected);
    auto *undo = w.main.findChild<QAction *>("mnuUndo");
    auto *redo = w.main.findChild<QAction *>("mnuRedo");
    QCOMPARE(undo->isEnabled(), !created.isEmpty());
    const int skipped = int(setup.count("Team there") + setup.count("Gym there"));
    if (command == "popCopyWeek" && prompt.shown.size() > 1)
        QCOMPARE(prompt.shown.at(1).text.contains("Already there"), skipped > 0);
    if (skipped > 0) {
        // The copies left out are named.
        const QString said = prompt.shown.at(1).text;
        QVERIFY2(said.contains(QStringLiteral("Already there, so not copied (%1):\r\nMon 12/14/2026 18:00-19:30  Team").arg(skipped)),
                 qPrintable(said));
        QCOMPARE(said.startsWith("There is nothing to create."), created.isEmpty());
    }
    if (created.isEmpty())
        return;
    // What was asked listed every row it then made.
    const QString asked = prompt.shown.at(1).text.section("\r\nAlready there", 0, 0);
    QVERIFY2(asked.startsWith(QStringLiteral("Create these %1 events?").arg(created.size())), qPrintable(asked));
    QCOMPARE(asked.section("\r\nAt the same time as other events of their staff member (", 1),
             setup.contains("Clash") ? QStringLiteral("1):\r\nThu 12/17/2026 09:00-10:00  Gym: %1 already has 'Clash' 09:30-10:30 that day.")
                                           .arg(db.scalar("SELECT ifnull(max(pocName), 'This staff member') FROM tblPOCs WHERE idPOC = 1").toString())
                                     : QString());
    QCOMPARE(asked.section("\r\nAt the same time", 0, 0).count(QStringLiteral("\r\n")),
             std::min<qsizetype>(created.size(), 13)); // 12 listed, then how many more

    // Undo takes back exactly those rows; redo makes them again, as often as asked.
    QCOMPARE(undo->text(), command == "popRepeatWeekly" ? "&Undo Repeat" : "&Undo Copy Week");
    if (setup == "retitled meanwhile") {
        // Asked once, the first twelve named; No keeps them all.
        db.exec("UPDATE tblScheduledEvents SET title = 'Theirs' WHERE EventTime >= '2026-12-14'");
        const QStringList theirs = rows(db);
        prompt.shown.clear();
        prompt.answers.enqueue(Prompt::Answer::No);
        undo->trigger();
        QCOMPARE(prompt.shown.size(), 1);
        const QStringList lines = prompt.shown.at(0).text.split("\r\n");
        QCOMPARE(lines.size(), 16);
        QCOMPARE(lines.at(0), "Someone else changed or deleted 14 of these events since:");
        QCOMPARE(lines.at(1), "Mon 12/14/2026 18:00  Team");
        QCOMPARE(lines.at(12), "Mon 3/1/2027 18:00  Team");
        QCOMPARE(lines.at(13), "... and 2 more");
        QCOMPARE(rows(db), theirs);
        return;
    }
    db.exec("UPDATE tblScheduledEvents SET title = 'Edited' WHERE title = 'Gym' AND EventTime LIKE '2026-12-10%'");
    const QStringList edited = rows(db);
    for (int round = 0; round < 2; ++round) {
        w.main.choose = "mnuUndo";
        w.main.ctlDayDetail_RightMouseClick(1, team);
        QCOMPARE(db.count("tblScheduledEvents"), before.size());
        QVERIFY(rows(db).contains("12-10 09:00 Edited"));
        QVERIFY(!undo->isEnabled());
        QCOMPARE(redo->text(), command == "popRepeatWeekly" ? "&Redo Repeat" : "&Redo Copy Week");
        redo->trigger();
        QCOMPARE(rows(db), edited);
    }
    // The week shown follows both.
    if (QTest::currentDataTag() == QLatin1String("copy week ahead")) {
        w.main.mView_DateClick(QDateTime(QDate(2026, 12, 16), QTime(0, 0)));
        QCOMPARE(shownTitles(w.main, 1), QStringList{"Team"});
        undo->trigger();
        QCOMPARE(shownTitles(w.main, 1), QStringList{});
    }
}

void tst_CalendarCommands::exportRanges_data()
{
    QTest::addColumn<int>("range");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QStringList>("typed"); // into the from and to pickers, each after a click on it
    const QStringList none;
    QTest::newRow("shown week") << int(frmCalendarFile::Range::ThisWeek) << QStringList{"Team", "Gym"} << false << none;
    QTest::newRow("this month") << int(frmCalendarFile::Range::ThisMonth) << QStringList{"Team", "Gym", "Match"} << false
                                << none;
    QTest::newRow("all") << int(frmCalendarFile::Range::All) << QStringList{"Old", "Team", "Gym", "Match"} << false << none;
    QTest::newRow("onto a full disk") << int(frmCalendarFile::Range::All) << QStringList{} << true << none;
    QTest::newRow("dates typed after a click") << int(frmCalendarFile::Range::FromTo) << QStringList{"Gym", "Match"} << false
                                               << QStringList{"12/12/2026", "1/02/2027"};
}

void tst_CalendarCommands::exportRanges()
{
    QFETCH(int, range);
    QFETCH(QStringList, titles);
    QFETCH(bool, diskFull);
    QFETCH(QStringList, typed);
    TestDatabase db;
    const int dana = db.addStaff("Dana", "");
    db.addEvent("Old", QDateTime(QDate(2025, 1, 5), QTime(8, 0)), QDateTime(QDate(2025, 1, 5), QTime(9, 0)), dana);
    db.addEvent("Team", at(6, 0), at(6, 1), dana);
    db.addEvent("Gym", at(12, 23, 59), at(13, 1), dana);
    db.addEvent("Match", at(31, 15), at(31, 17), dana);
    Window w(db);
    const QString path = db.folder() + "/out"; // the suffix is added
    db.modal().steps.enqueue([&](QDialog &d) {
        auto &dialog = dynamic_cast<frmCalendarFile &>(d);
        dialog.setRange(frmCalendarFile::Range(range));
        for (int i = 0; i < typed.size(); ++i) {
            auto *picker = dialog.findChild<QDateEdit *>(i == 0 ? "dtFrom" : "dtTo");
            QLineEdit *line = picker->findChild<QLineEdit *>();
            QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(6, line->height() / 2));
            QTest::qWait(0);
            QTest::keyClicks(picker, typed.at(i));
        }
        dialog.setFileName(path);
        dialog.accept();
    });
    if (diskFull) {
        // A child whose files may not grow past 512 bytes exports and tells what it showed.
        int channel[2];
        QVERIFY(pipe(channel) == 0);
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{512, 512};
            setrlimit(RLIMIT_FSIZE, &limit);
            w.trigger("mnuExportCalendar");
            const QByteArray out = (db.prompt().texts() << db.prompt().shown.value(0).details).join('\f').toUtf8();
            _exit(write(channel[1], out.constData(), out.size()) == out.size() ? 0 : 1);
        }
        close(channel[1]);
        QFile in;
        QVERIFY(in.open(channel[0], QIODevice::ReadOnly, QFile::AutoCloseHandle));
        const QStringList told = QString::fromUtf8(in.readAll()).split('\f');
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QCOMPARE(told.value(0), QStringLiteral("The calendar file could not be written.\r\nCannot write %1.ics. Make room on its disk "
                                               "or choose another place for it, then export again.").arg(path));
        QCOMPARE(told.value(1), QStringLiteral("File too large"));
        QVERIFY(!QFile::exists(path + ".ics"));
        return;
    }
    w.trigger("mnuExportCalendar");
    QCOMPARE(db.prompt().texts(), QStringList{QStringLiteral("Exported %1 events to %2.ics.").arg(titles.size()).arg(path)});
    QFile file(path + ".ics");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList got;
    for (const exchange::CalendarEvent &e : exchange::readCalendar(file.readAll(), QDate(2000, 1, 1), QDate(2100, 1, 1)).events)
        got << e.title;
    QCOMPARE(got, titles);
}

void tst_CalendarCommands::import_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("picks");
    QTest::addColumn<QString>("first");  // what the first import says
    QTest::addColumn<QString>("second"); // and the same file again
    QTest::addColumn<QStringList>("stored");
    const QByteArray head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\n";
    QTest::newRow("known and unknown staff, a rule, a cancelled one")
        << head + "BEGIN:VEVENT\r\nUID:1\r\nDTSTART:20261207T090000\r\nDTEND:20261207T100000\r\nSUMMARY:Run\r\nCONTACT:dana\r\n"
                  "RRULE:FREQ=WEEKLY;COUNT=9\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:2\r\nDTSTART;VALUE=DATE:20261208\r\nSUMMARY:Camp\r\nCONTACT:Someone Else\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:3\r\nDTSTART:20261209T090000\r\nSTATUS:CANCELLED\r\nSUMMARY:Off\r\nEND:VEVENT\r\n"
                  "END:VCALENDAR\r\n"
        << true << "Added 5 events.\r\nSkipped: 1 cancelled."
        << "Added 0 events.\r\nSkipped: 5 imported before, 1 cancelled."
        << QStringList{"12-07 09:00 Run 1", "12-08 00:00 Camp 2", "12-14 09:00 Run 1", "12-21 09:00 Run 1", "12-28 09:00 Run 1"};
    QTest::newRow("one unknown name on several events, asked once")
        << head + "BEGIN:VEVENT\r\nUID:1\r\nDTSTART:20261207T090000\r\nSUMMARY:Run\r\nCONTACT:Someone Else\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:2\r\nDTSTART:20261208T090000\r\nSUMMARY:Gym\r\nCONTACT: someone else\r\nEND:VEVENT\r\n"
                  "END:VCALENDAR\r\n"
        << true << "Added 2 events." << "Added 0 events.\r\nSkipped: 2 imported before."
        << QStringList{"12-07 09:00 Run 2", "12-08 09:00 Gym 2"};
    QTest::newRow("a zone found nowhere: named, the rest imported")
        << head + "BEGIN:VEVENT\r\nUID:1\r\nDTSTART;TZID=Mars/Olympus:20261207T090000\r\nSUMMARY:Far\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:2\r\nDTSTART:20261208T090000\r\nSUMMARY:Near\r\nCONTACT:Dana\r\nEND:VEVENT\r\n"
                  "END:VCALENDAR\r\n"
        << false
        << "Added 1 event.\r\nSkipped: 1 in a time zone the file does not define and Orvenna does not know: \"Far\" (Mars/Olympus)."
        << "" << QStringList{"12-08 09:00 Near 1"};
    // The range picked in the dialog reaches the reading whole, and no further.
    QTest::newRow("the chosen days' first and last, by their start")
        << head + "BEGIN:VEVENT\r\nUID:1\r\nDTSTART:20261130T233000\r\nDTEND:20261201T003000\r\nSUMMARY:Before\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:2\r\nDTSTART:20261201T000000\r\nSUMMARY:First\r\nCONTACT:Dana\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:3\r\nDTSTART:20261231T233000\r\nSUMMARY:Last\r\nCONTACT:Dana\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:4\r\nDTSTART:20270101T000000\r\nSUMMARY:After\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"
        << false << "Added 2 events.\r\nSkipped: 2 outside the chosen dates." << ""
        << QStringList{"12-01 00:00 First 1", "12-31 23:30 Last 1"};
    QTest::newRow("no such file") << QByteArray("<no file>") << false
                                  << "The calendar file could not be read.\r\nNo such file or directory" << "" << QStringList{};
    // Opened, then the reading fails: this process's memory at address 0.
    QTest::newRow("a read that fails") << QByteArray("<read fails>") << false
                                       << "The calendar file could not be read.\r\nInput/output error" << "" << QStringList{};
    QTest::newRow("malformed: refused with its line, nothing written")
        << head + "BEGIN:VEVENT\r\nUID:1\r\nDTSTART:20261207T090000\r\nSUMMARY:Run\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nUID:2\r\nDTSTART:20261207T25\r\nSUMMARY:Bad\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"
        << false << "%1 is no calendar file Orvenna can read: line 11: libical cannot read this line: DTSTART:20261207T25\r\n"
                    "Nothing was imported."
        << "" << QStringList{};
}

void tst_CalendarCommands::import()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, picks);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, stored);
    TestDatabase db;
    db.addStaff("Dana", "");
    const int marco = db.addStaff("Marco", "");
    const QString path = db.folder() + "/in.ics";
    QFile file(path);
    if (text == "<read fails>") {
        QVERIFY(QFile::link("/proc/self/mem", path));
    } else if (text != "<no file>") {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
    }
    Window w(db);
    auto importOnce = [&] {
        db.prompt().shown.clear();
        db.modal().shownNames.clear();
        db.modal().steps.enqueue([&](QDialog &d) {
            auto &dialog = dynamic_cast<frmCalendarFile &>(d);
            dialog.setFromTo(QDate(2026, 12, 1), QDate(2026, 12, 31));
            dialog.setFileName(path);
            dialog.accept();
        });
        db.modal().steps.enqueue([&](QDialog &d) {
            auto &pick = dynamic_cast<frmStaffPick &>(d);
            QCOMPARE(d.findChild<QLabel *>("lblQuestion")->text(),
                     QStringLiteral("No staff member is called Someone Else.\r\nWhose events should those be?"));
            pick.selectStaff(marco);
            pick.accept();
        });
        w.trigger("mnuImportCalendar");
        db.modal().steps.clear();
    };
    importOnce();
    QCOMPARE(db.modal().shownNames.contains("frmStaffPick"), picks);
    QCOMPARE(db.prompt().texts(), QStringList{first.contains("%1") ? first.arg(path) : first});
    QCOMPARE(db.modal().shownNames.count("frmStaffPick"), picks ? 1 : 0);
    QCOMPARE(db.scalar("SELECT ifnull(group_concat(r, ' | '), '') FROM (SELECT substr(EventTime, 6, 11) || ' ' || title || ' ' "
                       "|| idPOC AS r FROM tblScheduledEvents ORDER BY EventTime)")
                 .toString()
                 .split(" | ", Qt::SkipEmptyParts),
             stored);
    if (!stored.isEmpty()) {
        // One step takes the whole import back; redo puts it back under the
        // same keys, so a second import still knows it.
        QAction *undo = w.main.findChild<QAction *>("mnuUndo");
        QCOMPARE(undo->text(), "&Undo Import Calendar");
        const QVariant rows = db.scalar("SELECT group_concat(idScheduledEvent || title, '|') FROM tblScheduledEvents");
        undo->trigger();
        QCOMPARE(db.count("tblScheduledEvents"), 0);
        w.main.findChild<QAction *>("mnuRedo")->trigger();
        QCOMPARE(db.scalar("SELECT group_concat(idScheduledEvent || title, '|') FROM tblScheduledEvents"), rows);
    }
    if (second.isEmpty())
        return;
    importOnce();
    QCOMPARE(db.prompt().texts(), QStringList{second});
    QCOMPARE(db.count("tblScheduledEvents"), stored.size());
}

void tst_CalendarCommands::importHostile_data()
{
    QTest::addColumn<QByteArray>("rule"); // of one event at 9:00 on 12/7
    QTest::addColumn<QString>("act");     // "yes", "no", "cancel" or "full"
    QTest::addColumn<QString>("told");    // every box, %1 the database
    QTest::addColumn<int>("stored");
    QStringList first12;
    for (int i = 0; i < 12; ++i)
        first12 << QStringLiteral("Mon 12/7/2026 09:%1-09:%1  Tick").arg(i, 2, 10, QLatin1Char('0'));
    const QString asked = "Import these 1001 events?\r\n" + first12.join("\r\n") + "\r\n... and 989 more";
    QTest::newRow("1,000 events: not asked") << QByteArray("FREQ=MINUTELY;COUNT=1000") << "yes" << "Added 1000 events." << 1000;
    QTest::newRow("1,001 events: asked, No") << QByteArray("FREQ=MINUTELY;COUNT=1001") << "no" << asked << 0;
    QTest::newRow("1,001 events: asked, Yes") << QByteArray("FREQ=MINUTELY;COUNT=1001") << "yes" << asked + "\nAdded 1001 events."
                                              << 1001;
    QTest::newRow("more than 200,000 events: refused")
        << QByteArray("FREQ=SECONDLY") << "no"
        << "%2 is no calendar file Orvenna can read: line 4: More than 200,000 events start between the chosen dates; Orvenna "
           "imports at most that many at a time. Choose fewer days.\r\nNothing was imported." << 0;
    // libical steps sixty times for each occurrence, from 1990 on: Cancel stops it.
    QTest::newRow("cancelled while reading") << QByteArray("FREQ=SECONDLY;BYSECOND=0;COUNT=2000000000") << "cancel" << "" << 0;
    QTest::newRow("the disk full at the commit")
        << QByteArray("FREQ=HOURLY;COUNT=400") << "full"
        << "An error occured while importing; nothing was imported.\r\nThe disk that holds the calendar file %1 is full. "
           "Free some space on it, then try again.\ndatabase or disk is full" << 0;
}

void tst_CalendarCommands::importHostile()
{
    QFETCH(QByteArray, rule);
    QFETCH(QString, act);
    QFETCH(QString, told);
    QFETCH(int, stored);
    TestDatabase db;
    db.addStaff("Dana", "");
    QTemporaryDir files;
    const QString path = files.path() + "/in.ics";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:1\r\n"
               + QByteArray(act == "cancel" ? "DTSTART:19900101T000000" : "DTSTART:20261207T090000")
               + "\r\nDESCRIPTION:" + QByteArray(300, 'd') + "\r\nSUMMARY:Tick\r\nCONTACT:Dana\r\nRRULE:" + rule
               + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    file.close();

    // The calendar's folder on a disk of its own with room for the transaction's journal, not for the new rows.
    struct Disk
    {
        QString folder;
        ~Disk()
        {
            if (!folder.isEmpty())
                umount(folder.toLocal8Bit().constData());
        }
    } disk;
    if (act == "full") {
        if (geteuid() != 0)
            QSKIP("A disk of its own needs the superuser.");
        QFile dbFile(db.path());
        QVERIFY(dbFile.open(QIODevice::ReadOnly));
        const QByteArray bytes = dbFile.readAll();
        dbFile.close();
        const QByteArray size = QByteArray::number((bytes.size() / 4096 + 24) * 4096);
        QVERIFY2(mount("tmpfs", db.folder().toLocal8Bit().constData(), "tmpfs", 0, ("size=" + size).constData()) == 0,
                 strerror(errno));
        disk.folder = db.folder();
        QVERIFY(dbFile.open(QIODevice::WriteOnly));
        QCOMPARE(dbFile.write(bytes), bytes.size());
        dbFile.close();
        QFile filler(db.folder() + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(16 * 4096, 'f'));
        filler.close();
    }

    Window w(db);
    db.modal().steps.enqueue([&](QDialog &d) {
        auto &dialog = dynamic_cast<frmCalendarFile &>(d);
        dialog.setFromTo(QDate(2026, 12, 1), QDate(2026, 12, 31));
        dialog.setFileName(path);
        dialog.accept();
    });
    if (act == "no")
        db.prompt().answers.enqueue(Prompt::Answer::No);
    bool cancelled = false;
    if (act == "cancel") {
        // The window stays alive while the file is read: its progress window shows, and Cancel is pressed.
        auto *poll = new QTimer(&w.main);
        QObject::connect(poll, &QTimer::timeout, [&] {
            auto *progress = w.main.findChild<QProgressDialog *>("dlgImportProgress");
            if (!progress || !progress->isVisible() || cancelled)
                return;
            const QList<QPushButton *> buttons = progress->findChildren<QPushButton *>();
            QCOMPARE(buttons.size(), 1);
            QTest::mouseClick(buttons.first(), Qt::LeftButton);
            cancelled = true;
        });
        poll->start(20);
    }
    w.trigger("mnuImportCalendar");
    QCOMPARE(cancelled, act == "cancel");
    QStringList shown = db.prompt().texts();
    if (act == "full")
        shown << db.prompt().shown.value(0).details.section(QLatin1Char(':'), -1).trimmed();
    QCOMPARE(shown.join("\n"), told.contains("%1") ? told.arg(db.path()) : told.contains("%2") ? told.arg(path) : told);
    QCOMPARE(db.count("tblScheduledEvents"), stored);
}

void tst_CalendarCommands::weekPlan_data()
{
    QTest::addColumn<int>("perDay");    // events on each of the days
    QTest::addColumn<QList<int>>("days"); // of December 2026
    QTest::addColumn<bool>("longOnes"); // in each row of the week one day has a long description
    QTest::addColumn<bool>("onlyMarco");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("mostPages"); // how many a day's column takes depends on the fonts at hand
    const QList<int> week{6, 7, 8, 9, 10, 11, 12};
    QTest::newRow("a usual week on one page") << 3 << QList<int>{7, 10} << false << false << 1 << 1;
    QTest::newRow("one staff member's") << 3 << QList<int>{7, 10} << false << true << 1 << 1;
    QTest::newRow("a full week of 42 on one page") << 6 << week << false << false << 1 << 1;
    // A row per page would waste the rest of each row beside the long one.
    QTest::newRow("63 events on two pages, no event cut") << 9 << week << true << false << 2 << 2;
    QTest::newRow("a long day goes on, no event cut") << 14 << QList<int>{7, 10} << false << false << 2 << 3;
    // 0 pages: weekPlan.html is a folder, so the plan cannot be written.
    QTest::newRow("plan file not writable") << 1 << QList<int>{7} << false << false << 0 << 0;
}

void tst_CalendarCommands::weekPlan()
{
    QFETCH(int, perDay);
    QFETCH(QList<int>, days);
    QFETCH(bool, longOnes);
    QFETCH(bool, onlyMarco);
    QFETCH(int, pages);
    QFETCH(int, mostPages);
    TestDatabase db;
    const int dana = db.addStaff("Dana Weber", "");
    const int marco = db.addStaff("Marco Reyes", "");
    for (int i = 0; i < perDay; ++i) {
        for (int day : days) {
            const QString n = QStringLiteral("%1-%2").arg(day).arg(i, 2, 10, QLatin1Char('0'));
            db.addEvent("Drill " + n, at(day, 8 + i / 2, 30 * (i % 2)), at(day, 9 + i / 2, 30 * (i % 2)), i % 2 ? marco : dana,
                        (longOnes && i % 7 == days.indexOf(day) ? "Begins " + n + " with the cones set out in two lines ten metres apart\r\n"
                                                      "Second line on where the players stand and who starts with the ball"
                                                    : "Begins " + n + "\r\nSecond line")
                            + "\r\n\r\nThird line ends " + n + "\r\nFourth line not shown");
        }
    }
    db.addEvent("Next week", at(14, 9), at(14, 10), dana);
    // Description and notes another tool left NULL read as empty.
    db.addEvent("Left blank", at(8, 8), at(8, 9), marco);
    db.exec("UPDATE tblScheduledEvents SET Description = NULL, Notes = NULL WHERE title = 'Left blank'");
    const QByteArray report = "<html>an earlier report</html>\r\n";
    QFile reportFile(db.folder() + "/printEvent.html");
    QVERIFY(reportFile.open(QIODevice::WriteOnly));
    reportFile.write(report);
    reportFile.close();

    if (pages == 0)
        QVERIFY(QDir(db.folder()).mkdir("weekPlan.html"));
    // The plan's style sheet is the one beside it, whatever folder the program was started in.
    QTemporaryDir elsewhere;
    QVERIFY(QDir(elsewhere.path()).mkpath("css"));
    QFile otherSheet(elsewhere.path() + "/css/css.css");
    QVERIFY(otherSheet.open(QIODevice::WriteOnly));
    otherSheet.write("td, p { font-size: 30pt; }\n");
    otherSheet.close();
    const QString startedIn = QDir::currentPath();
    const auto back = qScopeGuard([&startedIn] { QDir::setCurrent(startedIn); });
    QVERIFY(QDir::setCurrent(elsewhere.path()));

    Window w(db);
    const QString pdf = db.folder() + "/plan.pdf";
    db.modal().steps.enqueue([&](QDialog &d) {
        dynamic_cast<frmStaffPick &>(d).selectStaff(onlyMarco ? marco : 0);
        d.accept();
    });
    db.modal().steps.enqueue([&](QDialog &d) {
        // A plan gathers no further events.
        QCOMPARE(d.windowTitle(), QStringLiteral("Print Week Plan"));
        QVERIFY(d.findChild<QPushButton *>("cmdAddEvent")->isHidden());
        auto &browser = dynamic_cast<ReportBrowser &>(dynamic_cast<frmPrint &>(d).WebBrowser1());
        browser.printer().setOutputFileName(pdf);
        browser.exec(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER);
    });
    w.trigger("mnuPrintWeekPlan");
    if (pages == 0) {
        // A write that failed is not called a failed read; the event report is left alone.
        QCOMPARE(db.modal().shownNames, QStringList{"frmStaffPick"});
        QCOMPARE(db.prompt().texts().size(), 1);
        QVERIFY2(db.prompt().texts().at(0).startsWith("An error occured while writing the week plan.\r\n"),
                 qPrintable(db.prompt().texts().at(0)));
        QVERIFY(reportFile.open(QIODevice::ReadOnly));
        QCOMPARE(reportFile.readAll(), report);
        return;
    }
    QCOMPARE(db.modal().shownNames, (QStringList{"frmStaffPick", "frmPrint"}));
    QCOMPARE(db.prompt().texts(), QStringList{});

    const QString info = run("pdfinfo", {pdf});
    const QRegularExpressionMatch printed = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)\\n")).match(info);
    QVERIFY2(printed.captured(1).toInt() >= pages && printed.captured(1).toInt() <= mostPages, qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression("Page size:\\s+842 x 595 ")), qPrintable(info)); // A4 landscape
    const QStringList text = run("pdftotext", {"-layout", pdf, "-"}).split(QLatin1Char('\f'));
    const QString all = text.join(QString());
    QVERIFY(all.contains("Week Plan"));
    QVERIFY(!all.contains("Next week"));
    QVERIFY(all.contains("Left blank"));
    QVERIFY(!all.contains("Fourth line"));
    // Later pages say that the week goes on.
    for (int p = 0; p < text.size(); ++p)
        QCOMPARE(text[p].contains("(continued)"), p > 0 && !text[p].trimmed().isEmpty());
    for (int i = 0; i < perDay; ++i) {
        for (int day : days) {
            const QString n = QStringLiteral("%1-%2").arg(day).arg(i, 2, 10, QLatin1Char('0'));
            const bool shown = !onlyMarco || i % 2;
            QCOMPARE(all.contains("Drill " + n), shown);
            if (!shown)
                continue;
            // Title, staff member and the description's last shown line on one page.
            int pageOfTitle = -1, pageOfEnd = -1;
            for (int p = 0; p < text.size(); ++p) {
                if (text[p].contains("Drill " + n))
                    pageOfTitle = p;
                if (text[p].contains("ends " + n))
                    pageOfEnd = p;
            }
            QVERIFY2(pageOfTitle >= 0 && pageOfTitle == pageOfEnd, qPrintable(n));
        }
    }
    QVERIFY2(all.contains(onlyMarco ? "08:30-09:30" : "08:00-09:00"), qPrintable(all));
    QVERIFY2(all.contains("Dana Weber") == !onlyMarco, qPrintable(all));
    QVERIFY(all.contains("Marco Reyes"));

    QVERIFY(reportFile.open(QIODevice::ReadOnly));
    QCOMPARE(reportFile.readAll(), report);
}

QTEST_MAIN(tst_CalendarCommands)
#include "tst_calendarcommands.moc"
