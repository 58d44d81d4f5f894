#pragma once
// The pace of a step that a timer drives: the step runs on every 61st tick,
// the tick that finds kTicksBetweenSteps ticks counted since the last step.

struct TTickPacer {
    static constexpr int kTicksBetweenSteps = 60;

    // Ticks counted since the last step, 0 .. kTicksBetweenSteps.
    int ticks = 0;

    // Counts one tick. True when the step is due on this tick; the count
    // then starts again from 0, before the step runs (a step that pumps
    // events sees the ticks that come meanwhile counted towards the next one).
    bool Tick()
    {
        if (ticks == kTicksBetweenSteps) {
            ticks = 0;
            return true;
        }
        ++ticks;
        return false;
    }
};
