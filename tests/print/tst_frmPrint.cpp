#include "FakeBrowser.h"
#include "print/frmPrint.h"
#include "print/mdlEventsGlobals.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QAccessible>
#include <QPushButton>
#include <QTest>

using Texts = QStringList;
using Typed = std::optional<QString>;

namespace {
const QString kPage = QStringLiteral("The Page has not yet been set. Would you stil like to print?");
const QString kDisabled = QStringLiteral("The Print command is currently disabled.");
const QString kPaper = QStringLiteral("Printer out of paper");
const QString kError = QStringLiteral("Print command Error: ");
const QString kNotice =
    QStringLiteral("From the main window, select another event and then select the print feature again.");
const QString kCopies = QStringLiteral("Number of Copies:");
const QString kPreview = QStringLiteral("cmdPrintPreview"), kSetup = QStringLiteral("cmdPageSetup"),
              kPrint = QStringLiteral("cmdPrint"), kAddEvent = QStringLiteral("cmdAddEvent");
} // namespace

class tst_frmPrint : public QObject
{
    Q_OBJECT

    // A print window over a fake view, loaded as the report generator leaves it.
    struct Fixture
    {
        TestDatabase db{false};
        FakeBrowserFactory browsers;
        std::unique_ptr<frmPrint> window;
        Fixture() { db.services.browsers = &browsers; open(); }
        void open()
        {
            window = std::make_unique<frmPrint>(db.services);
            window->frmPrint_Form_Load();
            window->show();
        }
    };

private slots:
    void init() { mdlEventsGlobals::addToReport = true; } // loading clears it
    void buttons_data();
    void buttons();
};

void tst_frmPrint::buttons_data()
{
    // The buttons pressed ("reopen" shows a new window, as the next print does; "No" answers the next question No); the
    // view's fault ("disabled": no command is enabled, or "<command>: <description>"); the text typed for the
    // number of copies; then the commands the view was given and the boxes shown.
    QTest::addColumn<Texts>("presses");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<Texts>("commands");
    QTest::addColumn<Texts>("texts");
    const auto row = [](const char *name, const Texts &presses, const QString &fault, const Texts &commands,
                        const Texts &texts) {
        QTest::newRow(name) << presses << fault << Typed("1") << commands << texts;
    };
    const Texts setup{"status 8", "exec 8 1 texts"}, print{"status 6", "exec 6 1 texts"};
    const Texts preview{"exec 7 1", "status 7"}, paperError{kError + kPaper};
    row("Add Event", {kAddEvent}, "", {}, {kNotice});
    row("not set, No", {"No", kPrint}, "", {}, {kPage});
    row("not set, Yes", {kPrint}, "", print, {kPage});
    row("set in the same showing", {kSetup, kPrint}, "", setup + print, {});
    row("set, then reopened", {kSetup, "reopen", kPrint}, "", setup + print, {kPage});
    row("all disabled, page not set", {kPreview, kSetup, kPrint}, "disabled", preview + Texts{"status 8", "status 6"},
        {kDisabled, kDisabled, kPage, kDisabled});
    row("preview, first run fails", {kPreview}, "exec 7 1: " + kPaper, preview, paperError);
    row("preview, status fails", {kPreview}, "status 7: " + kPaper, preview, paperError);
    row("preview, second run fails", {kPreview}, "exec 7 1 texts: " + kPaper, preview + Texts{"exec 7 1 texts"},
        paperError);
    row("setup, status fails unsaid", {kSetup}, "status 8: " + kPaper, {"status 8"}, {});
    row("setup, run fails unsaid, set", {kSetup, kPrint}, "exec 8 1 texts: " + kPaper, setup + print, {});
    row("print, status fails", {kPrint}, "status 6: " + kPaper, {"status 6"}, {kPage, kError + kPaper});
    row("print, run fails", {kPrint}, "exec 6 1 texts: " + kPaper, print, {kPage, kError + kPaper});
    // Permission denied, in any case, is retried without a dialog.
    row("preview denied", {kPreview}, "exec 7 1: PERMISSION DENIED", preview + Texts{"exec 7 2"}, {});
    row("preview denied after status", {kPreview}, "exec 7 1 texts: Permission Denied",
        preview + Texts{"exec 7 1 texts", "exec 7 2"}, {});
    row("preview, not quite denied", {kPreview}, "exec 7 1: Permission denied.", preview,
        {kError + "Permission denied."});
    row("print, status denied", {kPrint}, "status 6: permission DENIED", {"status 6", "exec 6 2"}, {kPage, kCopies});
    // Printing denied asks for the number of copies and prints that many, halves to the even neighbour.
    const auto copies = [&print](const char *name, const Typed &typed, int printed, bool refused = false) {
        const Texts refusal{"wrong argument...can not pass string for print copies."};
        QTest::newRow(name) << Texts{kPrint} << "exec 6 1 texts: PERMISSION DENIED" << typed
                            << print + Texts(printed, QStringLiteral("exec 6 2"))
                            << Texts{kPage, kCopies} + (refused ? refusal : Texts());
    };
    copies("copies: Cancel", std::nullopt, 0);
    copies("copies: the default 0", "0", 0, true);
    copies("copies: empty", "", 0, true);
    copies("copies: abc", "abc", 0, true);
    copies("copies: 2", "2", 2);
    copies("copies: 2.5", "2.5", 2);
    copies("copies: 3.5", "3.5", 4);
    copies("copies: 0.4", "0.4", 0);
    copies("copies: a leading number", " 3 copies", 3);
    copies("copies: beyond 16 bits", "32768", 0);
    copies("copies: huge", "1e300", 0);
}

void tst_frmPrint::buttons()
{
    QFETCH(Texts, presses);
    QFETCH(QString, fault);
    QFETCH(Typed, typed);
    QFETCH(Texts, commands);
    QFETCH(Texts, texts);
    Fixture f;
    // Every button is named for a screen reader, the two showing only an icon too.
    QStringList named;
    for (const QString &button : {kPrint, kPreview, kSetup, kAddEvent})
        named << QAccessible::queryAccessibleInterface(f.window->findChild<QPushButton *>(button))->text(QAccessible::Name);
    QCOMPARE(named, Texts({"Print Report", "Print Preview", "Page Setup", "Add Event"}));
    if (fault == QLatin1String("disabled"))
        f.browsers.status = 1 | 4; // other bits, but not "enabled"
    else if (!fault.isEmpty())
        f.browsers.failures.insert(fault.section(QStringLiteral(": "), 0, 0), fault.section(QStringLiteral(": "), 1));
    f.db.prompt().inputs.enqueue(typed);
    for (const QString &press : presses) {
        if (press == QLatin1String("No"))
            f.db.prompt().answers.enqueue(Prompt::Answer::No);
        else if (press == QLatin1String("reopen"))
            f.open();
        else
            QTest::mouseClick(f.window->findChild<QPushButton *>(press), Qt::LeftButton);
    }
    QCOMPARE(f.browsers.calls, commands);
    QCOMPARE(f.db.prompt().texts(), texts);
    for (const FakePrompt::Shown &box : f.db.prompt().shown) {
        if (box.text == kPage)
            QCOMPARE(box.buttons, Prompt::Buttons::YesNo);
        if (box.isInput)
            QCOMPARE(Texts({box.title, box.defaultText}), Texts({"Print", "0"}));
        if (box.text == kNotice)
            QCOMPARE(box.title, QStringLiteral("Multi-Print Feature"));
    }
    QCOMPARE(mdlEventsGlobals::addToReport, presses.contains(kAddEvent));
    QCOMPARE(f.window->isVisible(), !presses.contains(kAddEvent));
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_frmPrint)
#include "tst_frmPrint.moc"
