#pragma once
// A command run beside the service and watched by its event loop, never
// waited for: the child leads its own process group, starts with default
// signal handling and an empty signal mask, and is killed by the kernel when
// the service dies. Its end is seen through a pidfd, so the loop serves on
// while it runs.
#include "apps/common/event/alarm.h"
#include "apps/common/event/eventpoll.h"

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess final : public EventPoll::Callback {
public:
    // What the child gets as standard input, output and error; -1 keeps the service's.
    struct Streams {
        int input = -1;
        int output = -1;
        int errors = -1;
    };
    // Called from the loop once the child has ended, with its wait status.
    using Ended = std::function<void(int status)>;

    ChildProcess(EventPoll& poll, Ended ended);
    // Ends the group: nothing started outlives its owner.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `argv`, its first word found through PATH; throws when it cannot.
    // A limit above zero ends the whole group once it has passed.
    void start(const std::vector<std::string>& argv, const Streams& streams,
               std::chrono::milliseconds limit = std::chrono::milliseconds(0));
    bool running() const { return pid > 0; }
    // Ends the whole group now and reaps the child, without calling `ended`.
    void stop();
    void event(EventType type) override;

private:
    int reap();

    EventPoll& poll;
    Ended ended;
    Alarm limit;
    std::string name;
    pid_t pid;
    int pidFd;
};
