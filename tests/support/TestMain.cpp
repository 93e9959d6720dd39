#include "support/TestMain.h"

#include <QMetaMethod>

#include <algorithm>

namespace {

QStringList testFunctions(const QObject &test)
{
    static const QList<QByteArray> fixtures = {"init", "cleanup", "initTestCase", "cleanupTestCase", "initTestCase_data"};
    QStringList names;
    const QMetaObject *meta = test.metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() != QMetaMethod::Slot || m.access() != QMetaMethod::Private || m.parameterCount() != 0
            || m.returnMetaType() != QMetaType::fromType<void>() || m.name().endsWith("_data") || fixtures.contains(m.name()))
            continue;
        names << QString::fromLatin1(m.name());
    }
    return names;
}

} // namespace

int runTestFunctions(QObject &test, int argc, char **argv)
{
    const QString program = QString::fromLocal8Bit(argv[0]);
    QList<QStringList> runs;
    if (argc > 1) {
        QStringList given;
        for (int i = 0; i < argc; ++i)
            given << QString::fromLocal8Bit(argv[i]);
        runs << given;
    } else {
        for (const QString &function : testFunctions(test))
            runs << QStringList{program, function};
    }
    int failed = 0;
    for (const QStringList &run : std::as_const(runs)) {
        try {
            failed += QTest::qExec(&test, run);
        } catch (...) {
            ++failed; // Qt Test has already logged it against the function
        }
    }
    return std::min(failed, 127);
}
