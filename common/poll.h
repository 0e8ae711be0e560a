#pragma once

// Pacing and bounding of a device poll. A camera that stops answering, or
// answers "busy" for ever, must end the poll as a failure in bounded tool
// time. The first few attempts follow each other at once (most waits end
// there, and it keeps a poll meaningful when a small time scale makes every
// request look long); later attempts pause between each other, and the poll
// gives up once its budget of tool time is spent.

#include "common/clock.h"

namespace tessell {

class PollBudget {
public:
    PollBudget(Clock::Duration budget, Clock::Duration pause, int immediateAttempts = 0)
        : deadline_(budget), pause_(pause), immediate_(immediateAttempts) {}

    // Called after an attempt that has not seen what it waits for. True when
    // another attempt may follow (after the pause, once the immediate attempts
    // are used up); false when the budget is spent.
    bool again() {
        if (attempts_ < immediate_) {
            ++attempts_;
            return true;
        }
        if (deadline_.expired())
            return false;
        clock().sleepFor(pause_);
        ++attempts_;
        return true;
    }

    // Attempts made so far, the first one included.
    int attempts() const { return attempts_; }

private:
    Deadline deadline_;
    Clock::Duration pause_;
    int immediate_;
    int attempts_ = 1;
};

} // namespace tessell
