#pragma once
// Bounded waits for tests: pump the event loop until a condition holds.

#include "platform/toolkit/Forms.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <functional>

// Pumps events until `done` is true or `timeoutMs` passes; returns `done()`.
// Waits for events between checks (a short wake-up timer bounds each wait),
// so it never spins.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wakeUp;
    wakeUp.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
