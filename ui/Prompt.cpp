#include "ui/Prompt.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {

// A box is centred over the window it belongs to. A window not on screen yet
// (an editor whose load failed) would put it at the screen's corner: the
// nearest shown window among its owners, or the active one, stands in.
QWidget *ownerOnScreen(QWidget *parent)
{
    for (QWidget *w = parent ? parent->window() : nullptr; w;
         w = w->parentWidget() ? w->parentWidget()->window() : nullptr)
        if (w->isVisible())
            return w;
    QWidget *active = QApplication::activeWindow();
    return active && active->isVisible() ? active : nullptr;
}

} // namespace

QString applicationTitle()
{
    return QStringLiteral("Orvenna");
}

Prompt::Answer WidgetPrompt::message(QWidget *parent, const QString &text, Icon icon, Buttons buttons,
                                     const QString &title, const QString &details)
{
    QMessageBox box(ownerOnScreen(parent));
    box.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    // Message texts use CR LF between lines; a bare CR would show as a glyph.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(shown);
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty())
        box.setDetailedText(details);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    if (buttons == Buttons::SaveDiscardCancel) {
        box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        const int chosen = box.exec();
        return chosen == QMessageBox::Save ? Answer::Save : chosen == QMessageBox::Discard ? Answer::Discard : Answer::Cancel;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

std::optional<QString> WidgetPrompt::input(QWidget *parent, const QString &label, const QString &title,
                                           const QString &defaultText, std::optional<QPoint> screenPos)
{
    QInputDialog dialog(ownerOnScreen(parent));
    dialog.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    dialog.setLabelText(label);
    dialog.setTextValue(defaultText);
    dialog.setInputMode(QInputDialog::TextInput);
    if (screenPos)
        dialog.move(*screenPos);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}
