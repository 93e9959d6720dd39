#pragma once

#include "ui/Prompt.h"

#include <QList>
#include <QQueue>

#include <functional>

// Records every box the program shows and answers from a queue. An empty
// queue answers Yes to questions, OK to notices, Discard to a window closing
// with unsaved changes, and cancels input boxes.
class FakePrompt : public Prompt
{
public:
    struct Shown
    {
        QString text;
        QString title; // as the user sees it: "Orvenna" when none was given
        Icon icon = Icon::None;
        Buttons buttons = Buttons::Ok;
        bool isInput = false;
        QString defaultText;
        QString details;
    };

    Answer message(QWidget *parent, const QString &text, Icon icon, Buttons buttons,
                   const QString &title = QString(), const QString &details = QString()) override;
    std::optional<QString> input(QWidget *parent, const QString &label, const QString &title,
                                 const QString &defaultText,
                                 std::optional<QPoint> screenPos = std::nullopt) override;

    QList<Shown> shown;
    QQueue<Answer> answers;
    QQueue<std::optional<QString>> inputs;
    // Run once, when the next message is shown and before it is answered:
    // what another copy does while the user reads it.
    std::function<void()> meanwhile;

    [[nodiscard]] QStringList texts() const;
};
