#pragma once

#include <QPointer>
#include <QWidget>

// A frame drawn around its parent while the keyboard focus is in `watched`
// (the parent itself or a part of it), so the eye finds where the keys act
// even on an empty day or a calendar without a highlighted date. Made after
// the parent's other children, it lies on top of them.
class FocusRing : public QWidget
{
    Q_OBJECT
public:
    FocusRing(QWidget *host, QWidget *watched);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow(QWidget *now);

    QPointer<QWidget> m_watched;
};
