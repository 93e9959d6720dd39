#include "FakeBrowser.h"
#include "print/frmPrint.h"
#include "print/mdlEventsGlobals.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QPushButton>
#include <QTest>

namespace g = mdlEventsGlobals;

namespace {
const QString kPageQuestion = QStringLiteral("The Page has not yet been set. Would you stil like to print?");
const QString kDisabled = QStringLiteral("The Print command is currently disabled.");
const QString kWrongCopies = QStringLiteral("wrong argument...can not pass string for print copies.");
} // namespace

class tst_frmPrint : public QObject
{
    Q_OBJECT

private:
    // A loaded print window over a fake view, as the report generator leaves it.
    struct Fixture
    {
        TestDatabase db{false};
        FakeBrowserFactory browsers;
        std::unique_ptr<frmPrint> window;
        Fixture()
        {
            db.services.browsers = &browsers;
            g::reportPath = db.folder() + QStringLiteral("/printEvent.html");
            open();
        }
        void open()
        {
            window = std::make_unique<frmPrint>(db.services);
            window->frmPrint_Form_Load();
            window->show();
        }
        void click(const char *name)
        {
            auto *button = window->findChild<QPushButton *>(QLatin1String(name));
            QVERIFY2(button, name);
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QStringList commands() const { return browsers.callsExceptNavigate(); }
        FakePrompt &prompt() { return db.prompt(); }
    };

private slots:
    void init() { g::addToReport = true; }

    void controls_data();
    void controls();
    void captionsAndPictures();
    void tabOrder();
    void proportionalResize();
    void load();
    void addEvent();
    void pageQuestion_data();
    void pageQuestion();
    void pageQuestionAfterReopening();
    void disabledCommand_data();
    void disabledCommand();
    void otherErrors_data();
    void otherErrors();
    void permissionDenied_data();
    void permissionDenied();
    void copies_data();
    void copies();
};

void tst_frmPrint::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    // Twips of the design divided by 15.
    QTest::newRow("cmdPrint") << "cmdPrint" << QRect(0, 8, 41, 37);
    QTest::newRow("cmdPrintPreview") << "cmdPrintPreview" << QRect(0, 48, 41, 37);
    QTest::newRow("cmdPageSetup") << "cmdPageSetup" << QRect(0, 88, 41, 37);
    QTest::newRow("cmdAddEvent") << "cmdAddEvent" << QRect(0, 152, 41, 37);
    QTest::newRow("WebBrowser1") << "WebBrowser1" << QRect(48, 8, 561, 393);
}

void tst_frmPrint::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    Fixture f;
    QCOMPARE(f.window->objectName(), QStringLiteral("frmPrint"));
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Print"));
    QCOMPARE(f.window->size(), QSize(619, 408));
    QVERIFY(!f.window->parentWidget());
    QWidget *control = f.window->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
}

void tst_frmPrint::captionsAndPictures()
{
    Fixture f;
    auto *print = f.window->findChild<QPushButton *>(QStringLiteral("cmdPrint"));
    auto *preview = f.window->findChild<QPushButton *>(QStringLiteral("cmdPrintPreview"));
    QVERIFY(print->text().isEmpty());
    QCOMPARE(print->toolTip(), QStringLiteral("Print Report"));
    QCOMPARE(print->icon().availableSizes().value(0), QSize(27, 27));
    QVERIFY(preview->text().isEmpty());
    QCOMPARE(preview->toolTip(), QStringLiteral("Print Preview"));
    QCOMPARE(preview->icon().availableSizes().value(0), QSize(16, 16));
    for (const char *name : {"cmdPageSetup", "cmdAddEvent"}) {
        auto *button = f.window->findChild<QPushButton *>(QLatin1String(name));
        QCOMPARE(button->font().family(), QStringLiteral("Arial"));
        QCOMPARE(button->font().pointSizeF(), 8.25);
    }
    QCOMPARE(f.window->findChild<QPushButton *>(QStringLiteral("cmdPageSetup"))->text(), QStringLiteral("Page Setup"));
    QCOMPARE(f.window->findChild<QPushButton *>(QStringLiteral("cmdAddEvent"))->text(), QStringLiteral("Add Event"));
}

void tst_frmPrint::tabOrder()
{
    Fixture f;
    QWidget *w = f.window->findChild<QWidget *>(QStringLiteral("cmdPageSetup"));
    QStringList order;
    for (int i = 0; i < 4; ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!w->objectName().startsWith(QLatin1String("cmd")) && w != f.window.get());
    }
    QCOMPARE(order, QStringList({"cmdPageSetup", "cmdPrintPreview", "cmdPrint", "cmdAddEvent"}));
}

void tst_frmPrint::proportionalResize()
{
    Fixture f;
    f.window->resize(1238, 816);
    QCOMPARE(f.window->findChild<QWidget *>(QStringLiteral("cmdAddEvent"))->geometry(), QRect(0, 304, 82, 74));
    QCOMPARE(f.window->findChild<QWidget *>(QStringLiteral("WebBrowser1"))->geometry(), QRect(96, 16, 1122, 786));
}

void tst_frmPrint::load()
{
    Fixture f;
    QCOMPARE(f.browsers.calls, QStringList(QStringLiteral("navigate ") + g::reportPath));
    QVERIFY(!g::addToReport);
    QVERIFY(!f.window->pageSet());
    QVERIFY(f.prompt().shown.isEmpty());
}

void tst_frmPrint::addEvent()
{
    Fixture f;
    QVERIFY(f.window->isVisible());
    bool visibleDuringNotice = false;
    f.prompt().onShow = [&](const FakePrompt::Shown &) { visibleDuringNotice = f.window->isVisible(); };
    f.click("cmdAddEvent");
    QVERIFY(g::addToReport);
    QCOMPARE(f.prompt().shown.size(), 1);
    const FakePrompt::Shown box = f.prompt().shown.first();
    QCOMPARE(box.text, QStringLiteral("From the main window, select another event and then select the print feature again."));
    QCOMPARE(box.title, QStringLiteral("Multi-Print Feature"));
    QCOMPARE(box.icon, Prompt::Icon::Information);
    QCOMPARE(box.buttons, Prompt::Buttons::Ok);
    QVERIFY(visibleDuringNotice);
    QVERIFY(!f.window->isVisible());
    QVERIFY(f.commands().isEmpty());
}

void tst_frmPrint::pageQuestion_data()
{
    QTest::addColumn<bool>("pageSetupFirst");
    QTest::addColumn<Prompt::Answer>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QStringList>("commands");
    const QStringList setup{"status 8", "exec 8 1 texts"};
    const QStringList print{"status 6", "exec 6 1 texts"};
    QTest::newRow("no setup, No") << false << Prompt::Answer::No << true << QStringList();
    QTest::newRow("no setup, Yes") << false << Prompt::Answer::Yes << true << print;
    QTest::newRow("setup first") << true << Prompt::Answer::No << false << setup + print;
}

void tst_frmPrint::pageQuestion()
{
    QFETCH(bool, pageSetupFirst);
    QFETCH(Prompt::Answer, answer);
    QFETCH(bool, asked);
    QFETCH(QStringList, commands);
    Fixture f;
    f.prompt().answers.enqueue(answer);
    if (pageSetupFirst) {
        f.click("cmdPageSetup");
        QVERIFY(f.window->pageSet());
    }
    f.click("cmdPrint");
    QCOMPARE(f.commands(), commands);
    if (asked) {
        QCOMPARE(f.prompt().texts(), QStringList(kPageQuestion));
        QCOMPARE(f.prompt().shown.first().buttons, Prompt::Buttons::YesNo);
        QCOMPARE(f.prompt().shown.first().icon, Prompt::Icon::None);
        QCOMPARE(f.prompt().shown.first().title, QStringLiteral("Orvenna"));
    } else {
        QVERIFY(f.prompt().shown.isEmpty());
    }
}

void tst_frmPrint::pageQuestionAfterReopening()
{
    Fixture f;
    f.click("cmdPageSetup");
    f.window->close();
    f.open();
    f.prompt().answers.enqueue(Prompt::Answer::No);
    f.click("cmdPrint");
    QCOMPARE(f.prompt().texts(), QStringList(kPageQuestion));
}

void tst_frmPrint::disabledCommand_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("preview") << "cmdPrintPreview" << 7 << QStringList{"exec 7 1", "status 7"};
    QTest::newRow("page setup") << "cmdPageSetup" << 8 << QStringList{"status 8"};
    QTest::newRow("print") << "cmdPrint" << 6 << QStringList{"status 6"};
}

void tst_frmPrint::disabledCommand()
{
    QFETCH(QString, button);
    QFETCH(int, cmd);
    QFETCH(QStringList, commands);
    Fixture f;
    f.browsers.status.insert(cmd, 1 | 4); // everything but "enabled"
    f.prompt().answers.enqueue(Prompt::Answer::Yes);
    f.click(qPrintable(button));
    QCOMPARE(f.commands(), commands);
    QCOMPARE(f.prompt().texts().last(), kDisabled);
    QCOMPARE(f.prompt().shown.last().icon, Prompt::Icon::None);
    QVERIFY(!f.window->pageSet());
}

void tst_frmPrint::otherErrors_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("pageSet");
    const QString error = QStringLiteral("Print command Error: Printer out of paper");
    QTest::newRow("preview, first run") << "cmdPrintPreview" << "exec 7 1" << QStringList{"exec 7 1", "status 7"}
                                        << QStringList{error} << false;
    QTest::newRow("preview, status") << "cmdPrintPreview" << "status 7" << QStringList{"exec 7 1", "status 7"}
                                     << QStringList{error} << false;
    QTest::newRow("preview, second run") << "cmdPrintPreview" << "exec 7 1 texts"
                                         << QStringList{"exec 7 1", "status 7", "exec 7 1 texts"}
                                         << QStringList{error} << false;
    QTest::newRow("page setup, status ignored") << "cmdPageSetup" << "status 8" << QStringList{"status 8"}
                                                << QStringList() << false;
    QTest::newRow("page setup, run ignored") << "cmdPageSetup" << "exec 8 1 texts"
                                             << QStringList{"status 8", "exec 8 1 texts"} << QStringList() << true;
    QTest::newRow("print, status") << "cmdPrint" << "status 6" << QStringList{"status 6"}
                                   << QStringList{kPageQuestion, error} << false;
    QTest::newRow("print, run") << "cmdPrint" << "exec 6 1 texts" << QStringList{"status 6", "exec 6 1 texts"}
                                << QStringList{kPageQuestion, error} << false;
}

void tst_frmPrint::otherErrors()
{
    QFETCH(QString, button);
    QFETCH(QString, failingCall);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, messages);
    QFETCH(bool, pageSet);
    Fixture f;
    f.browsers.failures.insert(failingCall, QStringLiteral("Printer out of paper"));
    f.click(qPrintable(button));
    QCOMPARE(f.commands(), commands);
    QCOMPARE(f.prompt().texts(), messages);
    QCOMPARE(f.window->pageSet(), pageSet);
    QVERIFY(f.window->isVisible());
}

void tst_frmPrint::permissionDenied_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("messages");
    const QStringList previewRetry{"exec 7 1", "status 7", "exec 7 2"};
    QTest::newRow("preview, upper case") << "cmdPrintPreview" << "exec 7 1" << "PERMISSION DENIED" << previewRetry
                                         << QStringList();
    QTest::newRow("preview, mixed case") << "cmdPrintPreview" << "exec 7 1" << "Permission Denied" << previewRetry
                                         << QStringList();
    QTest::newRow("preview, after the status check") << "cmdPrintPreview" << "exec 7 1 texts" << "permission denied"
                                                     << QStringList{"exec 7 1", "status 7", "exec 7 1 texts", "exec 7 2"}
                                                     << QStringList();
    QTest::newRow("preview, not quite") << "cmdPrintPreview" << "exec 7 1" << "Permission denied."
                                        << QStringList{"exec 7 1", "status 7"}
                                        << QStringList{"Print command Error: Permission denied."};
    QTest::newRow("print, status query") << "cmdPrint" << "status 6" << "permission DENIED"
                                         << QStringList{"status 6", "exec 6 2"} << QStringList{kPageQuestion};
    QTest::newRow("print, dialog") << "cmdPrint" << "exec 6 1 texts" << "Permission Denied"
                                   << QStringList{"status 6", "exec 6 1 texts", "exec 6 2"} << QStringList{kPageQuestion};
}

void tst_frmPrint::permissionDenied()
{
    QFETCH(QString, button);
    QFETCH(QString, failingCall);
    QFETCH(QString, description);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, messages);
    Fixture f;
    f.browsers.failures.insert(failingCall, description);
    f.prompt().inputs.enqueue(QStringLiteral("1"));
    f.click(qPrintable(button));
    QCOMPARE(f.commands(), commands);
    QStringList boxes;
    for (const FakePrompt::Shown &s : f.prompt().shown)
        if (!s.isInput)
            boxes << s.text;
    QCOMPARE(boxes, messages);
}

void tst_frmPrint::copies_data()
{
    QTest::addColumn<std::optional<QString>>("typed");
    QTest::addColumn<int>("printed");
    QTest::addColumn<bool>("wrongArgument");
    QTest::newRow("Cancel") << std::optional<QString>() << 0 << false;
    QTest::newRow("default 0") << std::optional<QString>(QStringLiteral("0")) << 0 << true;
    QTest::newRow("empty text") << std::optional<QString>(QString()) << 0 << true;
    QTest::newRow("abc") << std::optional<QString>(QStringLiteral("abc")) << 0 << true;
    QTest::newRow("negative") << std::optional<QString>(QStringLiteral("-2")) << 0 << true;
    QTest::newRow("2") << std::optional<QString>(QStringLiteral("2")) << 2 << false;
    QTest::newRow("2.5 rounds to even 2") << std::optional<QString>(QStringLiteral("2.5")) << 2 << false;
    QTest::newRow("3.5 rounds to even 4") << std::optional<QString>(QStringLiteral("3.5")) << 4 << false;
    QTest::newRow("0.4 prints nothing") << std::optional<QString>(QStringLiteral("0.4")) << 0 << false;
    QTest::newRow("0.5 rounds to 0") << std::optional<QString>(QStringLiteral("0.5")) << 0 << false;
    QTest::newRow("2.51") << std::optional<QString>(QStringLiteral("2.51")) << 3 << false;
    QTest::newRow("leading number") << std::optional<QString>(QStringLiteral(" 3 copies")) << 3 << false;
    QTest::newRow("beyond 16 bits") << std::optional<QString>(QStringLiteral("32768")) << 0 << false;
    QTest::newRow("huge") << std::optional<QString>(QStringLiteral("1e300")) << 0 << false;
}

void tst_frmPrint::copies()
{
    QFETCH(std::optional<QString>, typed);
    QFETCH(int, printed);
    QFETCH(bool, wrongArgument);
    Fixture f;
    f.browsers.failures.insert(QStringLiteral("exec 6 1 texts"), QStringLiteral("PERMISSION DENIED"));
    f.prompt().answers.enqueue(Prompt::Answer::Yes);
    f.prompt().inputs.enqueue(typed);
    f.click("cmdPrint");

    const QStringList expected = QStringList{"status 6", "exec 6 1 texts"} + QStringList(printed, QStringLiteral("exec 6 2"));
    QCOMPARE(f.commands(), expected);
    QCOMPARE(f.prompt().shown.size(), wrongArgument ? 3 : 2);
    const FakePrompt::Shown input = f.prompt().shown.at(1);
    QVERIFY(input.isInput);
    QCOMPARE(input.text, QStringLiteral("Number of Copies:"));
    QCOMPARE(input.title, QStringLiteral("Print"));
    QCOMPARE(input.defaultText, QStringLiteral("0"));
    QCOMPARE(input.screenPos, std::optional<QPoint>(QPoint(500 / 15, 500 / 15)));
    if (wrongArgument)
        QCOMPARE(f.prompt().shown.at(2).text, kWrongCopies);
}

QTEST_MAIN(tst_frmPrint)
#include "tst_frmPrint.moc"
