#include "apps/web/service/changesequence.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <sys/random.h>
#include <unistd.h>

namespace {
// Early in boot the entropy pool may not be ready; the clock and the process
// id still differ from one run to the next.
std::string randomNonce() {
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        auto now = std::chrono::system_clock::now().time_since_epoch();
        bits = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) ^
               (static_cast<uint64_t>(getpid()) << 40);
    }
    char text[17];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}
}  // namespace

ChangeSequence::ChangeSequence() : ChangeSequence(randomNonce()) {}

ChangeSequence::ChangeSequence(std::string runNonce) : prefix(std::move(runNonce) + "-") {}

void ChangeSequence::record(unsigned int event) {
    lastChange[event] = ++latest;
}

std::string ChangeSequence::token() const {
    return prefix + std::to_string(latest);
}

std::optional<ChangeSequence::Point> ChangeSequence::pointOf(std::string_view token) const {
    if (!token.starts_with(prefix)) return std::nullopt;
    std::string_view digits = token.substr(prefix.size());
    Point point = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), point);
    // Digits only, and a point already reached: a later one was never given out.
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || point > latest)
        return std::nullopt;
    return point;
}

ChangeSequence::Selection ChangeSequence::changedAfter(Point point) const {
    Selection changed;
    for (unsigned int event = 0; event < lastChange.size(); ++event)
        if (lastChange[event] > point) changed.set(event);
    return changed;
}
