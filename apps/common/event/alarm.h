#pragma once
// A one-shot timer of the event loop: once the time set has passed, the loop
// calls the action. Setting it again replaces the earlier time.
#include "apps/common/event/eventpoll.h"

#include <chrono>
#include <functional>

class Alarm final : public EventPoll::Callback {
public:
    Alarm(EventPoll& poll, std::function<void()> action);
    ~Alarm();
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    void set(std::chrono::milliseconds after);
    void cancel();
    void event(EventType type) override;

private:
    void arm(std::chrono::nanoseconds after);

    EventPoll& poll;
    std::function<void()> action;
    int fd;
};
