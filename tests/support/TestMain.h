#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QTest>

// Runs the test object's functions one qExec each when no arguments are given
// (as CTest runs them). Qt Test 6.4 reports an exception escaping a test
// function as that function's failure and then rethrows it out of qExec, which
// would end the program before the later functions ran; here it fails that
// function only. With arguments, one qExec runs them as given.
int runTestFunctions(QObject &test, int argc, char **argv);

// QTEST_MAIN and QTEST_GUILESS_MAIN, running through runTestFunctions.
#define ORVENNA_TEST_MAIN(TestObject)                \
    int main(int argc, char *argv[])                 \
    {                                                \
        QApplication app(argc, argv);                \
        app.setAttribute(Qt::AA_Use96Dpi, true);     \
        TestObject test;                             \
        QTEST_SET_MAIN_SOURCE_PATH                   \
        return runTestFunctions(test, argc, argv);   \
    }

#define ORVENNA_TEST_GUILESS_MAIN(TestObject)        \
    int main(int argc, char *argv[])                 \
    {                                                \
        QCoreApplication app(argc, argv);            \
        TestObject test;                             \
        QTEST_SET_MAIN_SOURCE_PATH                   \
        return runTestFunctions(test, argc, argv);   \
    }
