#include "FakeRegistry.h"

#include "about/DesktopServices.h"
#include "about/frmAbout.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");
const QString kToolKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kFolderKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

class FakeDesktop : public DesktopServices
{
public:
    QStringList opened, started, asked;
    QStringList files;
    QMap<QString, QString> onPath;
    bool startWorks = true;
    RegistryReader *reader = nullptr;

    void openUrl(const QString &url) override { opened << url; }
    bool startProgram(const QString &path) override
    {
        started << path;
        return startWorks;
    }
    bool fileExists(const QString &path) override
    {
        asked << path;
        return files.contains(path);
    }
    QString findOnPath(const QString &name) override { return onPath.value(name); }
    RegistryReader *registry() override { return reader; }
};

struct About
{
    About()
    {
        db.services.desktop = &desktop;
        w = frmAbout::showShared(db.services);
    }
    ~About()
    {
        if (w)
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    TestDatabase db{false};
    FakeDesktop desktop;
    QPointer<frmAbout> w;

    template <typename T = QLabel>
    T *get(const char *name) const { return w->findChild<T *>(name); }
};

} // namespace

class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void load();
    void layout_data();
    void layout();
    void links_data();
    void links();
    void sysInfo_data();
    void sysInfo();
    void oneSharedWindow_data();
    void oneSharedWindow();
};

void tst_About::load()
{
    About a;
    QCOMPARE(a.w->objectName(), QStringLiteral("frmAbout"));
    QCOMPARE(a.w->windowTitle(), QStringLiteral("About Orvenna"));
    QCOMPARE(a.get("lblTitle")->text(), QStringLiteral("Orvenna"));
    QCOMPARE(a.get("lblVersion")->text(), QStringLiteral("Version 1.1.0"));
    const QStringList lines = a.get("lblDescription")->text().split("\r\n");
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("Windows 95/98/ME/NT/XP"));
    QVERIFY(lines[1].isEmpty());
    QVERIFY(lines[2].startsWith("Copyright"));
    QVERIFY(!lines[3].isEmpty() && !lines[3].contains('\n') && !lines[3].contains('\r'));
    QCOMPARE(a.w->size(), QSize(400, 298));
    QCOMPARE(a.w->palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(!a.w->isModal());
    QVERIFY(!a.get("picIcon")->pixmap().isNull());
    QCOMPARE(a.get("picIcon")->pixmap().size(), QSize(100, 108));
    QCOMPARE(a.get<QPushButton>("cmdSysInfo")->text(), QStringLiteral("&System Info..."));
    QVERIFY(a.get<QPushButton>("cmdOK")->isDefault());
}

void tst_About::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("picIcon") << "picIcon" << QRect(8, 8, 104, 112);
    QTest::newRow("lblTitle") << "lblTitle" << QRect(132, 8, 259, 32);
    QTest::newRow("lblVersion") << "lblVersion" << QRect(132, 44, 259, 15);
    QTest::newRow("lblDescription") << "lblDescription" << QRect(132, 67, 259, 62);
    QTest::newRow("Label2") << "Label2" << QRect(8, 128, 57, 25);
    QTest::newRow("Label3") << "Label3" << QRect(8, 152, 65, 25);
    QTest::newRow("Label4") << "Label4" << QRect(16, 176, 65, 25);
    QTest::newRow("lblWebsite") << "lblWebsite" << QRect(132, 136, 103, 32);
    QTest::newRow("lblEmail") << "lblEmail" << QRect(268, 136, 123, 32);
    QTest::newRow("lblDisclaimer") << "lblDisclaimer" << QRect(8, 200, 381, 63);
    QTest::newRow("cmdOK") << "cmdOK" << QRect(8, 268, 180, 23);
    QTest::newRow("cmdSysInfo") << "cmdSysInfo" << QRect(208, 268, 185, 23);
}

void tst_About::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    About a;
    auto *control = a.w->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    // Every text fits its label as laid out.
    if (auto *label = qobject_cast<QLabel *>(control); label && !label->text().isEmpty())
        QVERIFY2(label->sizeHint().width() <= geometry.width() || label->wordWrap(), qPrintable(label->text()));
}

void tst_About::links_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text"); // empty: as shown
    QTest::addColumn<QString>("scheme");
    QTest::newRow("e-mail") << "lblEmail" << QString() << "mailto:";
    QTest::newRow("e-mail with a trailing blank") << "lblEmail" << "help@orvenna.example " << "mailto:";
    QTest::newRow("website") << "lblWebsite" << QString() << "http://";
}

void tst_About::links()
{
    QFETCH(QString, label);
    QFETCH(QString, text);
    QFETCH(QString, scheme);
    About a;
    auto *link = a.w->findChild<QLabel *>(label);
    if (!text.isEmpty())
        link->setText(text);
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(link->font().underline());
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));

    QTest::mouseClick(link, Qt::RightButton);
    QVERIFY(a.desktop.opened.isEmpty());
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(a.desktop.opened, QStringList{scheme + link->text()});
    QVERIFY(a.db.prompt().shown.isEmpty());
}

void tst_About::sysInfo_data()
{
    QTest::addColumn<bool>("hasRegistry");
    QTest::addColumn<QByteArray>("toolPath");   // empty: no such value
    QTest::addColumn<QByteArray>("toolFolder"); // empty: no such value
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("onPath");        // a program name found on the PATH
    QTest::addColumn<bool>("startWorks");
    QTest::addColumn<QString>("started");       // empty: nothing was started
    QTest::addColumn<bool>("unavailable");

    const QByteArray exe("C:\\Windows\\msinfo32.exe\0", 24), folder("C:\\Common\\MSInfo\0", 17);
    const QString inFolder = "C:\\Common\\MSInfo\\MSINFO32.EXE";
    QTest::newRow("tool path read") << true << exe << folder << QStringList() << "" << true << "C:\\Windows\\msinfo32.exe" << false;
    QTest::newRow("tool path will not start") << true << exe << QByteArray() << QStringList() << "" << false << "C:\\Windows\\msinfo32.exe" << true;
    QTest::newRow("tool in the shared folder") << true << QByteArray() << folder << QStringList{inFolder} << "" << true << inFolder << false;
    QTest::newRow("shared folder without the tool") << true << QByteArray() << folder << QStringList() << "" << true << "" << true;
    QTest::newRow("tool in the folder will not start") << true << QByteArray() << folder << QStringList{inFolder} << "" << false << inFolder << true;
    QTest::newRow("neither value") << true << QByteArray() << QByteArray() << QStringList() << "hardinfo" << true << "" << true;
    QTest::newRow("no registry, tool on the path") << false << QByteArray() << QByteArray() << QStringList() << "kinfocenter" << true << "/usr/bin/kinfocenter" << false;
    QTest::newRow("no registry, tool will not start") << false << QByteArray() << QByteArray() << QStringList() << "lxtask" << false << "/usr/bin/lxtask" << true;
    QTest::newRow("no registry, no tool") << false << QByteArray() << QByteArray() << QStringList() << "" << true << "" << true;
}

void tst_About::sysInfo()
{
    QFETCH(bool, hasRegistry);
    QFETCH(QByteArray, toolPath);
    QFETCH(QByteArray, toolFolder);
    QFETCH(QStringList, files);
    QFETCH(QString, onPath);
    QFETCH(bool, startWorks);
    QFETCH(QString, started);
    QFETCH(bool, unavailable);

    About a;
    FakeRegistry reg;
    if (!toolPath.isEmpty())
        reg.set(kToolKey, "PATH", toolPath);
    if (!toolFolder.isEmpty())
        reg.set(kFolderKey, "MSINFO", toolFolder);
    a.desktop.reader = hasRegistry ? &reg : nullptr;
    a.desktop.files = files;
    if (!onPath.isEmpty())
        a.desktop.onPath.insert(onPath, "/usr/bin/" + onPath);
    a.desktop.startWorks = startWorks;

    QTest::mouseClick(a.get<QPushButton>("cmdSysInfo"), Qt::LeftButton);

    QCOMPARE(a.desktop.started, started.isEmpty() ? QStringList() : QStringList{started});
    if (!toolPath.isEmpty())
        QVERIFY2(a.desktop.asked.isEmpty(), "a path read from the registry is started without looking for it");
    QVERIFY(a.w->isVisible());
    FakePrompt &prompt = a.db.prompt();
    QCOMPARE(prompt.texts(), unavailable ? QStringList{kUnavailable} : QStringList());
    if (unavailable) {
        QCOMPARE(prompt.shown[0].icon, Prompt::Icon::None);
        QCOMPARE(prompt.shown[0].buttons, Prompt::Buttons::Ok);
        QCOMPARE(prompt.shown[0].title, QStringLiteral("Orvenna"));
    }
}

void tst_About::oneSharedWindow_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("OK button") << "click";
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Escape") << "escape";
}

void tst_About::oneSharedWindow()
{
    QFETCH(QString, how);
    About a;
    QVERIFY(a.w->isVisible());
    QCOMPARE(frmAbout::showShared(a.db.services), a.w.data());
    a.get("lblVersion")->setText("changed");

    if (how == "click")
        QTest::mouseClick(a.get<QPushButton>("cmdOK"), Qt::LeftButton);
    else
        QTest::keyClick(a.w, how == "enter" ? Qt::Key_Return : Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(a.w.isNull());

    // The next one is loaded afresh.
    a.w = frmAbout::showShared(a.db.services);
    QVERIFY(a.w->isVisible());
    QCOMPARE(a.get("lblVersion")->text(), QStringLiteral("Version 1.1.0"));
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
