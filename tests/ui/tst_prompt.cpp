#include "ui/Prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The real message box, as a person meets it: what it shows, and what the
// Return key (its default button) answers.
class tst_Prompt : public QObject
{
    Q_OBJECT

private slots:
    void returnKey_data();
    void returnKey();
};

void tst_Prompt::returnKey_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");   // Prompt::Icon
    QTest::addColumn<int>("buttons"); // Prompt::Buttons
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("shown"); // the box's text, its title, icon and details, "|"-joined
    QTest::addColumn<int>("answer");    // Prompt::Answer
    QTest::newRow("question defaults to Yes")
        << "Are you sure?" << int(Prompt::Icon::Question) << int(Prompt::Buttons::YesNo) << "" << "" << "Are you sure?|Orvenna|4|"
        << int(Prompt::Answer::Yes);
    QTest::newRow("CR LF shows as one line break")
        << "An error occured while updating the record\r\ndisk I/O error" << int(Prompt::Icon::Critical) << int(Prompt::Buttons::Ok)
        << "" << "" << "An error occured while updating the record\ndisk I/O error|Orvenna|3|" << int(Prompt::Answer::Ok);
    // The driver's own words behind a plain reason, for the asking.
    QTest::newRow("details") << "An error occured while updating the record\r\nThe calendar file is read-only."
                             << int(Prompt::Icon::Critical) << int(Prompt::Buttons::Ok) << "" << "attempt to write a readonly database"
                             << "An error occured while updating the record\nThe calendar file is read-only.|Orvenna|3|"
                                "attempt to write a readonly database"
                             << int(Prompt::Answer::Ok);
    QTest::newRow("own title, no icon") << "Printed." << int(Prompt::Icon::None) << int(Prompt::Buttons::Ok) << "Print" << ""
                                        << "Printed.|Print|0|" << int(Prompt::Answer::Ok);
    // Closing a window with unsaved changes: Return keeps it open.
    QTest::newRow("save question defaults to Cancel")
        << "Do you want to save your changes before closing?" << int(Prompt::Icon::Question)
        << int(Prompt::Buttons::SaveDiscardCancel) << "" << ""
        << "Do you want to save your changes before closing?|Orvenna|4|" << int(Prompt::Answer::Cancel);
}

void tst_Prompt::returnKey()
{
    QFETCH(QString, text);
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(QString, title);
    QFETCH(QString, details);
    QFETCH(QString, shown);
    QFETCH(int, answer);
    QString seen;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !seen.isEmpty())
            return;
        seen = box->text() + '|' + box->windowTitle() + '|' + QString::number(box->icon()) + '|' + box->detailedText();
        QTest::keyClick(box, Qt::Key_Return);
    });
    answerer.start(10);
    WidgetPrompt prompt;
    const Prompt::Answer got = prompt.message(nullptr, text, Prompt::Icon(icon),
                                              Prompt::Buttons(buttons), title, details);
    QCOMPARE(seen, shown);
    QCOMPARE(int(got), answer);
}

#include "support/TestMain.h"
ORVENNA_TEST_MAIN(tst_Prompt)
#include "tst_prompt.moc"
