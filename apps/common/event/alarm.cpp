#include "apps/common/event/alarm.h"

#include "apps/common/log/log.h"

#include <algorithm>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

Alarm::Alarm(EventPoll& poll, std::function<void()> action) : poll(poll), action(std::move(action)), fd(-1) {
    fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0) THROW_ERROR_NUMBER("alarm timer");
    try {
        poll.add(fd, this, EPOLLIN);
    } catch (...) {
        close(fd);
        throw;
    }
}

Alarm::~Alarm() {
    try {
        poll.remove(fd);
    } catch (...) {
    }
    close(fd);
}

void Alarm::set(std::chrono::milliseconds after) {
    // Zero would disarm the timer: the soonest is a nanosecond away.
    arm(std::max(after, std::chrono::milliseconds(0)) + std::chrono::nanoseconds(1));
}

void Alarm::cancel() {
    arm(std::chrono::milliseconds(0));
}

void Alarm::arm(std::chrono::nanoseconds after) {
    itimerspec once{};
    // time_t may be 32 bits wide; the times set here are seconds, not years.
    once.it_value.tv_sec = static_cast<time_t>(after.count() / 1000000000);
    once.it_value.tv_nsec = static_cast<long>(after.count() % 1000000000);
    if (timerfd_settime(fd, 0, &once, nullptr) < 0) THROW_ERROR_NUMBER("alarm timer");
}

void Alarm::event(EventType) {
    uint64_t expirations = 0;
    // Nothing to read: cancelled after it expired, within the same pass.
    if (read(fd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations)) return;
    action();
}
