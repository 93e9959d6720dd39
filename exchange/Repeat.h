#pragma once

#include "store/Statements.h"

#include <QDate>
#include <QList>

// What "Repeat Weekly..." and "Copy Week To..." would write; nothing here
// touches the store.
namespace exchange {

// Copies at the same weekday and time in each of the next `weeks` weeks.
[[nodiscard]] QList<statements::EventValues> weeklyCopies(const statements::EventValues &event, int weeks);
// Copies in every following week whose start day is on or before `until`.
[[nodiscard]] QList<statements::EventValues> weeklyCopiesUntil(const statements::EventValues &event, const QDate &until);
// Every event moved by `days`, start and end alike.
[[nodiscard]] QList<statements::EventValues> shiftedCopies(const QList<statements::EventValues> &events, qint64 days);

} // namespace exchange
