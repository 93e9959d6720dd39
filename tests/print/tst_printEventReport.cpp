#include "print/frmPrint.h"
#include "print/mdlEventsGlobals.h"
#include "store/Connection.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace g = mdlEventsGlobals;

namespace {

// The report as the file lays it out: the head, a line each; the body opening follows the last on its line.
const char *const kHead[] = {
    R"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN" "http://www.w3.org/TR/html4/loose.dtd"> )",
    "<html>", "<head>", R"(<meta http-equiv="Content-Type" content="text/html; charset=iso-8859-1">)",
    "<title>Orvenna Event Calendar</title>", R"(<style type="text/css">)", "<!-- ", R"(@import url("css/css.css"); )",
    "body { ", "margin-left: 0px; ", "margin-top: 0px; ", "margin-right: 0px; ", "margin-bottom: 0px; ", "} ",
    "a:link { text-decoration: none; } ", "a:visited { text-decoration: none; } ",
    "a:hover { text-decoration: underline; } ", "a:active { text-decoration: none; } ",
    "P.breakhere { page-break-before: always } ", "--> ", "</style> ", "</head> "};

// An event's block: each line is its indent, then its text; '|' also ends a line. %1 to %7 are the title, staff
// member, start, end, description, notes and staff description.
const char kBlock[] = R"(0<table width="100%"  border="0" cellpadding="0" cellspacing="0">
2<tr><td class="head_title">%1</td></tr>|2<tr><td class="header_line">&nbsp; </td></tr>|2<tr><td bgcolor="#FFFFFF">
8<table width="100%"  border="0" cellpadding="0" cellspacing="1" bgcolor="#6B9A6D">|10<tr>
12<td valign="top" bgcolor="#FFFFFF">|14<table width="100%"  border="0" cellspacing="0" cellpadding="0">|16<tr>
18<td valign="top">|20<div align="left">
22<table width="100%"  border="0" cellpadding="0" cellspacing="0" class="all_headline">|24<tr>|26<td>&nbsp;</td>
26<td>POINT OF CONTACT: &nbsp; &nbsp;%2</td>|24</tr>|22</table>|20</div>|18</td>|16</tr>|16<tr>|18<td>|20<table>
22<tr>|24<td>|26<table border="0" align="left" cellpadding="0" cellspacing="1" bgcolor="#4A4A4A">
28<tr><td colspan="3" class="top_menu" ><div align="left" class="bg_table_sab"><strong>DATE and TIME</strong></div></td></tr>
28<tr bgcolor="#FFFFFF" class="text_all"><td width="55"><strong>START:</strong></td><td><div>%3</div></td></tr>
28<tr bgcolor="#FFFFFF" class="text_all"><td width="55"><strong>END:</strong></td><td><div>%4</div></td></tr>
26</table>|23</td>|21</tr>|19</table>|19<hr>|17</td>|15</tr>|15<tr>|17<td valign="top">
19<table width="990" align="center" class="table_all">
21<tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">EVENT</td></tr>
21<tr><td bgcolor="#FFFFFF" class="text_all">%5</td></tr>|19</table>|16</td>|14</tr>|14<tr>|16<td valign="top">
18<table width="990" align="center" class="table_all">
20<tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">NOTES</td></tr>
20<tr><td bgcolor="#FFFFFF" class="text_all">%6</td></tr>|17</table>|15</td>|13</tr>|13<tr>|15<td valign="top">
17<table width="990" align="center" class="table_all">
19<tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">INFORMATION:  POC</td></tr>
19<tr><td bgcolor="#FFFFFF" class="text_all">%7</td></tr>|17</table>|14</td>|12</tr>|9</td>|6</tr>|4</td>|2</tr>|0</table>)";

// The report of the sample events given by number (1 to 3) as the file shows them: CR LF becomes <P> but in the
// title, other line ends and markup stay, a character beyond ISO-8859-1 becomes a reference. A negative number:
// that sample without description and notes.
QByteArray expectedReport(const QList<int> &samples)
{
    QStringList head, blocks;
    for (const char *line : kHead)
        head << QLatin1String(line);
    QString block;
    for (const QString &line : QString::fromLatin1(kBlock).split(QRegularExpression(QStringLiteral("[|\n]")))) {
        const qsizetype text = line.indexOf(QLatin1Char('<'));
        block += QString(line.left(text).toInt(), QLatin1Char(' ')) + line.mid(text) + QStringLiteral("\r\n");
    }
    const QStringList days{"Friday", "Saturday", "Sunday"};
    for (int sample : samples) {
        const int n = qAbs(sample);
        const QString date = QStringLiteral("%1, %2 March 2024 ").arg(days[n - 1]).arg(n);
        blocks << block.arg(QStringLiteral("Drill %1 &#937; & <i>&#128512;</i>\r\nsquad").arg(n),
                            QStringLiteral("Coach \u00c5sa Lind"), date + QStringLiteral("09:30:00"),
                            date + QStringLiteral("11:00:00"),
                            sample < 0 ? QString() : QStringLiteral("Passing\r<P>in pairs %1\nthen\rshoot").arg(n),
                            sample < 0 ? QString() : QStringLiteral("Bring<P>cones %1").arg(n),
                            QStringLiteral("Goalkeeping<P>Room 12"));
    }
    const QString report = head.join(QStringLiteral("\r\n")) + QStringLiteral("<body>\r\n")
                           + blocks.join(QStringLiteral("\r\n<p class='breakhere'>&nbsp;</p>\r\n"));
    return (report + QStringLiteral("</body></html>\r\n")).toLatin1();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class tst_printEventReport : public QObject
{
    Q_OBJECT

    // One program folder per test.
    struct Fixture
    {
        TestDatabase db;
        int staff = db.addStaff(QStringLiteral("Coach \u00c5sa Lind"), QStringLiteral("Goalkeeping\r\nRoom 12"));
        QString reportPath() const { return db.folder() + QStringLiteral("/printEvent.html"); }
        int addSample(int n)
        {
            const QDateTime start(QDate(2024, 3, n), QTime(9, 30), Qt::UTC);
            return db.addEvent(QStringLiteral("Drill %1 \u03a9 & <i>\U0001F600</i>\r\nsquad").arg(n), start,
                               start.addSecs(5400), staff,
                               QStringLiteral("Passing\r\r\nin pairs %1\nthen\rshoot").arg(n),
                               QStringLiteral("Bring\r\ncones %1").arg(n));
        }
    };

private slots:
    void init() { g::addToReport = false; }
    void gatheredReport_data();
    void gatheredReport();
    void failure_data();
    void failure();
};

void tst_printEventReport::gatheredReport_data()
{
    // One character per print from the main window: 'a' presses Add Event in the window, 'c' closes it with the
    // close box; '-' prints with no event selected, 'o' an event whose staff member is gone (no window shows;
    // a notice says why), 'p' like 'o' an event whose staff member another tool left NULL, 'n' like 'c' an event
    // whose description and notes another tool left NULL.
    QTest::addColumn<QString>("prints");
    QTest::addColumn<QList<int>>("inReport"); // the prints whose events the last report holds
    QTest::newRow("one event, its values converted") << "c" << QList<int>{1};
    QTest::newRow("three gathered, two Add Event presses") << "aac" << QList<int>{1, 2, 3};
    QTest::newRow("fresh after the close box") << "acc" << QList<int>{3};
    QTest::newRow("no event found, still appending") << "a-c" << QList<int>{1, 3};
    QTest::newRow("staff member gone, still appending") << "aoc" << QList<int>{1, 3};
    QTest::newRow("staff member left NULL") << "pc" << QList<int>{2};
    QTest::newRow("texts left NULL print empty") << "n" << QList<int>{-1};
}

void tst_printEventReport::gatheredReport()
{
    QFETCH(QString, prints);
    QFETCH(QList<int>, inReport);
    Fixture f;
    for (int n = 1; n <= prints.size(); ++n) {
        const QChar step = prints.at(n - 1);
        const int key = step == QLatin1Char('-') ? -1 : f.addSample(n);
        if (step == QLatin1Char('n'))
            f.db.exec(QStringLiteral("UPDATE tblScheduledEvents SET Description = NULL, Notes = NULL WHERE "
                                     "idScheduledEvent = %1").arg(key));
        if (step == QLatin1Char('o'))
            f.db.exec(QStringLiteral("UPDATE tblScheduledEvents SET idPOC = 0 WHERE idScheduledEvent = %1").arg(key));
        if (step == QLatin1Char('p'))
            f.db.exec(QStringLiteral("UPDATE tblScheduledEvents SET idPOC = NULL WHERE idScheduledEvent = %1").arg(key));
        if (step == QLatin1Char('a'))
            f.db.modal().steps.enqueue([](QDialog &w) { static_cast<frmPrint &>(w).frmPrint_cmdAddEvent_Click(); });
        store::Connection conn; // as the popup menu prints
        conn.open(f.db.connectionString());
        g::printEventReport(f.db.services, key, conn);
        QVERIFY(!conn.isOpen());
    }
    QCOMPARE(readAll(f.reportPath()), expectedReport(inReport));
    const qsizetype presses = prints.count(QLatin1Char('a'));
    QCOMPARE(f.db.modal().shownNames.size(), presses + prints.count(QLatin1Char('c')) + prints.count(QLatin1Char('n')));
    // The Add Event notices, and what to do about each event without its staff member.
    QStringList notices;
    for (int n = 1; n <= prints.size(); ++n) {
        if (prints.at(n - 1) == QLatin1Char('a'))
            notices << QStringLiteral("From the main window, select another event and then select the print feature again.");
        if (prints.at(n - 1) == QLatin1Char('o') || prints.at(n - 1) == QLatin1Char('p'))
            notices << QStringLiteral("The event 'Drill %1 \u03a9 & <i>\U0001F600</i>\r\nsquad' cannot be printed: the "
                                      "staff member it names no longer exists.\r\nPick another staff member in the "
                                      "event's Staff Member list, choose Save and Close, then print it again.").arg(n);
    }
    QCOMPARE(f.db.prompt().texts(), notices);
    QVERIFY(!g::addToReport);
}

void tst_printEventReport::failure_data()
{
    QTest::addColumn<QString>("obstacle"); // SQL run before printing, or what is in the report file's way
    QTest::addColumn<QString>("reason");
    QTest::newRow("null title") << "UPDATE tblScheduledEvents SET title = NULL"
                                << "Invalid use of Null: column 'title'.";
    QTest::newRow("start not a date")
        << "UPDATE tblScheduledEvents SET EventTime = 'soon'" << "Type mismatch: 'soon' is not a date and time.";
    QTest::newRow("a folder at the report path") << "folder" << "Filename refers to a directory";
    QTest::newRow("folder not writable") << "read-only" << "Permission denied";
    // A full disk, as a file size limit that makes the writes fail part way.
    QTest::newRow("disk full") << "full" << "File too large";
}

void tst_printEventReport::failure()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, reason);
    Fixture f;
    const int key = f.addSample(1);
    const QString path = f.reportPath();
    const bool folder = obstacle == QLatin1String("folder"), readOnly = obstacle == QLatin1String("read-only"),
               full = obstacle == QLatin1String("full");
    QFile old(path);
    QVERIFY(folder ? QDir(f.db.folder()).mkdir(path) : old.open(QIODevice::WriteOnly) && old.write("old report") > 0);
    old.close();
    if (obstacle.startsWith(QLatin1String("UPDATE")))
        f.db.exec(obstacle);
    else
        reason = QStringLiteral("Cannot %1 the report file '%2': %3").arg(full ? "write" : "create", path, reason);
    if (readOnly)
        QFile::setPermissions(f.db.folder(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    // The superuser may write anywhere: then print as nobody, on a connection opened before.
    store::Connection conn;
    conn.open(f.db.connectionString());
    const bool asNobody = readOnly && geteuid() == 0;
    if (asNobody)
        QVERIFY(seteuid(65534) == 0);
    // The boxes shown and the windows opened, one per line.
    QStringList told;
    if (full) {
        // A child process whose files may not grow past 1 KB writes the report and tells what it showed.
        int channel[2];
        QVERIFY(pipe(channel) == 0);
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            g::printEventReport(f.db.services, key, conn);
            const QByteArray out = (f.db.prompt().texts() + f.db.modal().shownNames).join('\n').toUtf8();
            _exit(write(channel[1], out.constData(), out.size()) == out.size() ? 0 : 1);
        }
        close(channel[1]);
        QFile in;
        QVERIFY(in.open(channel[0], QIODevice::ReadOnly, QFile::AutoCloseHandle));
        told = QString::fromUtf8(in.readAll()).split('\n');
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        conn.close();
    } else {
        g::printEventReport(f.db.services, key, conn);
        told = f.db.prompt().texts() + f.db.modal().shownNames;
    }
    if (asNobody)
        QVERIFY(seteuid(0) == 0);
    QVERIFY(!conn.isOpen());
    QFile::setPermissions(f.db.folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString heading = obstacle.startsWith(QLatin1String("UPDATE")) ? "An error occured while loading the record."
                                                                         : "An error occured while writing the report.";
    QCOMPARE(told.join(QLatin1Char('\n')), heading + "\r\n" + reason);
    if (folder)
        QVERIFY(QFileInfo(path).isDir());
    else
        QCOMPARE(readAll(path), QByteArray("old report"));
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_printEventReport)
#include "tst_printEventReport.moc"
