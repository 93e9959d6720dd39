#include "print/ReportBrowser.h"
#include "print/frmPrint.h"
#include "print/mdlEventsGlobals.h"
#include "store/Connection.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace g = mdlEventsGlobals;

namespace {

// Page objects of a PDF; the page tree node "/Pages" is not one.
int pdfPageCount(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral(R"(/Type\s*/Page(?![s\w]))"));
    return int(QString::fromLatin1(pdf).count(page));
}

QDateTime at(int day, int hour)
{
    return QDateTime(QDate(2024, 4, day), QTime(hour, 0), Qt::UTC);
}

QTextBlock blockContaining(const QTextDocument &doc, const QString &text)
{
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        if (b.text().contains(text))
            return b;
    return {};
}

} // namespace

class tst_ReportBrowser : public QObject
{
    Q_OBJECT

private:
    // A program folder with the style sheet installed beside the report.
    struct Fixture
    {
        TestDatabase db;
        int staff = 0;
        Fixture()
        {
            QDir(db.folder()).mkdir(QStringLiteral("css"));
            QFile::copy(QFINDTESTDATA("../../css/css.css"), db.folder() + QStringLiteral("/css/css.css"));
            staff = db.addStaff(QStringLiteral("Coach \u00c5sa Berg"), QStringLiteral("Fitness"));
            g::addToReport = false;
        }
        void print(int key)
        {
            store::Connection conn;
            conn.open(db.connectionString());
            g::printEventReport(db.services, key, conn);
        }
    };

    static ReportBrowser *viewOf(QDialog &window)
    {
        return window.findChild<ReportBrowser *>(QStringLiteral("WebBrowser1"));
    }

private slots:
    void unloadedView_data();
    void unloadedView();
    void missingFile();
    void showsReportWithStyles();
    void printsOneEventPerPage();
    void onePreviewPerPress();
    void longReportShowsFirstPagesFirst_data();
    void longReportShowsFirstPagesFirst();
};

void tst_ReportBrowser::unloadedView_data()
{
    QTest::addColumn<int>("cmd");
    QTest::newRow("print") << int(OLECMDID_PRINT);
    QTest::newRow("preview") << int(OLECMDID_PRINTPREVIEW);
    QTest::newRow("page setup") << int(OLECMDID_PAGESETUP);
}

void tst_ReportBrowser::unloadedView()
{
    QFETCH(int, cmd);
    ReportBrowser view;
    QCOMPARE(view.queryStatus(cmd), 0u);
    QVERIFY_THROWS_EXCEPTION(BrowserError, view.exec(cmd, OLECMDEXECOPT_DONTPROMPTUSER));
    QVERIFY_THROWS_EXCEPTION(BrowserError, view.queryStatus(42));
}

void tst_ReportBrowser::missingFile()
{
    ReportBrowser view;
    try {
        view.navigate(QStringLiteral("/nonexistent/printEvent.html"));
        QFAIL("no failure");
    } catch (const BrowserError &e) {
        QVERIFY2(e.description().contains(QStringLiteral("No such file or directory")), qPrintable(e.description()));
    }
    QCOMPARE(view.queryStatus(OLECMDID_PRINT), 0u);
}

void tst_ReportBrowser::showsReportWithStyles()
{
    Fixture f;
    const int key = f.db.addEvent(QStringLiteral("Sprint \u00e9tude \u03a9"), at(1, 9), at(1, 10), f.staff,
                                  QStringLiteral("Run"), QStringLiteral("Water"));
    bool checked = false;
    f.db.modal().steps.enqueue([&](QDialog &window) {
        ReportBrowser *view = viewOf(window);
        QVERIFY(view);
        QCOMPARE(view->queryStatus(OLECMDID_PRINT), OLECMDF_ENABLED);
        QTextDocument &doc = *view->document();
        // Latin-1 bytes and a character reference both read back as typed.
        const QTextBlock title = blockContaining(doc, QStringLiteral("Sprint \u00e9tude \u03a9"));
        QVERIFY(title.isValid());
        QVERIFY(doc.toPlainText().contains(QStringLiteral("Coach \u00c5sa Berg")));
        // The style sheet beside the report reached the view: head_title is large and bold.
        const QTextCharFormat format = title.begin().fragment().charFormat();
        QCOMPARE(format.font().pointSizeF(), 18.0);
        QVERIFY(format.font().bold());
        QVERIFY(!doc.toPlainText().contains(QStringLiteral("@import")));
        checked = true;
    });
    f.print(key);
    QVERIFY(checked);
    QVERIFY(f.db.prompt().shown.isEmpty());
}

void tst_ReportBrowser::printsOneEventPerPage()
{
    Fixture f;
    QList<int> keys;
    for (int day = 1; day <= 3; ++day)
        keys << f.db.addEvent(QStringLiteral("Session %1").arg(day), at(day, 9), at(day, 11), f.staff,
                              QStringLiteral("Warm-up\r\nSmall-sided games"), QStringLiteral("Bibs and balls"));
    const QString pdf = f.db.folder() + QStringLiteral("/report.pdf");
    const QString keepPdf = qEnvironmentVariable("ORVENNA_KEEP_PDF");

    auto addEvent = [](QDialog &window) {
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdAddEvent")), Qt::LeftButton);
    };
    f.db.modal().steps.enqueue(addEvent);
    f.db.modal().steps.enqueue(addEvent);
    f.db.modal().steps.enqueue([&](QDialog &window) {
        ReportBrowser *view = viewOf(window);
        QVERIFY(view);
        QTRY_VERIFY(view->isComplete());
        // Two page breaks for three events.
        int breaks = 0;
        for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
            if (b.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
                ++breaks;
        QCOMPARE(breaks, 2);
        view->printer().setOutputFormat(QPrinter::PdfFormat);
        view->printer().setOutputFileName(pdf);
        QCOMPARE(view->queryStatus(OLECMDID_PRINT), OLECMDF_ENABLED);
        view->exec(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER);
    });
    for (int key : keys)
        f.print(key);

    QCOMPARE(f.db.modal().shownNames.size(), 3);
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("%PDF"));
    QCOMPARE(pdfPageCount(bytes), 3);
    if (!keepPdf.isEmpty()) {
        QFile::remove(keepPdf);
        QFile::copy(pdf, keepPdf);
    }
}

// Closes every print preview as soon as it shows, and counts them.
class PreviewCloser : public QObject
{
public:
    int shown = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QPrintPreviewDialog *>(watched)) {
            ++shown;
            QMetaObject::invokeMethod(static_cast<QDialog *>(watched), &QDialog::reject, Qt::QueuedConnection);
        }
        return false;
    }
};

void tst_ReportBrowser::onePreviewPerPress()
{
    Fixture f;
    const int key = f.db.addEvent(QStringLiteral("Session"), at(1, 9), at(1, 11), f.staff);
    PreviewCloser closer;
    qApp->installEventFilter(&closer);
    f.db.modal().steps.enqueue([&](QDialog &window) {
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdPrintPreview")), Qt::LeftButton);
        QCOMPARE(closer.shown, 1);
        QApplication::processEvents();
        // A second press is a new request.
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdPrintPreview")), Qt::LeftButton);
        QCOMPARE(closer.shown, 2);
    });
    f.print(key);
    qApp->removeEventFilter(&closer);
    QVERIFY(f.db.prompt().shown.isEmpty());
}

void tst_ReportBrowser::longReportShowsFirstPagesFirst_data()
{
    QTest::addColumn<bool>("printAtOnce");
    QTest::newRow("left to finish") << false;
    QTest::newRow("printed before it finished") << true;
}

void tst_ReportBrowser::longReportShowsFirstPagesFirst()
{
    QFETCH(bool, printAtOnce);
    Fixture f;
    const int events = 6;
    QString whole;
    for (int day = 1; day <= events; ++day) {
        const int key = f.db.addEvent(QStringLiteral("Session %1").arg(day), at(day, 9), at(day, 11), f.staff);
        if (day < events)
            f.db.modal().steps.enqueue([](QDialog &window) {
                QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdAddEvent")), Qt::LeftButton);
            });
        else
            f.db.modal().steps.enqueue([&](QDialog &) {});
        f.print(key);
    }

    // The same file, opened in a view of its own.
    ReportBrowser view;
    view.resize(500, 400);
    view.navigate(g::reportPath);
    QVERIFY(!view.isComplete());
    QVERIFY(view.document()->toPlainText().contains(QStringLiteral("Session 2")));
    QVERIFY(!view.document()->toPlainText().contains(QStringLiteral("Session 3")));

    QTextDocument full;
    {
        QFile file(g::reportPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        full.setDefaultStyleSheet(ReportBrowser::styleSheetFor(g::reportPath));
        full.setHtml(QString::fromLatin1(file.readAll()));
    }
    const QString pdf = f.db.folder() + QStringLiteral("/long.pdf");
    if (printAtOnce) {
        view.printer().setOutputFormat(QPrinter::PdfFormat);
        view.printer().setOutputFileName(pdf);
        view.exec(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER);
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(pdfPageCount(file.readAll()), events);
    } else {
        view.show();
        QVERIFY(QTest::qWaitFor([&] { return view.isComplete(); }));
    }
    QVERIFY(view.isComplete());
    QCOMPARE(view.document()->toPlainText(), full.toPlainText());
    QCOMPARE(view.document()->blockCount(), full.blockCount());
}

QTEST_MAIN(tst_ReportBrowser)
#include "tst_ReportBrowser.moc"
