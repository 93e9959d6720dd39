#include "print/EventReport.h"
#include "print/ReportBrowser.h"
#include "print/ReportFile.h"
#include "print/frmPrint.h"
#include "print/mdlEventsGlobals.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextLayout>
#include <QTest>
#include <QTimer>

namespace g = mdlEventsGlobals;

// What a coach writes: a few sentences to each text.
static const QString kDescription = QStringLiteral(
    "Warm-up: ten minutes of light jogging, then dynamic stretches for the hips and hamstrings.\r\n"
    "Passing in pairs with both feet over ten metres, then one-touch passing in triangles at pace.\r\n"
    "Small-sided games, four against four, on a pitch of thirty by twenty metres with small goals.\r\n"
    "Finishing from crosses on both wings; the strikers attack the near and the far post in turn.\r\n"
    "Defending as a back four: the line steps up together when the ball goes back, and drops when it is played "
    "forward without pressure.\r\n"
    "Set pieces: corners from both sides, with two players on the posts and the tallest three marking in the six-yard "
    "box.\r\n"
    "Cool-down: an easy jog and static stretches, then a short talk about Saturday's match and the travel plans.");
static const QString kNotes = QStringLiteral(
    "Bring bibs in two colours, twenty cones, ten balls and the small goals from the shed.\r\n"
    "Two players return from injury this week: keep their load light and stop them at the first sign of pain.\r\n"
    "Check the goal nets and the first-aid bag before the session starts, and that the pitch lights work.\r\n"
    "Parents collect the under-twelves at the car park gate, not at the clubhouse, because of the building work.\r\n"
    "Water: every player brings a full bottle, as the tap by the pitch is closed for repairs.");
static const QString kStaffNotes = QStringLiteral(
    "Head coach. Phone 555 0142; available Monday to Friday after three, weekends by arrangement.\r\n"
    "Holds the keys to the equipment shed and the first-aid certificate.\r\n"
    "Prefers text messages; calls only in an emergency on match days.");

// Writes a report of `events` events gathered with "Add Event" into the folder, beside the style sheet; the first
// event's notes end in `longNote` more words. `sentences`: each text a few sentences long.
static void writeReport(const QString &folder, int events, int longNote = 0, bool sentences = false)
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
        if (sentences)
            g::addEventToReport({QStringLiteral("Session %1").arg(day), kDescription, notes + QStringLiteral("\r\n") + kNotes,
                                 start, start.addSecs(7200), QStringLiteral("Coach"), kStaffNotes});
        else
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
    void pageSetupMarginsKept();
    void onePreviewPerPress();
};

void tst_ReportBrowser::printsEveryPage_data()
{
    QTest::addColumn<int>("events");
    QTest::addColumn<bool>("waitForWhole");
    QTest::addColumn<int>("longNote"); // words
    QTest::addColumn<bool>("sentences"); // each text a few sentences long
    QTest::addColumn<int>("pages"); // printed; at least that many for the long note
    QTest::newRow("three events, printed before the whole showed") << 3 << false << 0 << false << 3;
    QTest::newRow("six events, left to show whole") << 6 << true << 0 << false << 6;
    // The texts take the page's width, not a narrow column of it: each event on its page.
    QTest::newRow("six events of a few sentences each") << 6 << true << 0 << true << 6;
    // A long text is shown cut short at once, and printed whole.
    QTest::newRow("three events, the first with 10,000 words of notes") << 3 << true << 10000 << false << 12;
}

void tst_ReportBrowser::printsEveryPage()
{
    QFETCH(int, events);
    QFETCH(bool, waitForWhole);
    QFETCH(int, longNote);
    QFETCH(bool, sentences);
    QFETCH(int, pages);
    TestDatabase db(false);
    writeReport(db.folder(), events, longNote, sentences);
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
    // The start and the end stay on one line each (as laid out in the shown view).
    const QDateTime firstStart(QDate(2024, 4, 1), QTime(9, 0), Qt::UTC);
    const QStringList firstTimes{eventReport::dateTimeText(firstStart), eventReport::dateTimeText(firstStart.addSecs(7200))};
    int times = 0;
    for (QTextBlock block = waitForWhole ? view.document()->begin() : QTextBlock(); block.isValid(); block = block.next()) {
        if (!firstTimes.contains(block.text().replace(QChar::Nbsp, QLatin1Char(' '))))
            continue;
        QCOMPARE(block.layout()->lineCount(), 1);
        ++times;
    }
    QCOMPARE(times, waitForWhole ? 2 : 0);
    QVERIFY(longNote == 0 || !view.toPlainText().contains(QStringLiteral(" w%1").arg(longNote)));
    const QString pdf = db.folder() + QStringLiteral("/report.pdf");
    view.printer().setOutputFormat(QPrinter::PdfFormat);
    view.printer().setOutputFileName(pdf);
    view.exec(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER);
    if (!qEnvironmentVariableIsEmpty("ORVENNA_KEEP_PDF")) // to look at the pages
        QFile::copy(pdf, qEnvironmentVariable("ORVENNA_KEEP_PDF") + QStringLiteral("/%1.pdf").arg(QTest::currentDataTag()));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Page objects; the page tree node "/Pages" is not one.
    const qsizetype printed =
        QString::fromLatin1(file.readAll()).count(QRegularExpression(QStringLiteral(R"(/Type\s*/Page(?![s\w]))")));
    QCOMPARE(longNote ? std::min<qsizetype>(printed, pages) : printed, pages);
    // The PDF printer's own margins are 3.5 mm; a page keeps at least 12 mm on every side.
    const QMarginsF margins = view.printer().pageLayout().margins(QPageLayout::Millimeter);
    QCOMPARE(std::min({margins.left(), margins.top(), margins.right(), margins.bottom()}), 12.0);
}

// Margins chosen in Page Setup are the ones printed with, narrower than the
// least kept for a printer that reports none.
void tst_ReportBrowser::pageSetupMarginsKept()
{
    TestDatabase db(false);
    writeReport(db.folder(), 1);
    frmPrint window(db.services);
    window.frmPrint_Form_Load();
    window.show();
    auto &view = dynamic_cast<ReportBrowser &>(window.WebBrowser1());
    const QString pdf = db.folder() + QStringLiteral("/setup.pdf");
    view.printer().setOutputFormat(QPrinter::PdfFormat);
    view.printer().setOutputFileName(pdf);
    QMarginsF chosen;
    int setups = 0, prints = 0;
    QTimer person;
    connect(&person, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *setup = qobject_cast<QPageSetupDialog *>(modal)) {
            ++setups;
            for (auto *box : setup->findChildren<QDoubleSpinBox *>())
                if (box->objectName().endsWith(QLatin1String("Margin")))
                    box->setValue(box->value() / 4);
            setup->accept();
        } else if (auto *print = qobject_cast<QPrintDialog *>(modal)) {
            ++prints;
            chosen = view.printer().pageLayout().margins(QPageLayout::Millimeter);
            print->accept();
        }
    });
    person.start(5);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdPageSetup")), Qt::LeftButton);
    QCOMPARE(setups, 1);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdPrint")), Qt::LeftButton);
    QCOMPARE(prints, 1);
    QVERIFY(QFileInfo(pdf).size() > 0);
    QVERIFY2(chosen.left() < 12 && chosen.top() < 12 && chosen.right() < 12 && chosen.bottom() < 12,
             qPrintable(QStringLiteral("%1 %2").arg(chosen.left()).arg(chosen.top())));
    const QMarginsF printed = view.printer().pageLayout().margins(QPageLayout::Millimeter);
    QCOMPARE(printed, chosen);
    QCOMPARE(db.prompt().texts(), QStringList());
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
