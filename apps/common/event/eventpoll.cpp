#include "apps/common/event/eventpoll.h"

#include "apps/common/log/log.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {
// Shared with the signal handler, which has no object and may only set flags.
volatile unsigned char timerFlag = 0;
std::atomic<unsigned int> pendingSignals{0};
volatile unsigned char terminateFlag = 0;
// A signal that comes between the flag checks and epoll_wait would not
// interrupt it: the handler also writes a byte here, which wakes the wait.
// One pipe for all polls, as the flags are; each poll watches its read end.
int wakePipe[2] = {-1, -1};
// Marks the wake pipe's entries; no callback has this address.
char wakeMark;

void onSignal(int signal) {
    int savedErrno = errno;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (signal == SIGALRM) {
        timerFlag = 1;
    } else {
        pendingSignals.fetch_or(1u << signal);
        terminateFlag = 1;
    }
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (wakePipe[1] >= 0 && write(wakePipe[1], "", 1) < 0) {
        // Full: it wakes the wait already.
    }
    errno = savedErrno;
}

bool readFlag(volatile unsigned char& flag) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    bool set = flag != 0;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return set;
}

bool takeTimerFlag() {
    if (!readFlag(timerFlag)) return false;
    timerFlag = 0;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return true;
}
}  // namespace

EventPoll::EventPoll() : epollFd(-1), timer(nullptr), timerExists(false), ready{}, readyCount(0), nextEntry(0) {
    if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) < 0)
        throw std::runtime_error(std::string("pipe: ") + strerror(errno));
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigfillset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a signal must interrupt epoll_wait
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGALRM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    epollFd = epoll_create(1);
    if (epollFd < 0) throw std::runtime_error(std::string("epoll_create: ") + strerror(errno));
    fcntl(epollFd, F_SETFD, FD_CLOEXEC);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.ptr = &wakeMark;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, wakePipe[0], &wake) < 0)
        throw std::runtime_error(std::string("epoll_ctl: ") + strerror(errno));
}

EventPoll::~EventPoll() {
    close();
    setTimer(-1);
}

void EventPoll::add(int fd, Callback* callback, unsigned int events) {
    if (epollFd < 0) THROW_ERROR("add called on an already closed handle");
    epoll_event registration{};
    registration.events = events;
    registration.data.ptr = callback;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &registration) < 0) THROW_ERROR_NUMBER("epoll_ctl");
    registrations[fd] = callback;
    LOG(DebugMost, "Add new client %i/%p", fd, static_cast<void*>(callback));
}

void EventPoll::remove(int fd) {
    if (epollFd < 0) return;
    if (epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr) < 0) THROW_ERROR_NUMBER("epoll_ctl");
    auto found = registrations.find(fd);
    if (found != registrations.end()) {
        cancelPendingEntries(found->second);
        registrations.erase(found);
    }
    LOG(DebugMost, "Remove  client %i", fd);
}

void EventPoll::modify(int fd, unsigned int events) {
    auto found = registrations.find(fd);
    if (epollFd < 0 || found == registrations.end()) return;
    epoll_event registration{};
    registration.events = events;
    registration.data.ptr = found->second;
    if (epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &registration) < 0) THROW_ERROR_NUMBER("epoll_ctl");
}

void EventPoll::setTimer(int milliseconds) {
    if (milliseconds == -1) {
        if (timerExists) {
            timer_delete(timer);
            timer = nullptr;
            timerExists = false;
        }
        return;
    }
    if (!timerExists) {
        sigevent notification{};
        notification.sigev_notify = SIGEV_SIGNAL;
        notification.sigev_signo = SIGALRM;
        notification.sigev_value.sival_ptr = this;
        if (timer_create(CLOCK_MONOTONIC, &notification, &timer) < 0) {
            timer = nullptr;
            THROW_ERROR_NUMBER("timer create");
        }
        timerExists = true;
    }
    itimerspec period{};
    period.it_value.tv_sec = milliseconds / 1000;
    period.it_value.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
    period.it_interval = period.it_value;
    if (timer_settime(timer, 0, &period, nullptr) < 0) THROW_ERROR_NUMBER("timer set");
}

void EventPoll::drainWakePipe() {
    char bytes[64];
    while (read(wakePipe[0], bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes)) {
    }
}

void EventPoll::resetSignalsForChild() {
    for (int number : {SIGINT, SIGTERM, SIGALRM, SIGPIPE}) signal(number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

int EventPoll::wait(int timeoutMs, bool ignoreTermination) {
    drainWakePipe();
    unsigned int signals = pendingSignals.exchange(0);
    for (int n = 0; n < 32; ++n)
        if (signals & (1u << n)) LOG(LogLight, "SIG %i: %s", n, strsignal(n));
    if (!ignoreTermination && readFlag(terminateFlag)) return Terminate;
    // An expiry between two waits: an unbounded wait would not see it until the next one.
    if (takeTimerFlag()) return TimerExpired;
    if (epollFd < 0) THROW_ERROR("wait called on an already closed handle");

    readyCount = epoll_wait(epollFd, ready, MAX_EVENTS, timeoutMs);
    if (readyCount < 0) {
        readyCount = 0;
        if (errno != EINTR) THROW_ERROR_NUMBER("epoll_wait");
        return takeTimerFlag() ? TimerExpired : Interrupted;
    }
    if (readyCount == 0) return Timeout;

    // An exception from a callback leaves the pass; the entries after it are dropped.
    struct PassEnd {
        EventPoll& poll;
        ~PassEnd() { poll.readyCount = poll.nextEntry = 0; }
    } passEnd{*this};
    bool onlyWoken = true;
    for (nextEntry = 0; nextEntry < readyCount;) {
        epoll_event& entry = ready[nextEntry++];
        if (entry.data.ptr == &wakeMark) continue;  // drained by the next wait
        onlyWoken = false;
        dispatch(entry);
    }
    if (takeTimerFlag()) return TimerExpired;
    return onlyWoken ? Interrupted : EventsHandled;
}

void EventPoll::dispatch(epoll_event& entry) {
    auto* callback = static_cast<Callback*>(entry.data.ptr);
    if (entry.events == 0) return;  // its descriptor was removed earlier in this pass
    if (callback == nullptr) {
        LOG(Warn, "Unhandled event: %08x", entry.events);
        return;
    }
    LOG(DebugAll, "Call    client %p for events %08x", static_cast<void*>(callback), entry.events);
    // An error is reported whatever was asked for, and on every wait until handled.
    if (entry.events & (EPOLLHUP | EPOLLERR))
        callback->event(Callback::Hangup);
    else if (entry.events & EPOLLPRI)
        callback->event(Callback::Urgent);
    else if (entry.events & EPOLLIN)
        callback->event(Callback::Readable);
    else if (entry.events & EPOLLOUT)
        callback->event(Callback::Writable);
}

void EventPoll::cancelPendingEntries(Callback* callback) {
    for (int i = nextEntry; i < readyCount; ++i)
        if (callback == nullptr || ready[i].data.ptr == callback) ready[i].events = 0;
}

void EventPoll::close() {
    if (epollFd < 0) return;
    ::close(epollFd);
    epollFd = -1;
    registrations.clear();
    // A callback that closes the poll may also delete the owners of the
    // entries still waiting in this pass.
    cancelPendingEntries(nullptr);
}

bool EventPoll::shouldTerminate() const {
    return readFlag(terminateFlag);
}
