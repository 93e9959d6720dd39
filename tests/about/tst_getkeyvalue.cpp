#include "FakeRegistry.h"

#include <QTest>

class tst_GetKeyValue : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
};

void tst_GetKeyValue::reading_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("keyVal");

    const QByteArray path("C:\\Program Files\\msinfo32.exe");
    QTest::newRow("text with its terminating zero") << true << 1u << path + '\0' << true << QString(path);
    QTest::newRow("text without terminating zero") << true << 1u << path << true << QString(path);
    QTest::newRow("a single zero") << true << 1u << QByteArray(1, '\0') << true << QString();
    QTest::newRow("only the last zero goes") << true << 1u << QByteArray("ab\0\0", 4) << true << QString::fromLatin1("ab\0", 3);
    QTest::newRow("1024 characters, no zero") << true << 1u << QByteArray(1024, 'x') << true << QString(1024, 'x');
    QTest::newRow("longer than the buffer") << true << 1u << QByteArray(1025, 'x') << false << QString();
    QTest::newRow("number") << true << 4u << QByteArray("\x1f\x00\x00\x00", 4) << true << QString("&h0000001F");
    QTest::newRow("number with every byte") << true << 4u << QByteArray("\x78\x56\x34\x12", 4) << true << QString("&h12345678");
    QTest::newRow("other type keeps what came in") << true << 3u << QByteArray("\x01\x02", 2) << true << QString("came in");
    QTest::newRow("missing value") << false << 1u << QByteArray() << false << QString();
}

void tst_GetKeyValue::reading()
{
    QFETCH(bool, present);
    QFETCH(quint32, type);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, keyVal);

    FakeRegistry reg;
    reg.keys["SOFTWARE\\Tools"]; // the key exists, maybe without the value
    if (present)
        reg.set("SOFTWARE\\Tools", "PATH", bytes, type);
    QString value = "came in";
    QCOMPARE(GetKeyValue(reg, registry::kLocalMachine, "SOFTWARE\\Tools", "PATH", value), ok);
    QCOMPARE(value, keyVal);
    QCOMPARE(reg.roots, QList<quint32>{0x80000002u});
    QCOMPARE(reg.accesses, QList<quint32>{0x2003Fu});
    QVERIFY2(reg.openKeys.isEmpty(), "the key is closed on every way out");

    // A key that cannot be opened reads as nothing, too.
    value = "came in";
    QVERIFY(!GetKeyValue(reg, registry::kLocalMachine, "SOFTWARE\\Missing", "PATH", value));
    QVERIFY(value.isEmpty());
}

QTEST_APPLESS_MAIN(tst_GetKeyValue)
#include "tst_getkeyvalue.moc"
