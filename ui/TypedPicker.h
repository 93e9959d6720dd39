#pragma once

#include <QDateTimeEdit>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTime>

// A date or time picker (QDateEdit, QTimeEdit) that takes a whole date or
// time typed from the keyboard, as the windows' pickers all should.
// Tab and Shift+Tab move on to the next control, as the tab order promises,
// instead of stepping through the picker's day, month and year. Only those two
// keys: the picker moves between its own sections through focusNextPrevChild
// on separators and Ctrl+Left/Right, and those must stay inside it.
template <typename Picker>
class TypedPicker : public Picker
{
public:
    explicit TypedPicker(QWidget *parent)
        : Picker(parent)
    {
        this->lineEdit()->installEventFilter(this);
    }

protected:
    // A click picks the section under it whole, as Tab does, so that what is
    // typed next replaces it instead of being added to the digits there.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == this->lineEdit() && event->type() == QEvent::MouseButtonRelease
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_hourDigit = -1;
            QMetaObject::invokeMethod(
                this,
                [this]() {
                    // The weekday follows from the date: a click on it starts at the month.
                    if (this->currentSectionIndex() == 0 && this->displayFormat().startsWith(QLatin1String("ddd "))
                        && this->sectionCount() > 1)
                        this->setSelectedSection(this->sectionAt(1));
                    else if (!this->lineEdit()->hasSelectedText())
                        this->setSelectedSection(this->currentSection());
                },
                Qt::QueuedConnection);
        }
        return Picker::eventFilter(watched, event);
    }

    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
            const bool back = key->key() == Qt::Key_Backtab
                              || (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
            if (plain && (back || key->key() == Qt::Key_Tab)) {
                QWidget::focusNextPrevChild(!back);
                return true;
            }
        }
        return Picker::event(event);
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (typedHourOfDay(event))
            return;
        // Ctrl+Left/Right step between sections; at the first or last one the
        // picker would hand the focus on, which only Tab may do.
        if ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)
            && (event->modifiers() & Qt::ControlModifier)) {
            const int edge = event->key() == Qt::Key_Left ? 0 : this->sectionCount() - 1;
            if (this->currentSectionIndex() == edge) {
                event->accept();
                return;
            }
        }
        // Typing a whole date or time types its separators too. Where the
        // picker has already moved on to the next section by itself, the
        // separator before it is already there and must not be typed again.
        const QString text = event->text();
        if (text.size() == 1 && !text.front().isLetterOrNumber() && !(event->modifiers() & Qt::ControlModifier)) {
            const QLineEdit *edit = this->lineEdit();
            const int at = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
            if (at > 0 && edit->text().at(at - 1) == text.front()) {
                event->accept();
                return;
            }
        }
        Picker::keyPressEvent(event);
    }

    void focusInEvent(QFocusEvent *event) override
    {
        m_hourDigit = -1;
        Picker::focusInEvent(event);
        // Entered with Tab, a date starts at its month: the weekday follows from the date.
        if (this->currentSectionIndex() == 0 && this->displayFormat().startsWith(QLatin1String("ddd "))
            && this->sectionCount() > 1)
            this->setSelectedSection(this->sectionAt(1));
    }

private:
    // The time shows AM/PM, but two digits typed into the hour ("14", "09")
    // are the hour on the 24-hour clock, as typed; the picker alone would read
    // them on the 12-hour clock and keep the half of the day it showed. One
    // digit is left to the picker. Returns whether the key was used up here.
    bool typedHourOfDay(QKeyEvent *event)
    {
        const int first = m_hourDigit;
        m_hourDigit = -1;
        if (!(this->displayedSections() & QDateTimeEdit::AmPmSection))
            return false;
        const QString text = event->text();
        if (text.size() != 1 || !text.front().isDigit() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        const int digit = text.front().digitValue();
        if (first < 0) {
            if (this->currentSection() == QDateTimeEdit::HourSection)
                m_hourDigit = digit; // the picker may move on to the minutes by itself
            return false;
        }
        const int hour = first * 10 + digit;
        if (hour > 23)
            return false;
        this->setTime(QTime(hour, this->time().minute()));
        this->setSelectedSection(QDateTimeEdit::MinuteSection);
        event->accept();
        return true;
    }

    int m_hourDigit = -1; // the first digit typed into the hour, while the second may follow
};
