#include "about/DesktopServices.h"
#include "about/RegistryReader.h"
#include "about/frmAbout.h"
#include "support/FakePrompt.h"
#include "support/TestDatabase.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <cstring>

namespace {

const QString kInFolder = "C:\\Common\\MSInfo\\MSINFO32.EXE";

// The desktop, recording what it is asked to open and start, with a registry of keys
// under HKEY_LOCAL_MACHINE opened with full access: key -> value name -> type and bytes.
struct FakeDesktop : DesktopServices, RegistryReader
{
    QMap<QString, QMap<QString, std::pair<quint32, QByteArray>>> keys;
    QStringList opened, started, asked, files;
    QMap<QString, QString> onPath;
    bool hasRegistry = true, startWorks = true;
    int openKeys = 0;

    void openUrl(const QString &url) override { opened << url; }
    bool startProgram(const QString &path) override { started << path; return startWorks; }
    bool fileExists(const QString &path) override { asked << path; return files.contains(path); }
    QString findOnPath(const QString &name) override { return onPath.value(name); }
    RegistryReader *registry() override { return hasRegistry ? this : nullptr; }

    long openKey(quint32 root, const QString &name, quint32 access, KeyHandle *key) override
    {
        if (root != registry::kLocalMachine || access != 0x2003Fu || !keys.contains(name))
            return 2; // not found
        *key = KeyHandle(keys.keys().indexOf(name) + 1);
        ++openKeys;
        return 0;
    }
    long queryValue(KeyHandle key, const QString &name, quint32 *type, char *buffer, quint32 *size) override
    {
        const auto values = keys.value(keys.keys().value(int(key) - 1));
        const auto [valueType, bytes] = values.value(name);
        if (!values.contains(name) || quint32(bytes.size()) > *size)
            return 2; // not found, or more data than fits
        std::memcpy(buffer, bytes.constData(), size_t(bytes.size()));
        *size = quint32(bytes.size());
        *type = valueType;
        return 0;
    }
    void closeKey(KeyHandle) override { --openKeys; }
};

struct About
{
    About() { db.services.desktop = &desktop; w = frmAbout::showShared(db.services); }
    ~About() { delete w.data(); }
    TestDatabase db{false};
    FakeDesktop desktop;
    QPointer<frmAbout> w;
};

} // namespace

class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void getKeyValue_data();
    void getKeyValue();
    void sysInfo_data();
    void sysInfo();
    void oneSharedWindow_data();
    void oneSharedWindow();
};

void tst_About::getKeyValue_data()
{
    QTest::addColumn<quint32>("type"); // 0: the key holds another value only
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("keyVal");
    const QByteArray path("C:\\Program Files\\msinfo32.exe");
    QTest::newRow("text with its terminating zero") << 1u << path + '\0' << true << QString(path);
    QTest::newRow("text without terminating zero") << 1u << path << true << QString(path);
    QTest::newRow("a single zero") << 1u << QByteArray(1, '\0') << true << QString();
    QTest::newRow("only the last zero goes") << 1u << QByteArray("ab\0\0", 4) << true << QString::fromLatin1("ab\0", 3);
    QTest::newRow("1024 characters, no zero") << 1u << QByteArray(1024, 'x') << true << QString(1024, 'x');
    QTest::newRow("longer than the buffer") << 1u << QByteArray(1025, 'x') << false << QString();
    QTest::newRow("number") << 4u << QByteArray("\x0f\xab\x00\x12", 4) << true << QString("&h1200AB0F");
    QTest::newRow("other type keeps what came in") << 3u << QByteArray("\x01", 1) << true << QString("came in");
    QTest::newRow("missing value") << 0u << QByteArray("x") << false << QString();
}

void tst_About::getKeyValue()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, keyVal);
    FakeDesktop reg;
    reg.keys["SOFTWARE\\Tools"][type != 0 ? "PATH" : "OTHER"] = {type, bytes};
    QString value = "came in";
    QCOMPARE(GetKeyValue(reg, registry::kLocalMachine, "SOFTWARE\\Tools", "PATH", value), ok);
    QCOMPARE(value, keyVal);
    QVERIFY2(reg.openKeys == 0, "the key is closed on every way out");
}

void tst_About::sysInfo_data()
{
    // Words: path and folder (the two registry values), file (the tool in that folder),
    // noRegistry, onPath (a system monitor on the PATH), fails (starting a program fails).
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("started");
    const QStringList exe{"C:\\Windows\\msinfo32.exe"}, inFolder{kInFolder}, onPath{"/usr/bin/kinfocenter"}, none;
    QTest::newRow("tool path read") << "path folder file" << exe;
    QTest::newRow("tool path will not start") << "path fails" << exe;
    QTest::newRow("tool in the shared folder") << "folder file" << inFolder;
    QTest::newRow("shared folder without the tool") << "folder" << none;
    QTest::newRow("tool in the folder will not start") << "folder file fails" << inFolder;
    QTest::newRow("neither value") << "onPath" << none;
    QTest::newRow("no registry, tool on the path") << "noRegistry onPath" << onPath;
    QTest::newRow("no registry, tool will not start") << "noRegistry onPath fails" << onPath;
    QTest::newRow("no registry, no tool") << "noRegistry" << none;
}

// Unless a program was started, the user is told that system information is unavailable.
void tst_About::sysInfo()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, started);
    const QStringList has = setup.split(' ');
    About a;
    const QByteArray exe("C:\\Windows\\msinfo32.exe\0", 24), folder("C:\\Common\\MSInfo\0", 17);
    if (has.contains("path"))
        a.desktop.keys["SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"]["PATH"] = {registry::kTypeText, exe};
    if (has.contains("folder"))
        a.desktop.keys["SOFTWARE\\Microsoft\\Shared Tools Location"]["MSINFO"] = {registry::kTypeText, folder};
    if (has.contains("file"))
        a.desktop.files << kInFolder;
    if (has.contains("onPath"))
        a.desktop.onPath.insert("kinfocenter", "/usr/bin/kinfocenter");
    a.desktop.hasRegistry = !has.contains("noRegistry");
    a.desktop.startWorks = !has.contains("fails");

    QTest::mouseClick(a.w->findChild<QPushButton *>("cmdSysInfo"), Qt::LeftButton);
    QCOMPARE(a.desktop.started, started);
    QVERIFY2(!has.contains("path") || a.desktop.asked.isEmpty(), "a path read from the registry is started as it is");
    QCOMPARE(a.db.prompt().texts().join(""),
             started.isEmpty() || has.contains("fails") ? "System Information Is Unavailable At This Time" : "");
}

void tst_About::oneSharedWindow_data()
{
    QTest::addColumn<int>("key"); // 0: the OK button
    QTest::addColumn<QString>("database"); // the calendar in use when shown again
    QTest::addColumn<QString>("lastLine"); // empty: the file's folder
    QTest::newRow("OK button") << 0 << "" << "";
    QTest::newRow("Enter") << int(Qt::Key_Return) << "" << "";
    QTest::newRow("Escape") << int(Qt::Key_Escape) << "" << "";
    QTest::newRow("a shared calendar chosen meanwhile") << 0 << "postgresql://coach@db/team"
                                                        << "Your shared calendar: postgresql://coach@db/team";
    QTest::newRow("its password never shown") << int(Qt::Key_Escape) << "postgresql://coach:s3cr@t@db/team"
                                              << "Your shared calendar: postgresql://coach:****@db/team";
}

// Shown again while open, the same window comes up; closed, it goes, and the next one is loaded afresh.
// Only a left click opens a link, with the address as shown, untrimmed.
void tst_About::oneSharedWindow()
{
    QFETCH(int, key);
    QFETCH(QString, database);
    QFETCH(QString, lastLine);
    About a;
    QCOMPARE(a.w->findChild<QLabel *>("lblDescription")->text(),
             "Windows 95/98/ME/NT/XP\r\n\r\nCopyright (C) 2026 PitchSide Software\r\nDistributed by PitchSide Software");
    QCOMPARE(a.w->findChild<QLabel *>("lblDataFolder")->text(), "Your calendar is kept in " + a.db.services.programFolder);
    a.db.services.database = database;
    QCOMPARE(frmAbout::showShared(a.db.services), a.w.data());
    QLabel *last = a.w->findChild<QLabel *>("lblDataFolder");
    QCOMPARE(last->text(), lastLine.isEmpty() ? "Your calendar is kept in " + a.db.services.programFolder : lastLine);
    QVERIFY(!last->toolTip().contains("s3cr"));
    a.w->findChild<QLabel *>("lblEmail")->setText(" help@orvenna.example ");
    for (const char *name : {"lblEmail", "lblWebsite"}) {
        QTest::mouseClick(a.w->findChild<QLabel *>(name), Qt::RightButton);
        QTest::mouseClick(a.w->findChild<QLabel *>(name), Qt::LeftButton);
    }
    QCOMPARE(a.desktop.opened, (QStringList{"mailto: help@orvenna.example ", "http://orvenna.example"}));
    a.w->findChild<QLabel *>("lblVersion")->setText("changed");
    if (key != 0)
        QTest::keyClick(a.w, Qt::Key(key));
    else
        QTest::mouseClick(a.w->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(a.w.isNull());

    a.w = frmAbout::showShared(a.db.services);
    QCOMPARE(a.w->findChild<QLabel *>("lblVersion")->text(), QStringLiteral("Version 1.1.0"));
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_About)
#include "tst_about.moc"
