#pragma once

#include <QAbstractItemView>
#include <QApplication>

// A list shows its selection in the strong highlight only while it has the
// keyboard focus, so the eye finds where the keys act; elsewhere it is muted.
inline void markFocus(QAbstractItemView *view, bool focused)
{
    QPalette p = view->palette();
    const QPalette standard = QApplication::palette(view);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::Highlight, focused ? standard.color(g, QPalette::Highlight) : QColor(204, 212, 224));
        p.setColor(g, QPalette::HighlightedText,
                   focused ? standard.color(g, QPalette::HighlightedText) : standard.color(g, QPalette::Text));
    }
    view->setPalette(p);
}
