#include "print/EventReport.h"
#include "print/ReportBrowser.h"
#include "print/ReportFile.h"
#include "print/frmPrint.h"
#include "print/mdlEventsGlobals.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QDir>
#include <QPrintPreviewDialog>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace g = mdlEventsGlobals;

// Writes a report of `events` events gathered with "Add Event" into the folder, beside the style sheet; the first
// event's notes end in `longNote` more words.
static void writeReport(const QString &folder, int events, int longNote = 0)
{
    QDir(folder).mkdir(QStringLiteral("css"));
    QFile::copy(QFINDTESTDATA("../../css/css.css"), folder + QStringLiteral("/css/css.css"));
    g::addToReport = false;
    g::startReportRun();
    for (int day = 1; day <= events; ++day) {
        g::addToReport = day > 1;
        const QDateTime start(QDate(2024, 4, day), QTime(9, 0), Qt::UTC);
        QString notes = QStringLiteral("Bibs, c\u00f4nes");
        for (int word = 1; day == 1 && word <= longNote; ++word)
            notes += QStringLiteral(" w%1").arg(word);
        g::addEventToReport({QStringLiteral("Session %1").arg(day), QStringLiteral("Warm-up\r\nSmall-sided games"),
                             notes, start, start.addSecs(7200), QStringLiteral("Coach"), {}});
    }
    g::reportPath = reportPathIn(folder);
    writeReportFile(g::reportPath, eventReport::fileBytes(g::reportText));
}

class tst_ReportBrowser : public QObject
{
    Q_OBJECT

private slots:
    void printsEveryPage_data();
    void printsEveryPage();
    void onePreviewPerPress();
};

void tst_ReportBrowser::printsEveryPage_data()
{
    QTest::addColumn<int>("events");
    QTest::addColumn<bool>("waitForWhole");
    QTest::addColumn<int>("longNote"); // words
    QTest::addColumn<int>("pages"); // printed; at least that many for the long note
    QTest::newRow("three events, printed before the whole showed") << 3 << false << 0 << 3;
    QTest::newRow("six events, left to show whole") << 6 << true << 0 << 6;
    // A long text is shown cut short at once, and printed whole.
    QTest::newRow("three events, the first with 10,000 words of notes") << 3 << true << 10000 << 20;
}

void tst_ReportBrowser::printsEveryPage()
{
    QFETCH(int, events);
    QFETCH(bool, waitForWhole);
    QFETCH(int, longNote);
    QFETCH(int, pages);
    TestDatabase db(false);
    writeReport(db.folder(), events, longNote);
    ReportBrowser view;
    view.resize(500, 400);
    view.navigate(g::reportPath);
    QVERIFY(view.toPlainText().contains(QStringLiteral("Session 2")));
    // The file is ISO-8859-1, as its head declares.
    QVERIFY(view.toPlainText().contains(QStringLiteral("Bibs, c\u00f4nes")));
    QVERIFY(!view.toPlainText().contains(QStringLiteral("Session 3")));
    if (waitForWhole) {
        view.show();
        QTRY_VERIFY(view.toPlainText().contains(QStringLiteral("Session %1").arg(events)));
    }
    QVERIFY(view.document()->characterCount() < 40000);
    QVERIFY(longNote == 0 || !view.toPlainText().contains(QStringLiteral(" w%1").arg(longNote)));
    const QString pdf = db.folder() + QStringLiteral("/report.pdf");
    view.printer().setOutputFormat(QPrinter::PdfFormat);
    view.printer().setOutputFileName(pdf);
    view.exec(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER);
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Page objects; the page tree node "/Pages" is not one.
    const qsizetype printed =
        QString::fromLatin1(file.readAll()).count(QRegularExpression(QStringLiteral(R"(/Type\s*/Page(?![s\w]))")));
    QCOMPARE(longNote ? std::min<qsizetype>(printed, pages) : printed, pages);
}

void tst_ReportBrowser::onePreviewPerPress()
{
    TestDatabase db(false);
    writeReport(db.folder(), 1);
    frmPrint window(db.services);
    window.frmPrint_Form_Load();
    window.show();
    // Closes every print preview as soon as it shows, and counts them.
    int previews = 0;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&previews] {
        if (auto *preview = qobject_cast<QPrintPreviewDialog *>(QApplication::activeModalWidget())) {
            ++previews;
            preview->reject();
        }
    });
    closer.start(5);
    window.frmPrint_cmdPrintPreview_Click();
    QCOMPARE(previews, 1);
    QApplication::processEvents();
    window.frmPrint_cmdPrintPreview_Click(); // a new request
    QCOMPARE(previews, 2);
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_ReportBrowser)
#include "tst_ReportBrowser.moc"
