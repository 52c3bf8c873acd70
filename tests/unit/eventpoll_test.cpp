// The event loop: result codes, signal handling, dispatch priority and the
// guard against callbacks deleted earlier in the same pass. Priority data is
// left out (the service never asks for it), and so is use after close (only
// the destructor closes).
#include "apps/common/event/eventpoll.h"
#include "support/child.h"
#include "support/kmsg.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using EventType = EventPoll::Callback::EventType;

class Recorder : public EventPoll::Callback {
public:
    void event(EventType type) override { seen.push_back(type); }
    std::vector<EventType> seen;
};

struct SocketPair {
    SocketPair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends); }
    ~SocketPair() {
        for (int end : ends)
            if (end >= 0) close(end);
    }
    void closePeer() {
        close(ends[1]);
        ends[1] = -1;
    }
    int ends[2];
};

// A signal landing in epoll_wait interrupts it; once one has come, every later
// wait ends at once unless told to poll anyway. A peer gone away is an error
// to write to, not a signal that ends the program.
TEST(EventPollSignals, SignalInterruptsTheWaitAndEndsEveryLaterOne) {
    kmsg::Cursor cursor;
    std::string results = inChild([] {
        EventPoll poll;
        SocketPair pair;
        pair.closePeer();
        std::string seen = write(pair.ends[0], "x", 1) < 0 && errno == EPIPE ? "P" : "-";
        pid_t target = getpid();
        if (fork() == 0) {
            usleep(100000);
            kill(target, SIGINT);
            _exit(0);
        }
        seen += std::to_string(poll.wait(20000, false));
        kill(getpid(), SIGTERM);
        for (int timeoutMs : {100, 100}) seen += std::to_string(poll.wait(timeoutMs, false));
        seen += std::to_string(poll.wait(10, true));
        seen += poll.shouldTerminate() ? "T" : "-";
        // The service's loop may wait without a bound: an expiry that came
        // while it was busy must still end the next wait.
        raise(SIGALRM);
        return seen + std::to_string(poll.wait(-1, true));
    });
    EXPECT_EQ(results, "P0442T1");
    EXPECT_EQ(cursor.count("SIG 2: Interrupt"), 1u);
    EXPECT_EQ(cursor.count("SIG 15: Terminated"), 1u);
}

TEST(EventPollDispatch, WritableUntilNoLongerAskedForHangupOverDataAndOrphansCount) {
    EventPoll poll;
    SocketPair writable, hungUp, orphan;
    Recorder recorder;
    poll.add(writable.ends[0], &recorder, EPOLLOUT);
    EXPECT_EQ(poll.wait(1000, false), EventPoll::EventsHandled);
    poll.modify(writable.ends[0], EPOLLIN);  // nothing to read
    EXPECT_EQ(poll.wait(0, false), EventPoll::Timeout);
    poll.remove(writable.ends[0]);

    poll.add(hungUp.ends[0], &recorder, EPOLLIN);
    ASSERT_EQ(write(hungUp.ends[1], "data", 4), 4);
    hungUp.closePeer();
    EXPECT_EQ(poll.wait(1000, false), EventPoll::EventsHandled);
    EXPECT_EQ(recorder.seen, (std::vector<EventType>{EventType::Writable, EventType::Hangup}));
    poll.remove(hungUp.ends[0]);

    kmsg::Cursor cursor;
    poll.add(orphan.ends[0], nullptr, EPOLLIN);
    ASSERT_EQ(write(orphan.ends[1], "x", 1), 1);
    EXPECT_EQ(poll.wait(1000, false), EventPoll::EventsHandled);
    EXPECT_EQ(cursor.count("Unhandled event: 00000001"), 1u);
}

// Each one, when called, removes and "deletes" the other: the entry of the
// deleted one must not be dispatched in the same pass.
class Sibling : public EventPoll::Callback {
public:
    Sibling(EventPoll& poll, int fd) : poll(poll), fd(fd) {}
    void event(EventType) override {
        calls += 1;
        poll.remove(other->fd);
    }
    EventPoll& poll;
    int fd;
    Sibling* other = nullptr;
    int calls = 0;
};

TEST(EventPollDispatch, CallbackRemovedEarlierInThePassIsNotCalled) {
    EventPoll poll;
    SocketPair first, second;
    Sibling a(poll, first.ends[0]), b(poll, second.ends[0]);
    a.other = &b;
    b.other = &a;
    poll.add(a.fd, &a, EPOLLIN);
    poll.add(b.fd, &b, EPOLLIN);
    ASSERT_EQ(write(first.ends[1], "x", 1), 1);
    ASSERT_EQ(write(second.ends[1], "x", 1), 1);
    EXPECT_EQ(poll.wait(1000, false), EventPoll::EventsHandled);
    EXPECT_EQ(a.calls + b.calls, 1);
}

TEST(EventPollTimer, ExpiryIsReportedAndStopsWhenCleared) {
    EventPoll poll;
    poll.setTimer(-1);  // without a timer: nothing to do
    poll.setTimer(30);
    EXPECT_EQ(poll.wait(5000, false), EventPoll::TimerExpired);
    poll.setTimer(20);  // re-arms the same timer
    EXPECT_EQ(poll.wait(5000, false), EventPoll::TimerExpired);
    poll.setTimer(-1);
    EXPECT_EQ(poll.wait(100, false), EventPoll::Timeout);
    EXPECT_EQ(poll.wait(100, false), EventPoll::Timeout);
}

}  // namespace
