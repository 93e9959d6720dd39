#pragma once

#include <QPoint>
#include <QString>

#include <optional>

class QWidget;

// Every message box and input box of the program goes through this interface,
// so tests can read what a user would be told and answer for them.
class Prompt
{
public:
    enum class Icon { None, Information, Question, Critical };
    // SaveDiscardCancel: a window closing with unsaved changes; Cancel is the default.
    enum class Buttons { Ok, YesNo, SaveDiscardCancel };
    enum class Answer { Ok, Yes, No, Save, Discard, Cancel };

    virtual ~Prompt() = default;

    // An empty title shows the application title "Orvenna". `details`, when
    // given, is there for the asking (the driver's own words behind a plain reason).
    virtual Answer message(QWidget *parent, const QString &text, Icon icon, Buttons buttons,
                           const QString &title = QString(), const QString &details = QString()) = 0;

    // Returns nothing when the user cancels; confirming an empty text is not a cancel.
    // `screenPos`, when given, places the box at that point of the screen.
    virtual std::optional<QString> input(QWidget *parent, const QString &label, const QString &title,
                                         const QString &defaultText,
                                         std::optional<QPoint> screenPos = std::nullopt) = 0;

    // Convenience wrappers for the common shapes.
    void inform(QWidget *parent, const QString &text, const QString &title = QString())
    {
        message(parent, text, Icon::Information, Buttons::Ok, title);
    }
    void critical(QWidget *parent, const QString &text, const QString &title = QString(),
                  const QString &details = QString())
    {
        message(parent, text, Icon::Critical, Buttons::Ok, title, details);
    }
    bool ask(QWidget *parent, const QString &text, const QString &title = QString())
    {
        return message(parent, text, Icon::Question, Buttons::YesNo, title) == Answer::Yes;
    }
    Answer askToSave(QWidget *parent, const QString &text)
    {
        return message(parent, text, Icon::Question, Buttons::SaveDiscardCancel);
    }
};

// The real boxes.
class WidgetPrompt : public Prompt
{
public:
    Answer message(QWidget *parent, const QString &text, Icon icon, Buttons buttons,
                   const QString &title = QString(), const QString &details = QString()) override;
    std::optional<QString> input(QWidget *parent, const QString &label, const QString &title,
                                 const QString &defaultText,
                                 std::optional<QPoint> screenPos = std::nullopt) override;
};

[[nodiscard]] QString applicationTitle();
