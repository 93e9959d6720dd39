#pragma once

#include "ui/ModalRunner.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QQueue>
#include <functional>

// Stands in for a person at a modal window: shows it without an event loop of
// its own, runs the next queued step (which may click, type and close), and
// returns the dialog's result.
class FakeModal : public ModalRunner
{
public:
    using Step = std::function<void(QDialog &)>;

    int showModal(QDialog &dialog) override;

    QQueue<Step> steps;
    QStringList shownNames; // objectName of every dialog shown
};
