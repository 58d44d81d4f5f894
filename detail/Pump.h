#pragma once
// One turn of the application's event loop, as the detail load and the
// section walk take it while they wait or walk: pending events (timer ticks,
// network data, finished parses) are delivered, nothing waits.

#include "platform/toolkit/Forms.h"

namespace detail {

inline void PumpOnce()
{
    if (Application)
        Application->ProcessMessages();
}

}  // namespace detail
