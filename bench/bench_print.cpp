// Times a report of 200 gathered events: building and writing the file for
// the 200th append, and showing that file in the print window's real view.

#include "print/BrowserCommands.h"
#include "print/EventReport.h"
#include "print/ReportBrowser.h"
#include "print/ReportFile.h"
#include "print/frmPrint.h"
#include "print/mdlEventsGlobals.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "ui/AppServices.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace g = mdlEventsGlobals;

namespace {

constexpr int kEvents = 200;
constexpr int kRuns = 31;

// Nobody is asked anything while measuring.
class SilentPrompt : public Prompt
{
public:
    Answer message(QWidget *, const QString &, Icon, Buttons buttons, const QString &, const QString &) override
    {
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    std::optional<QString> input(QWidget *, const QString &, const QString &, const QString &,
                                 std::optional<QPoint>) override
    {
        return std::nullopt;
    }
};

// The window is shown and painted once, then closed.
class PaintOnceRunner : public ModalRunner
{
public:
    int showModal(QDialog &window) override
    {
        window.show();
        QApplication::processEvents();
        return 0;
    }
};

// The user presses "Add Event" at once, without the window being drawn.
class AddEventRunner : public ModalRunner
{
public:
    int showModal(QDialog &) override
    {
        g::addToReport = true;
        return 0;
    }
};

// A view that displays nothing, so the generator's own work is what is timed.
class NullBrowser : public BrowserCommands
{
public:
    explicit NullBrowser(QWidget *parent) : m_view(new QWidget(parent)) {}
    void navigate(const QString &) override {}
    quint32 queryStatus(int) override { return OLECMDF_ENABLED; }
    void exec(int, int) override {}
    void exec(int, int, const QString &, QString &) override {}
    void setLandscape() override {}
    QWidget *widget() override { return m_view; }

private:
    QWidget *m_view;
};

class NullBrowserFactory : public BrowserFactory
{
public:
    std::unique_ptr<BrowserCommands> create(QWidget *parent) override { return std::make_unique<NullBrowser>(parent); }
};

double medianMs(const std::function<void()> &prepare, const std::function<void()> &measured)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        measured();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir folder;
    const QString dbPath = folder.filePath(QString::fromLatin1(store::kDatabaseFileName));
    store::createDatabase(dbPath);
    const QString css = QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../css/css.css"));
    QDir(folder.path()).mkdir(QStringLiteral("css"));
    QFile::copy(css, folder.filePath(QStringLiteral("css/css.css")));

    const QString connectionString = store::connectionStringFor(folder.path());
    {
        store::Connection conn;
        conn.open(connectionString);
        conn.execute(statements::insertStaff(QStringLiteral("Coach Petra Lind"),
                                             QStringLiteral("Goalkeeping coach\r\nRoom 12, training centre")));
        for (int i = 0; i < kEvents; ++i) {
            statements::EventValues v;
            v.title = QStringLiteral("Session %1: pressing and transitions").arg(i + 1);
            v.description = QStringLiteral("Warm-up 15 min\r\nRondo 4v2\r\nPositional game 7v7+3\r\nCool-down");
            v.notes = QStringLiteral("Bibs, 20 cones, 12 balls\r\nPitch 3");
            v.startDate = QDate(2024, 1, 1).addDays(i);
            v.startTime = QTime(9, 30);
            v.endDate = v.startDate;
            v.endTime = QTime(11, 0);
            v.staffId = 1;
            conn.execute(statements::insertEvent(v));
        }
    }

    SilentPrompt prompt;
    AddEventRunner modal;
    NullBrowserFactory nullBrowsers;
    AppServices services;
    services.programFolder = folder.path();
    services.prompt = &prompt;
    services.modal = &modal;
    services.browsers = &nullBrowsers;

    auto print = [&](int key) {
        store::Connection conn;
        conn.open(connectionString);
        g::printEventReport(services, key, conn);
    };
    for (int key = 1; key < kEvents; ++key)
        print(key);

    // The state after 199 gathered events, restored before each timed run.
    const QString head = g::reportHead, body = g::reportBody, tail = g::reportTail;
    auto restore = [&] {
        g::addToReport = true;
        g::reportHead = head;
        g::reportBody = body;
        g::reportTail = tail;
    };

    eventReport::ReportEvent last;
    {
        store::Connection conn;
        conn.open(connectionString);
        last = eventReport::reportEvent(store::Events::readForReport(conn, kEvents).value());
    }
    const double buildAndWrite = medianMs(restore, [&] {
        g::startReportRun();
        g::addEventToReport(last);
        writeReportFile(reportPathIn(folder.path()), eventReport::fileBytes(g::reportText));
    });
    const double wholeRun = medianMs(restore, [&] { print(kEvents); });
    const qint64 fileSize = QFileInfo(reportPathIn(folder.path())).size();

    // Showing it: the print window with the real view loads the file and lays it out.
    services.browsers = nullptr;
    g::reportPath = reportPathIn(folder.path());
    std::vector<double> loads, wholes, firsts;
    medianMs([] {}, [&] {
        QElapsedTimer timer;
        timer.start();
        frmPrint window(services);
        window.frmPrint_Form_Load();
        loads.push_back(timer.nsecsElapsed() / 1e6);
        window.show();
        QApplication::processEvents(); // the first screen is laid out and painted
        const double shown = timer.nsecsElapsed() / 1e6;
        firsts.push_back(shown);
        auto *view = window.findChild<ReportBrowser *>(QStringLiteral("WebBrowser1"));
        while (!view->isComplete())
            QApplication::processEvents();
        wholes.push_back(timer.nsecsElapsed() / 1e6 - shown);
    });
    std::sort(loads.begin(), loads.end());
    std::sort(wholes.begin(), wholes.end());
    const double load = loads[loads.size() / 2];
    const double whole = wholes[wholes.size() / 2];
    std::sort(firsts.begin(), firsts.end());
    const double display = firsts[firsts.size() / 2];
    // The view lays out the rest of a long report while the user looks at the
    // first page; the full layout is what scrolling to the end costs.
    const double fullLayout = medianMs([] {}, [&] {
        QTextDocument doc;
        doc.setDefaultStyleSheet(ReportBrowser::styleSheetFor(g::reportPath));
        QFile file(g::reportPath);
        file.open(QIODevice::ReadOnly);
        doc.setHtml(QString::fromLatin1(file.readAll()));
        doc.setTextWidth(561);
        (void)doc.size();
    });

    // One event with 10 MB of notes, printed from the start: query, report, file, and the window painted.
    {
        store::Connection conn;
        conn.open(connectionString);
        statements::EventValues v;
        v.title = QStringLiteral("Season plan");
        const QString line = QStringLiteral("Week plan: rondo 4v2, positional game 7v7+3, finishing, cool-down.\r\n");
        v.description = QStringLiteral("The whole season");
        while (v.notes.size() < 10 * 1000 * 1000)
            v.notes += line;
        v.startDate = v.endDate = QDate(2024, 8, 1);
        v.startTime = QTime(9, 0);
        v.endTime = QTime(10, 0);
        v.staffId = 1;
        conn.execute(statements::insertEvent(v));
    }
    PaintOnceRunner paintOnce;
    services.modal = &paintOnce;
    const int bigKey = kEvents + 1;
    std::vector<double> bigRuns;
    for (int i = 0; i < 5; ++i) {
        g::addToReport = false;
        QElapsedTimer timer;
        timer.start();
        print(bigKey);
        bigRuns.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(bigRuns.begin(), bigRuns.end());
    const qint64 bigSize = QFileInfo(reportPathIn(folder.path())).size();

    std::printf("report of %d events, %lld bytes\n", kEvents, static_cast<long long>(fileSize));
    std::printf("build and write, 200th append: median %.2f ms (target <= 20 ms)\n", buildAndWrite);
    std::printf("whole generator run, 200th append (query, build, write, window without view): median %.2f ms\n",
                wholeRun);
    std::printf("display in the print window: window and load into the view median %.2f ms; "
                "shown with its first page painted median %.2f ms (target <= 150 ms)\n",
                load, display);
    std::printf("the whole report read into the view after the first page is shown: median %.2f ms more\n", whole);
    std::printf("parsing and laying out the whole report off screen: median %.2f ms\n", fullLayout);
    std::printf("one event with 10 MB of notes (%lld bytes): print to the window painted median %.2f ms "
                "(target <= 1000 ms)\n",
                static_cast<long long>(bigSize), bigRuns[bigRuns.size() / 2]);
    return 0;
}
