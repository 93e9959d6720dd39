#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QVector>

class QWidget;

// Keeps every registered control's position and size in proportion to the
// client widget's size, relative to the design size the controls were laid
// out for. Fonts keep their size; pictures scale with their label.
class ActiveResize : public QObject
{
    Q_OBJECT
public:
    ActiveResize(QWidget *client, QSize designSize);

    // Records the control's current geometry (relative to its parent) as its design geometry.
    void add(QWidget *control);
    void apply();

    [[nodiscard]] QSize designSize() const { return m_designSize; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry
    {
        QWidget *control;
        QRect design;
    };
    QWidget *m_client;
    QSize m_designSize;
    QVector<Entry> m_entries;
};
