#pragma once

#include <QRect>
#include <QSize>
#include <QString>

// Everything that tells the template manager and the staff manager apart: the
// table they work on, their captions and their layout. Both windows are one
// window type, frmListManager, built from one of these.
struct ListKind
{
    // Window and controls
    QString windowName;   // objectName of the window
    QString caption;
    QString comboName;    // objectName of the title/name combo box
    QString label1Text;   // caption of the combo box
    QString label2Text;   // caption of the text box

    // Table. Columns are read by these names.
    QString keyColumn;
    QString titleColumn;
    QString textColumn;
    QString (*selectAll)() = nullptr;
    QString (*selectById)(int id) = nullptr;
    QString (*insertRow)(const QString &title, const QString &text) = nullptr;
    QString (*updateRow)(const QString &title, const QString &text, int id) = nullptr;
    QString (*deleteRow)(int id) = nullptr;
    // How many events use the entry, in a column "events"; none for templates,
    // which events copy rather than name.
    QString (*countUses)(int id) = nullptr;

    // Layout in pixels on a client area of clientSize. The combo box keeps its
    // natural height; only its left, top and width are used.
    QSize clientSize;
    int toolbarHeight = 22;
    QRect label1;
    QRect combo;
    QRect label2;
    QRect description;
    // Tab positions; the lowest holds the focus when the window opens.
    int toolbarTab = 0;
    int comboTab = 0;
    int descriptionTab = 0;

    // Texts
    QString addNewText;          // put into the text box by Add New
    QString emptyTitleMessage;   // Save and Close refusing an empty new title
    QString deleteQuestionStart; // followed by the title text and "'?"
    QString (*inUseNote)(int uses) = nullptr; // a second line for the delete question
    QString duplicateQuestion;   // before adding a title that is there already; %1 is the title

    [[nodiscard]] static const ListKind &templates();
    [[nodiscard]] static const ListKind &staff();
};
