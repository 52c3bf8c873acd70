#pragma once
// The single event loop: epoll readiness dispatched to one callback object per
// descriptor (one event a pass: a hang-up or error, urgent data, readable
// data, else room to write), termination signals turned into a result code, optional periodic
// POSIX timer. A wait may be unbounded: every handled signal also wakes it,
// even one that lands just before it starts.
#include <ctime>
#include <sys/epoll.h>
#include <unordered_map>

class EventPoll {
public:
    class Callback {
    public:
        enum EventType { Urgent = 0, Readable = 1, Hangup = 2, Writable = 3 };
        virtual void event(EventType type) = 0;

    protected:
        ~Callback() = default;
    };

    enum Result { Interrupted = 0, TimerExpired = 1, Timeout = 2, EventsHandled = 3, Terminate = 4 };

    EventPoll();
    ~EventPoll();
    EventPoll(const EventPoll&) = delete;
    EventPoll& operator=(const EventPoll&) = delete;

    void add(int fd, Callback* callback, unsigned int events);
    void remove(int fd);
    // Changes what a registered descriptor is watched for.
    void modify(int fd, unsigned int events);
    void setTimer(int milliseconds);
    int wait(int timeoutMs, bool ignoreTermination);
    void close();
    bool shouldTerminate() const;
    // For a forked child before exec: the default dispositions and an empty
    // mask, so the command behaves as when started from a shell.
    static void resetSignalsForChild();

private:
    static constexpr int MAX_EVENTS = 8;

    // Empties the wake pipe: what it signalled is taken from the flags.
    static void drainWakePipe();
    void dispatch(epoll_event& entry);
    // Null cancels every entry still waiting in the current pass.
    void cancelPendingEntries(Callback* callback);

    int epollFd;
    timer_t timer;
    // The kernel numbers timers from 0, so the first handle of a process is
    // null and cannot itself tell whether a timer exists.
    bool timerExists;
    // Which callback owns each descriptor, so that a removal during a pass can
    // cancel the later entries of that pass: their callback may be deleted
    // before they are reached.
    std::unordered_map<int, Callback*> registrations;
    epoll_event ready[MAX_EVENTS];
    int readyCount;
    int nextEntry;
};
