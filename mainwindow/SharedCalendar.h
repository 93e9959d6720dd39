#pragma once

#include "store/ChangeListener.h"

#include <QObject>
#include <QString>
#include <QTimer>

class frmEventsMain;

// The shared calendar saved for the next start, in the user's settings
// ($XDG_CONFIG_HOME/orvenna/orvenna.conf); empty: the file beside the program.
[[nodiscard]] QString savedDatabaseUrl();
void saveDatabaseUrl(const QString &url);

// Keeps the main window showing what other copies change in a shared calendar:
// the week on a change of events, the template list on a change of templates.
// Nothing is reloaded while a modal window, a popup menu or a mouse button is
// active (reloading under a drag or an open editor would act on new rows); it
// is done once they are over.
class LiveUpdates : public QObject
{
    Q_OBJECT
public:
    explicit LiveUpdates(frmEventsMain *window);
    void listen(const QString &connectionString);
    [[nodiscard]] store::ChangeListener &listener() { return m_listener; }

private:
    void changed(const QString &table);
    void reloadWhenIdle();

    frmEventsMain *m_window;
    store::ChangeListener m_listener;
    QTimer m_later;
    bool m_week = false;
    bool m_templates = false;
};
