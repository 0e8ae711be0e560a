#include "common/clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace tessell {

namespace {

ScaledClock& defaultClock() {
    static ScaledClock instance;
    return instance;
}

std::atomic<Clock*> installedClock{nullptr};

} // namespace

Clock& clock() {
    Clock* installed = installedClock.load(std::memory_order_acquire);
    return installed ? *installed : defaultClock();
}

ClockOverride::ClockOverride(Clock& replacement)
    : previous_(installedClock.exchange(&replacement, std::memory_order_acq_rel)) {}

ClockOverride::~ClockOverride() {
    installedClock.store(previous_, std::memory_order_release);
}

std::chrono::milliseconds Clock::realInterval(Duration toolTime) const {
    const double realNs = static_cast<double>(toolTime.count()) * timeScale();
    const auto ms = static_cast<long long>(std::ceil(realNs / 1e6));
    return std::chrono::milliseconds(std::max(1LL, ms));
}

// --- ScaledClock ---------------------------------------------------------------

Clock::TimePoint ScaledClock::now() const {
    std::lock_guard lock(mutex_);
    const auto realElapsed = std::chrono::steady_clock::now() - realBase_;
    // Held short of the count's end, so that no run, however long, wraps
    // tool time round to the past.
    constexpr double limit = static_cast<double>(std::numeric_limits<Duration::rep>::max() / 4);
    const double tool =
        static_cast<double>(std::chrono::duration_cast<Duration>(realElapsed).count()) / scale_;
    const auto toolElapsed = Duration(static_cast<Duration::rep>(std::min(tool, limit)));
    return TimePoint(std::min(toolBase_, Duration(Duration::max() / 4)) + toolElapsed);
}

Clock::Duration ScaledClock::toReal(Duration toolTime) const {
    std::lock_guard lock(mutex_);
    return Duration(static_cast<Duration::rep>(static_cast<double>(toolTime.count()) * scale_));
}

void ScaledClock::sleepFor(Duration toolTime) {
    if (toolTime <= Duration::zero())
        return;
    std::this_thread::sleep_for(toReal(toolTime));
}

bool ScaledClock::waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                          Duration toolTime, const std::function<bool()>& ready) {
    return cv.wait_for(lock, toReal(std::max(toolTime, Duration::zero())), ready);
}

double ScaledClock::timeScale() const {
    std::lock_guard lock(mutex_);
    return scale_;
}

void ScaledClock::setTimeScale(double scale) {
    // Only 0 < scale <= 1 is meaningful; anything else runs at real speed,
    // and a scale the clock cannot keep is held at the smallest it can.
    if (!(scale > 0.0 && scale <= 1.0))
        scale = 1.0;
    scale = std::max(scale, kSmallestTimeScale);
    const TimePoint current = now();
    std::lock_guard lock(mutex_);
    toolBase_ = current.time_since_epoch();
    realBase_ = std::chrono::steady_clock::now();
    scale_ = scale;
}

// --- ManualClock ---------------------------------------------------------------

Clock::TimePoint ManualClock::now() const {
    std::lock_guard lock(mutex_);
    return TimePoint(now_);
}

void ManualClock::sleepFor(Duration toolTime) {
    if (toolTime <= Duration::zero())
        return;
    std::lock_guard lock(mutex_);
    now_ += toolTime;
    slept_ += toolTime;
}

bool ManualClock::waitFor(std::condition_variable&, std::unique_lock<std::mutex>&,
                          Duration toolTime, const std::function<bool()>& ready) {
    if (ready())
        return true;
    sleepFor(toolTime);
    return ready();
}

void ManualClock::advance(Duration toolTime) {
    std::lock_guard lock(mutex_);
    now_ += toolTime;
}

Clock::Duration ManualClock::slept() const {
    std::lock_guard lock(mutex_);
    return slept_;
}

// --- Deadline ------------------------------------------------------------------

Clock::Duration Deadline::remaining() const {
    const auto left = end_ - clock().now();
    return left > Clock::Duration::zero() ? left : Clock::Duration::zero();
}

} // namespace tessell
