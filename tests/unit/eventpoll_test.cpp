// The event loop: result codes, signal handling, dispatch priority and the
// guard against callbacks deleted earlier in the same pass.
#include "apps/common/event/eventpoll.h"
#include "support/child.h"
#include "support/kmsg.h"
#include "support/raised.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
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

TEST(EventPollDispatch, UrgentWinsOverReadableAndPlainDataIsReadable) {
    // Out-of-band TCP data is the one way to raise priority readiness.
    int listener = socket(AF_INET, SOCK_STREAM, 0), client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), size), 0);
    int server = accept(listener, nullptr, nullptr);

    EventPoll poll;
    Recorder recorder;
    poll.add(server, &recorder, EPOLLIN | EPOLLPRI);
    ASSERT_EQ(send(client, "u", 1, MSG_OOB), 1);
    EXPECT_EQ(poll.wait(1000, false), EventPoll::EventsHandled);
    char urgent;
    recv(server, &urgent, 1, MSG_OOB);
    ASSERT_EQ(write(client, "p", 1), 1);
    EXPECT_EQ(poll.wait(1000, false), EventPoll::EventsHandled);
    EXPECT_EQ(recorder.seen, (std::vector<EventType>{EventType::Urgent, EventType::Readable}));
    for (int fd : {client, server, listener}) close(fd);
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

TEST(EventPollClose, AddAndWaitThrowAfterCloseAndRemoveIsIgnored) {
    EventPoll poll;
    SocketPair pair;
    Recorder recorder;
    poll.add(pair.ends[0], &recorder, EPOLLIN);
    poll.close();
    poll.close();
    EXPECT_NO_THROW(poll.remove(pair.ends[0]));
    EXPECT_THROW(poll.add(pair.ends[1], &recorder, EPOLLIN), std::runtime_error);
    EXPECT_TRUE(raisedText([&] { poll.wait(10, true); }).ends_with("wait called on an already closed handle"));
}

}  // namespace
