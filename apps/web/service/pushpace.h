#pragma once
// Paces the answers to held requests: a push goes at once when the last one
// went out at least an interval ago, else when that interval ends. A burst of
// changes then costs one answer per interval, and a lone change none of it.
#include <chrono>

class PushPace {
public:
    using Clock = std::chrono::steady_clock;

    explicit PushPace(Clock::duration interval) : interval(interval), last(Clock::now() - interval) {}

    bool ready(Clock::time_point now) const { return now >= nextMoment(); }
    Clock::time_point nextMoment() const { return last + interval; }
    void pushed(Clock::time_point now) { last = now; }

private:
    Clock::duration interval;
    Clock::time_point last;
};
