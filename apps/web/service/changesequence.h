#pragma once
// Numbers the recorded changes and keeps, per event number, the number of its
// last change: enough to tell what changed after any point, in memory that
// does not grow with the traffic. Points leave the service as tokens that
// carry a nonce of this run, so a token from before a restart is never taken
// for a point of this run.
#include "apps/common/event/notify.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class ChangeSequence {
public:
    // 64 bits on every target: a device runs for weeks at up to thousands of changes a second.
    using Point = uint64_t;
    using Selection = std::bitset<gen::EVENT_NAME_SIZE>;

    // The nonce is random; a fixed one is for tests.
    ChangeSequence();
    explicit ChangeSequence(std::string runNonce);

    // `event` must be below gen::EVENT_NAME_SIZE.
    void record(unsigned int event);
    Point current() const { return latest; }
    // The token of the current point: printable, without blanks, at most 64 characters.
    std::string token() const;
    // The point a token of this run stands for; none for anything else.
    std::optional<Point> pointOf(std::string_view token) const;
    bool changedSince(Point point) const { return latest > point; }
    // The events whose last change came after `point`.
    Selection changedAfter(Point point) const;

private:
    std::string prefix;  // the nonce and the separator
    Point latest = 0;
    std::array<Point, gen::EVENT_NAME_SIZE> lastChange{};
};
