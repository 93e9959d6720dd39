#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

#include "model/Entry.h"

namespace model { class Calendar; }
namespace store { class Connection; }

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

    // The table, through the store. readEntries hands on each entry's key
    // and title in the store's order; a row that cannot be read ends it with
    // its failure. readText gives the entry's text, none when it is gone.
    using EachEntry = std::function<void(int id, const QString &title)>;
    void (*readEntries)(store::Connection &conn, const EachEntry &each) = nullptr;
    std::optional<QString> (*readText)(store::Connection &conn, int id) = nullptr;
    int (*insertRow)(store::Connection &conn, const QString &title, const QString &text) = nullptr;
    void (*updateRow)(store::Connection &conn, int id, const QString &title, const QString &text) = nullptr;
    void (*deleteRow)(store::Connection &conn, int id) = nullptr;
    // How many events use the entry; none for templates, which events copy
    // rather than name.
    int (*countUses)(store::Connection &conn, int id) = nullptr;
    // What the calendar is told after a write, so the windows showing the table follow.
    void (model::Calendar::*tellChanged)() = nullptr;
    // The table as the calendar's undo steps name it, and the steps' noun ("Add Staff Member 'Jane'").
    model::Table table = model::Table::Templates;
    QString stepNoun;

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
