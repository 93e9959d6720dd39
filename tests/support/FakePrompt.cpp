#include "support/FakePrompt.h"

#include <utility>

Prompt::Answer FakePrompt::message(QWidget *, const QString &text, Icon icon, Buttons buttons, const QString &title,
                                  const QString &details)
{
    Shown s;
    s.text = text;
    s.details = details;
    s.title = title.isEmpty() ? applicationTitle() : title;
    s.icon = icon;
    s.buttons = buttons;
    shown.append(s);
    if (meanwhile)
        std::exchange(meanwhile, nullptr)();
    if (!answers.isEmpty())
        return answers.dequeue();
    return buttons == Buttons::YesNo ? Answer::Yes : buttons == Buttons::SaveDiscardCancel ? Answer::Discard : Answer::Ok;
}

std::optional<QString> FakePrompt::input(QWidget *, const QString &label, const QString &title,
                                         const QString &defaultText, std::optional<QPoint>)
{
    Shown s;
    s.text = label;
    s.title = title.isEmpty() ? applicationTitle() : title;
    s.isInput = true;
    s.defaultText = defaultText;
    shown.append(s);
    if (!inputs.isEmpty())
        return inputs.dequeue();
    return std::nullopt;
}

QStringList FakePrompt::texts() const
{
    QStringList out;
    for (const Shown &s : shown)
        out << s.text;
    return out;
}
