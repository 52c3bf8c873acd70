#pragma once
// Serves an event poll the way the programs' loops do until a condition holds.
#include "apps/common/event/eventpoll.h"

#include <chrono>

// False after a minute without: a bound that only keeps a broken build from
// hanging the test run.
template <typename Condition>
bool pumpUntil(EventPoll& poll, Condition done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        poll.wait(10, true);
    }
    return true;
}
