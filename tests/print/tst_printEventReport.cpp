#include "FakeBrowser.h"
#include "print/EventReport.h"
#include "print/mdlEventsGlobals.h"
#include "print/ReportFile.h"
#include "store/Connection.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace g = mdlEventsGlobals;

namespace {

const char *const kCrLf = "\r\n";

// The report as the file format lays it out, typed out here once and filled in.
const char *const kHeadLines[] = {
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" \"http://www.w3.org/TR/html4/loose.dtd\"> ",
    "<html>",
    "<head>",
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">",
    "<title>Orvenna Event Calendar</title>",
    "<style type=\"text/css\">",
    "<!-- ",
    "@import url(\"css/css.css\"); ",
    "body { ",
    "margin-left: 0px; ",
    "margin-top: 0px; ",
    "margin-right: 0px; ",
    "margin-bottom: 0px; ",
    "} ",
    "a:link { text-decoration: none; } ",
    "a:visited { text-decoration: none; } ",
    "a:hover { text-decoration: underline; } ",
    "a:active { text-decoration: none; } ",
    "P.breakhere { page-break-before: always } ",
    "--> ",
    "</style> ",
    "</head> ",
};

const char *const kBlock = R"(<table width="100%"  border="0" cellpadding="0" cellspacing="0">
  <tr><td class="head_title">{TITLE}</td></tr>
  <tr><td class="header_line">&nbsp; </td></tr>
  <tr><td bgcolor="#FFFFFF">
        <table width="100%"  border="0" cellpadding="0" cellspacing="1" bgcolor="#6B9A6D">
          <tr>
            <td valign="top" bgcolor="#FFFFFF">
              <table width="100%"  border="0" cellspacing="0" cellpadding="0">
                <tr>
                  <td valign="top">
                    <div align="left">
                      <table width="100%"  border="0" cellpadding="0" cellspacing="0" class="all_headline">
                        <tr>
                          <td>&nbsp;</td>
                          <td>POINT OF CONTACT: &nbsp; &nbsp;{POC}</td>
                        </tr>
                      </table>
                    </div>
                  </td>
                </tr>
                <tr>
                  <td>
                    <table>
                      <tr>
                        <td>
                          <table border="0" align="left" cellpadding="0" cellspacing="1" bgcolor="#4A4A4A">
                            <tr><td colspan="3" class="top_menu" ><div align="left" class="bg_table_sab"><strong>DATE and TIME</strong></div></td></tr>
                            <tr bgcolor="#FFFFFF" class="text_all"><td width="55"><strong>START:</strong></td><td><div>{START}</div></td></tr>
                            <tr bgcolor="#FFFFFF" class="text_all"><td width="55"><strong>END:</strong></td><td><div>{END}</div></td></tr>
                          </table>
                       </td>
                     </tr>
                   </table>
                   <hr>
                 </td>
               </tr>
               <tr>
                 <td valign="top">
                   <table width="990" align="center" class="table_all">
                     <tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">EVENT</td></tr>
                     <tr><td bgcolor="#FFFFFF" class="text_all">{DESC}</td></tr>
                   </table>
                </td>
              </tr>
              <tr>
                <td valign="top">
                  <table width="990" align="center" class="table_all">
                    <tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">NOTES</td></tr>
                    <tr><td bgcolor="#FFFFFF" class="text_all">{NOTES}</td></tr>
                 </table>
               </td>
             </tr>
             <tr>
               <td valign="top">
                 <table width="990" align="center" class="table_all">
                   <tr><td bgcolor="#FFFFFF" class="bg_table_sab" width="183">INFORMATION:  POC</td></tr>
                   <tr><td bgcolor="#FFFFFF" class="text_all">{POCDESC}</td></tr>
                 </table>
              </td>
            </tr>
         </td>
      </tr>
    </td>
  </tr>
</table>
)";

struct Event
{
    QString title;
    QString poc;
    QString start; // as the report shows it
    QString end;
    QString description;
    QString notes;
    QString pocDescription;
};

QByteArray expectedHead()
{
    QByteArray out;
    for (const char *line : kHeadLines)
        out += QByteArray(line) + kCrLf;
    out.chop(2); // the body opening follows on the same line
    return out;
}

QByteArray expectedBlock(const Event &e)
{
    QString text = QString::fromLatin1(kBlock);
    text.replace(QStringLiteral("{TITLE}"), e.title)
        .replace(QStringLiteral("{POC}"), e.poc)
        .replace(QStringLiteral("{START}"), e.start)
        .replace(QStringLiteral("{END}"), e.end)
        .replace(QStringLiteral("{DESC}"), e.description)
        .replace(QStringLiteral("{NOTES}"), e.notes)
        .replace(QStringLiteral("{POCDESC}"), e.pocDescription);
    return text.toLatin1().replace("\n", kCrLf);
}

QByteArray expectedReport(const QList<Event> &events)
{
    QByteArray out = expectedHead() + "<body>" + kCrLf;
    for (int i = 0; i < events.size(); ++i) {
        if (i > 0)
            out += QByteArray(kCrLf) + "<p class='breakhere'>&nbsp;</p>" + kCrLf;
        out += expectedBlock(events.at(i));
    }
    return out + "</body></html>" + kCrLf;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QDateTime at(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::UTC);
}

void clickAddEvent(QDialog &window)
{
    auto *button = window.findChild<QPushButton *>(QStringLiteral("cmdAddEvent"));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class tst_printEventReport : public QObject
{
    Q_OBJECT

private:
    // One program folder per test, printing through a fake view.
    struct Fixture
    {
        TestDatabase db;
        FakeBrowserFactory browsers;
        int staff = 0;
        Fixture()
        {
            db.services.browsers = &browsers;
            staff = db.addStaff(QStringLiteral("Coach Petra Lind"), QStringLiteral("Goalkeeping\r\nRoom 12"));
        }
        QString reportPath() const { return db.folder() + QStringLiteral("/printEvent.html"); }
        // Prints like the popup menu does; `then` is what the user does in the window.
        void print(int key, FakeModal::Step then = {})
        {
            if (then)
                db.modal().steps.enqueue(then);
            store::Connection conn;
            conn.open(db.connectionString());
            g::printEventReport(db.services, key, conn);
            QVERIFY2(!conn.isOpen(), "the generator closes the connection");
        }
    };

    int addSample(Fixture &f, int n)
    {
        return f.db.addEvent(QStringLiteral("Drill %1").arg(n), at(2024, 3, n, 9, 30), at(2024, 3, n, 11, 0), f.staff,
                             QStringLiteral("Passing\r\nin pairs %1").arg(n), QStringLiteral("Bring cones %1").arg(n));
    }

    static Event sampleExpected(int n)
    {
        Event e;
        e.title = QStringLiteral("Drill %1").arg(n);
        e.poc = QStringLiteral("Coach Petra Lind");
        static const char *const days[] = {"Friday", "Saturday", "Sunday"};
        e.start = QStringLiteral("%1, %2 March 2024 09:30:00").arg(QLatin1String(days[n - 1])).arg(n);
        e.end = QStringLiteral("%1, %2 March 2024 11:00:00").arg(QLatin1String(days[n - 1])).arg(n);
        e.description = QStringLiteral("Passing<P>in pairs %1").arg(n);
        e.notes = QStringLiteral("Bring cones %1").arg(n);
        e.pocDescription = QStringLiteral("Goalkeeping<P>Room 12");
        return e;
    }

private slots:
    void init()
    {
        g::addToReport = false;
        g::reportPath.clear();
        g::reportHead.clear();
        g::reportBody.clear();
        g::reportTail.clear();
        g::reportText.clear();
    }

    void dateTimeText_data();
    void dateTimeText();
    void fileBytes_data();
    void fileBytes();
    void gatheredReport_data();
    void gatheredReport();
    void closeBoxStartsFreshReport();
    void appendThatFindsNothing_data();
    void appendThatFindsNothing();
    void valueConversion_data();
    void valueConversion();
    void readFailure_data();
    void readFailure();
    void fileFailure_data();
    void fileFailure();
    void unwritableFolderKeepsOldFile();
    void viewFailure();
};

void tst_printEventReport::dateTimeText_data()
{
    QTest::addColumn<QDateTime>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("morning") << at(2024, 3, 5, 9, 30) << QStringLiteral("Tuesday, 5 March 2024 09:30:00");
    QTest::newRow("leap day, late") << at(2024, 2, 29, 23, 59) << QStringLiteral("Thursday, 29 February 2024 23:59:00");
    QTest::newRow("midnight, year end") << at(2023, 12, 31, 0, 0) << QStringLiteral("Sunday, 31 December 2023 00:00:00");
}

void tst_printEventReport::dateTimeText()
{
    QFETCH(QDateTime, value);
    QFETCH(QString, expected);
    QCOMPARE(eventReport::dateTimeText(value), expected);
}

void tst_printEventReport::fileBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty report text") << QString() << QByteArray("\r\n");
    QTest::newRow("line ends kept") << QStringLiteral("a\r\nb\nc\r") << QByteArray("a\r\nb\nc\r\r\n");
    QTest::newRow("latin-1 top") << QStringLiteral("\u00ff\u00a0") << QByteArray("\xff\xa0\r\n");
    QTest::newRow("first beyond latin-1") << QStringLiteral("\u0100") << QByteArray("&#256;\r\n");
    QTest::newRow("pair combined") << QStringLiteral("x\U0001D11Ey") << QByteArray("x&#119070;y\r\n");
    QTest::newRow("lone high half") << QString(QChar(0xD834)) + QLatin1Char('y') << QByteArray("&#65533;y\r\n");
    QTest::newRow("lone low half") << QString(QChar(0xDD1E)) << QByteArray("&#65533;\r\n");
}

void tst_printEventReport::fileBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(eventReport::fileBytes(text), bytes);
}

void tst_printEventReport::gatheredReport_data()
{
    QTest::addColumn<int>("events");
    QTest::newRow("one event") << 1;
    QTest::newRow("two events, one Add Event") << 2;
    QTest::newRow("three events, two Add Event presses") << 3;
}

void tst_printEventReport::gatheredReport()
{
    QFETCH(int, events);
    Fixture f;
    QList<Event> expected;
    for (int n = 1; n <= events; ++n) {
        const int key = addSample(f, n);
        expected << sampleExpected(n);
        const bool last = n == events;
        f.print(key, [last](QDialog &w) {
            if (!last)
                clickAddEvent(w);
        });
        QCOMPARE(g::addToReport, !last);
    }
    QCOMPARE(readAll(f.reportPath()), expectedReport(expected));
    QCOMPARE(g::reportPath, f.reportPath());
    QCOMPARE(g::reportText.toLatin1() + kCrLf, expectedReport(expected));
    QCOMPARE(f.db.modal().shownNames, QStringList(events, QStringLiteral("frmPrint")));
    QCOMPARE(f.browsers.calls, QStringList(events, QStringLiteral("navigate ") + f.reportPath()));
    // Each Add Event press explains itself, nothing else is said.
    QCOMPARE(f.db.prompt().shown.size(), events - 1);
    for (const FakePrompt::Shown &s : f.db.prompt().shown) {
        QCOMPARE(s.title, QStringLiteral("Multi-Print Feature"));
        QCOMPARE(s.icon, Prompt::Icon::Information);
    }
}

void tst_printEventReport::closeBoxStartsFreshReport()
{
    Fixture f;
    const int first = addSample(f, 1);
    const int second = addSample(f, 2);
    f.print(first);  // closed with the close box
    f.print(second);
    QCOMPARE(readAll(f.reportPath()), expectedReport({sampleExpected(2)}));
    QVERIFY(readAll(f.reportPath()).contains("</head> <body>\r\n<table"));
}

void tst_printEventReport::appendThatFindsNothing_data()
{
    QTest::addColumn<QString>("missing");
    QTest::newRow("no event selected") << QStringLiteral("-1");
    QTest::newRow("unknown key") << QStringLiteral("9999");
    QTest::newRow("staff member deleted") << QStringLiteral("orphan");
}

void tst_printEventReport::appendThatFindsNothing()
{
    QFETCH(QString, missing);
    Fixture f;
    const int first = addSample(f, 1);
    const int second = addSample(f, 2);
    int missingKey = missing.toInt();
    if (missing == QLatin1String("orphan")) {
        const int gone = f.db.addStaff(QStringLiteral("Gone"), QString());
        missingKey = f.db.addEvent(QStringLiteral("Orphan"), at(2024, 3, 9, 8, 0), at(2024, 3, 9, 9, 0), gone);
        f.db.exec(QStringLiteral("DELETE FROM tblPOCs WHERE idPOC = %1").arg(gone));
    }

    f.print(first, clickAddEvent);
    const QByteArray afterFirst = readAll(f.reportPath());
    f.print(missingKey);
    QCOMPARE(readAll(f.reportPath()), afterFirst);
    QVERIFY(g::addToReport);
    QCOMPARE(f.db.modal().shownNames.size(), 1);
    QCOMPARE(f.db.prompt().shown.size(), 1); // only the Add Event notice

    f.print(second);
    QCOMPARE(readAll(f.reportPath()), expectedReport({sampleExpected(1), sampleExpected(2)}));
    QVERIFY(!g::addToReport);
}

void tst_printEventReport::valueConversion_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expectedLine");

    const QByteArray descLine = "                     <tr><td bgcolor=\"#FFFFFF\" class=\"text_all\">";
    const QByteArray titleLine = "  <tr><td class=\"head_title\">";
    QTest::newRow("CR LF in description") << "Description" << "two\r\nlines" << descLine + "two<P>lines</td></tr>\r\n";
    QTest::newRow("bare LF in description") << "Description" << "two\nlines" << descLine + "two\nlines</td></tr>\r\n";
    QTest::newRow("lone CR in description") << "Description" << "a\rb" << descLine + "a\rb</td></tr>\r\n";
    QTest::newRow("CR CR LF, LF CR") << "Description" << "a\r\r\nb\n\rc" << descLine + "a\r<P>b\n\rc</td></tr>\r\n";
    QTest::newRow("CR LF twice") << "Description" << "\r\n\r\n" << descLine + "<P><P></td></tr>\r\n";
    QTest::newRow("notes converted") << "Notes" << "x\r\ny"
                                     << QByteArray("                    <tr><td bgcolor=\"#FFFFFF\" class=\"text_all\">x<P>y</td></tr>\r\n");
    QTest::newRow("CR LF in title unchanged") << "Title" << "two\r\nlines" << titleLine + "two\r\nlines</td></tr>\r\n";
    QTest::newRow("markup in title unchanged") << "Title" << "Run & <b>jump</b> <" << titleLine + "Run & <b>jump</b> <</td></tr>\r\n";
    QTest::newRow("latin-1 kept as one byte") << "Title" << QStringLiteral("Caf\u00e9 \u00bd") << titleLine + "Caf\xe9 \xbd</td></tr>\r\n";
    QTest::newRow("outside latin-1 as references") << "Title" << QStringLiteral("\u03a9 \u20ac \U0001F600")
                                                   << titleLine + "&#937; &#8364; &#128512;</td></tr>\r\n";
    QTest::newRow("apostrophe and quote") << "Notes" << "it's \"fine\""
                                          << QByteArray("                    <tr><td bgcolor=\"#FFFFFF\" class=\"text_all\">it's \"fine\"</td></tr>\r\n");
}

void tst_printEventReport::valueConversion()
{
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QByteArray, expectedLine);
    Fixture f;
    const int key = addSample(f, 1);
    // Straight into the row: the editor's own cleaning of apostrophes is not under test here.
    f.db.exec(QStringLiteral("UPDATE tblScheduledEvents SET %1 = ?1 WHERE idScheduledEvent = %2").arg(column).arg(key)
                  .replace(QStringLiteral("?1"), QLatin1Char('\'') + QString(value).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'')));
    f.print(key);
    const QByteArray file = readAll(f.reportPath());
    QVERIFY2(file.contains("\r\n" + expectedLine), file.constData());
}

void tst_printEventReport::readFailure_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("description");
    QTest::newRow("null notes") << "UPDATE tblScheduledEvents SET Notes = NULL"
                                << "Invalid use of Null: column 'notes'.";
    QTest::newRow("null title") << "UPDATE tblScheduledEvents SET Title = NULL"
                                << "Invalid use of Null: column 'title'.";
    QTest::newRow("null staff description") << "UPDATE tblPOCs SET pocDescription = NULL"
                                            << "Invalid use of Null: column 'pocDescription'.";
    QTest::newRow("null end") << "UPDATE tblScheduledEvents SET EventTimeEnd = NULL"
                              << "Invalid use of Null: column 'eventTimeEnd'.";
    QTest::newRow("start no date") << "UPDATE tblScheduledEvents SET EventTime = 'soon'"
                                   << "Type mismatch: 'soon' is not a date and time.";
    QTest::newRow("statement fails") << "DROP TABLE tblPOCs" << "no such table: tblPOCs";
}

void tst_printEventReport::readFailure()
{
    QFETCH(QString, sql);
    QFETCH(QString, description);
    Fixture f;
    const int first = addSample(f, 1);
    const int second = addSample(f, 2);
    f.print(first, clickAddEvent);
    const QByteArray before = readAll(f.reportPath());
    const QString bodyBefore = g::reportBody;
    f.db.prompt().shown.clear();

    f.db.exec(sql);
    f.print(second);

    QCOMPARE(f.db.prompt().shown.size(), 1);
    const FakePrompt::Shown box = f.db.prompt().shown.first();
    QVERIFY2(box.text.startsWith(QStringLiteral("An error occured while loading the record.\r\n")), qPrintable(box.text));
    QVERIFY2(box.text.endsWith(description), qPrintable(box.text));
    QCOMPARE(box.icon, Prompt::Icon::Critical);
    QCOMPARE(box.buttons, Prompt::Buttons::Ok);
    QCOMPARE(box.title, QStringLiteral("Orvenna"));
    QCOMPARE(readAll(f.reportPath()), before);
    QCOMPARE(f.db.modal().shownNames.size(), 1);
    QCOMPARE(g::reportBody, bodyBefore);
    QVERIFY2(g::addToReport, "a failed append still appends next time");
}

void tst_printEventReport::fileFailure_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("reason");
    QTest::newRow("report path is a folder") << "folder" << "Filename refers to a directory";
    QTest::newRow("program folder gone") << "no folder" << "No such file or directory";
}

void tst_printEventReport::fileFailure()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, reason);
    Fixture f;
    const int key = addSample(f, 1);
    QString expectedPath = f.reportPath();
    if (obstacle == QLatin1String("folder")) {
        QVERIFY(QDir(f.db.folder()).mkdir(QStringLiteral("printEvent.html")));
        writeFile(f.reportPath() + QStringLiteral("/inside.txt"), "kept");
    } else {
        f.db.services.programFolder = f.db.folder() + QStringLiteral("/gone");
        expectedPath = f.db.services.programFolder + QStringLiteral("/printEvent.html");
    }
    f.print(key);

    QCOMPARE(f.db.prompt().texts(),
             QStringList(QStringLiteral("An error occured while loading the record.\r\nCannot create the report file '")
                         + expectedPath + QStringLiteral("': ") + reason));
    QCOMPARE(f.db.modal().shownNames.size(), 0);
    QVERIFY(f.browsers.calls.isEmpty());
    if (obstacle == QLatin1String("folder"))
        QCOMPARE(readAll(f.reportPath() + QStringLiteral("/inside.txt")), QByteArray("kept"));
    // What the run built before the write survives it.
    QCOMPARE(g::reportPath, expectedPath);
    QVERIFY(g::reportBody.contains(QStringLiteral("Drill 1")));
}

void tst_printEventReport::unwritableFolderKeepsOldFile()
{
    Fixture f;
    const int key = addSample(f, 1);
    writeFile(f.reportPath(), "old report");
    const auto readWriteAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther;
    QFile::setPermissions(f.reportPath(), readWriteAll);
    QFile::setPermissions(f.db.path(), readWriteAll);
    QVERIFY(QFile::setPermissions(f.db.folder(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    const QStringList expected{QStringLiteral("An error occured while loading the record.\r\nCannot create the report file '")
                               + f.reportPath() + QStringLiteral("': Permission denied")};

    // The superuser may write anywhere: then print as nobody, from a child
    // process, on a connection opened before (opening needs the folder).
    store::Connection conn;
    conn.open(f.db.connectionString());
    const bool asRoot = geteuid() == 0;
    const pid_t child = asRoot ? fork() : 0;
    if (child == 0) {
        if (asRoot && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        g::printEventReport(f.db.services, key, conn);
        const bool ok = f.db.prompt().texts() == expected && f.db.modal().shownNames.isEmpty();
        if (asRoot)
            _exit(ok ? 0 : 1);
        QCOMPARE(f.db.prompt().texts(), expected);
        QVERIFY(f.db.modal().shownNames.isEmpty());
    } else {
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
    QFile::setPermissions(f.db.folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(readAll(f.reportPath()), QByteArray("old report"));
}

void tst_printEventReport::viewFailure()
{
    Fixture f;
    const int first = addSample(f, 1);
    const int second = addSample(f, 2);
    f.print(first, clickAddEvent);
    f.browsers.failures.insert(QStringLiteral("navigate"), QStringLiteral("The view cannot show the file."));
    f.print(second);
    QCOMPARE(f.db.prompt().texts().last(),
             QStringLiteral("An error occured while loading the record.\r\nThe view cannot show the file."));
    QCOMPARE(f.db.modal().shownNames.size(), 1);
    // The file was written before the window was loaded.
    QCOMPARE(readAll(f.reportPath()), expectedReport({sampleExpected(1), sampleExpected(2)}));
    QVERIFY(g::addToReport);
}

QTEST_MAIN(tst_printEventReport)
#include "tst_printEventReport.moc"
