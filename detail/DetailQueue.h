#pragma once
// The detail watchdog's tick count.

// Ticks of Timer2 since the last timer-driven detail step, 0 .. 60.
extern int DetailTicks;
