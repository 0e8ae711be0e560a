#pragma once

// The one clock of the process. Every sleep, wait, timeout and timer goes
// through it, so that a simulated station can run the whole tool faster by a
// time scale, and so that tests can replace it with a clock they drive.
//
// Durations given to the clock are *tool time*: the nominal values the camera
// procedures and dialogs are written with (100 ms progress tick, 30 s checksum
// time-out). The clock turns them into real time by multiplying with the time
// scale (1 with real cameras; e.g. 0.01 for a fast simulated station).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace tessell {

// The smallest time scale the clock keeps. Tool time is counted in
// nanoseconds of a 64-bit count: at this scale that count lasts ten days of
// real time, where at 1e-12 it overflows within seconds. Below it, too, a
// simulated camera's real work of a few microseconds per request would take
// seconds of tool time, and the tool's own time-outs would fail cameras that
// are healthy.
inline constexpr double kSmallestTimeScale = 1e-4;

class Clock {
public:
    using Duration = std::chrono::nanoseconds;
    // Tool time since an arbitrary start; only differences are meaningful.
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;
    virtual void sleepFor(Duration toolTime) = 0;

    // Waits on `cv` (with `lock` held) until `ready` holds or `toolTime` has
    // passed; returns what `ready` says at the end.
    virtual bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         Duration toolTime, const std::function<bool()>& ready) = 0;

    // Factor from tool time to real time, kSmallestTimeScale <= scale <= 1.
    virtual double timeScale() const = 0;
    virtual void setTimeScale(double scale) = 0;

    // Real duration of a tool-time interval, for event loops that run their
    // own timers (never shorter than 1 ms so that a timer always yields).
    std::chrono::milliseconds realInterval(Duration toolTime) const;
};

// The process-wide clock: a scaled steady clock unless a test installed another.
Clock& clock();

// Installs `replacement` as the process-wide clock for the lifetime of the
// guard. For tests.
class ClockOverride {
public:
    explicit ClockOverride(Clock& replacement);
    ~ClockOverride();
    ClockOverride(const ClockOverride&) = delete;
    ClockOverride& operator=(const ClockOverride&) = delete;

private:
    Clock* previous_;
};

// Steady clock stretched by the time scale. Changing the scale keeps tool
// time continuous: time already passed is not re-scaled.
class ScaledClock final : public Clock {
public:
    TimePoint now() const override;
    void sleepFor(Duration toolTime) override;
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Duration toolTime,
                 const std::function<bool()>& ready) override;
    double timeScale() const override;
    void setTimeScale(double scale) override;

private:
    Duration toReal(Duration toolTime) const;

    mutable std::mutex mutex_;
    double scale_ = 1.0;
    std::chrono::steady_clock::time_point realBase_ = std::chrono::steady_clock::now();
    Duration toolBase_{0};
};

// A clock that only moves when told to, or when someone sleeps or times out
// on it: sleeping advances it at once. For single-threaded tests of bounded
// polls and time-outs; a wait whose condition is not met jumps to its end.
class ManualClock final : public Clock {
public:
    TimePoint now() const override;
    void sleepFor(Duration toolTime) override;
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Duration toolTime,
                 const std::function<bool()>& ready) override;
    double timeScale() const override { return 1.0; }
    void setTimeScale(double) override {}

    void advance(Duration toolTime);
    // Total tool time slept or waited through this clock.
    Duration slept() const;

private:
    mutable std::mutex mutex_;
    Duration now_{0};
    Duration slept_{0};
};

// A bounded wait expressed once: "until this much tool time has passed".
class Deadline {
public:
    explicit Deadline(Clock::Duration budget) : end_(clock().now() + budget) {}
    bool expired() const { return clock().now() >= end_; }
    Clock::Duration remaining() const;

private:
    Clock::TimePoint end_;
};

} // namespace tessell
