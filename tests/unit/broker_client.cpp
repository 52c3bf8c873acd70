// The client side of the broker: event records on the wire, the readiness
// gate, and the connection's life against a stand-in endpoint and the real broker.
#include "apps/common/event/notify.h"
#include "tests/unit/broker_harness.h"

#include <cstdarg>
#include <dlfcn.h>

using namespace brokertest;

namespace {
// Counts the connection's attempts to open the readiness gate while set.
int* semaphoreOpens = nullptr;
}  // namespace

extern "C" sem_t* sem_open(const char* name, int flags, ...) {
    static auto real = reinterpret_cast<sem_t* (*)(const char*, int, ...)>(dlsym(RTLD_NEXT, "sem_open"));
    if (semaphoreOpens) ++*semaphoreOpens;
    if ((flags & O_CREAT) == 0) return real(name, flags);
    va_list arguments;
    va_start(arguments, flags);
    auto mode = va_arg(arguments, mode_t);
    auto value = va_arg(arguments, unsigned int);
    va_end(arguments);
    return real(name, flags, mode, value);
}

namespace {
int gateCount() {
    sem_t* gate = sem_open(ServerConnection::READY_SEMAPHORE, 0);
    int count = -1;
    sem_getvalue(gate, &count);
    sem_close(gate);
    return count;
}

struct SocketPair {
    SocketPair() { socketpair(AF_UNIX, SOCK_STREAM, 0, fds); }
    ~SocketPair() {
        close(fds[0]);
        close(fds[1]);
    }
    void send(std::string const& bytes) { ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    int fds[2];
};

// A connection to the stand-in, accepted there.
class ServerConnectionWire : public testing::Test {
protected:
    void SetUp() override { ASSERT_GE(broker.acceptClient(), 0); }

    StandInBroker broker;
    EventPoll poll;
    ServerConnection connection{poll};
};
}  // namespace

TEST(EventRecords, ReadEventsTakesWholeRecordsAndDropsATrailingPart) {
    SocketPair pair;
    std::vector<Notify> sent = {{918, 0, 0}, {7, 1, 3}, {16, 0, 0}};
    pair.send(bytesOf(sent).substr(0, 30));
    Notify buffer[256];
    ASSERT_EQ(readEvents(pair.fds[0], buffer, 256), 2);
    EXPECT_EQ(buffer[0], sent[0]);
    EXPECT_EQ(buffer[1], sent[1]);

    // The six bytes left over are gone, so the next record is read aligned.
    pair.send(bytesOf({{919, 0, 0}}));
    ASSERT_EQ(readEvents(pair.fds[0], buffer, 256), 1);
    EXPECT_EQ(buffer[0], (Notify{919, 0, 0}));

    shutdown(pair.fds[1], SHUT_WR);
    EXPECT_EQ(readEvents(pair.fds[0], buffer, 256), 0);
}

TEST(EventRecords, ReadEventsStaysWithinItsBatch) {
    SocketPair pair;
    std::vector<Notify> sent(300);
    for (uint32_t i = 0; i < sent.size(); ++i) sent[i] = {6 + i, 0, i};
    pair.send(bytesOf(sent));
    Notify buffer[257];
    buffer[256] = {0xdead, 0xbeef, 0xf00d};
    EXPECT_EQ(readEvents(pair.fds[0], buffer, 256), 256);
    EXPECT_EQ(buffer[256], (Notify{0xdead, 0xbeef, 0xf00d}));
    EXPECT_EQ(readEvents(pair.fds[0], buffer, 256), 44);
    EXPECT_EQ(buffer[43], sent[299]);
}

TEST(EventRecords, FailuresAreRaisedWithTheirTexts) {
    Notify buffer[4];
    EXPECT_TRUE(raisedText([&] { readEvents(-1, buffer, 4); }).ends_with(" Read error"));
    gServerConnection = nullptr;
    EXPECT_TRUE(raisedText([] { postEvent({918, 0, 0}); }).ends_with(" Trying to post event without server connection"));
}

TEST(EventRecords, NamesComeFromTheTableAndNeverFromBeyondIt) {
    EXPECT_STREQ(eventName({1, 0, 0}), "Subscribe");
    EXPECT_STREQ(eventName({918, 0, 0}), "VarAppServiceLogLevelChanged");
    EXPECT_STREQ(eventName({934, 1, 2}), "VarAppDofCalculationLogLevelChanged");
    EXPECT_STREQ(eventName({gen::EVENT_NAME_SIZE, 0, 0}), "Unknown");
    EXPECT_STREQ(eventName({0xffffffff, 0, 0}), "Unknown");
}

TEST_F(ServerConnectionWire, PostsAndSubscribesWithExactBytes) {
    gServerConnection = &connection;
    postEvent({918, 0, 0});
    gServerConnection = nullptr;
    const unsigned char expected[12] = {0x96, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(broker.readBytes(12), std::string(reinterpret_cast<const char*>(expected), 12));

    connection.subscribe({42, 1, 3});
    connection.subscribeAll();
    EXPECT_EQ(broker.readBytes(36), bytesOf({{1, 0, 0}, {42, 1, 3}, {3, 0, 0}}));
}

TEST_F(ServerConnectionWire, EventsWithoutAHandlerAreLoggedByName) {
    std::string garbage = bytesOf({{918, 0, 0}, {50000, 7, 9}}) + "partial";
    ASSERT_EQ(::write(broker.peer, garbage.data(), garbage.size()), ssize_t(garbage.size()));
    ASSERT_TRUE(pumpUntil(poll, [] { return kmsg::all().find("Unhandled event: Unknown") != std::string::npos; }));
    EXPECT_NE(kmsg::all().find("Unhandled event: VarAppServiceLogLevelChanged"), std::string::npos);
}

TEST_F(ServerConnectionWire, CloseEndsOurStreamAndLaterPostsRaise) {
    connection.close();
    EXPECT_FALSE(connection.isConnected());
    char byte;
    EXPECT_EQ(read(broker.peer, &byte, 1), 0) << "the broker did not see the end of the stream";
    EXPECT_NO_THROW(connection.close());
    EXPECT_THROW(connection.postEvent({918, 0, 0}), std::runtime_error);
}

TEST(ServerConnectionGate, AnOpenGateLetsTheClientInAtOnceAndStaysOpen) {
    BrokerProcess process;
    EventPoll poll;
    int opens = 0;
    semaphoreOpens = &opens;
    ServerConnection connection(poll);
    semaphoreOpens = nullptr;
    EXPECT_EQ(opens, 1);
    EXPECT_NE(kmsg::all().find("Connected after 0 attempts"), std::string::npos) << kmsg::all();
    EXPECT_EQ(gateCount(), 1);
}

TEST(ServerConnectionGate, AMissingGateIsTriedTwentyTimesThenRaised) {
    EventPoll poll;
    int opens = 0;
    semaphoreOpens = &opens;
    EXPECT_TRUE(raisedText([&] { ServerConnection connection(poll); }).ends_with(" sem_open: No such file or directory"));
    semaphoreOpens = nullptr;
    EXPECT_EQ(opens, 20);
    EXPECT_EQ(kmsg::all().find("Connected after"), std::string::npos);
}

TEST(ServerConnectionGate, AFailedConnectGivesTheGateBack) {
    sem_t* gate = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0600, 1);
    EventPoll poll;
    EXPECT_TRUE(raisedText([&] { ServerConnection connection(poll); }).ends_with(" connect: No such file or directory"));
    EXPECT_EQ(gateCount(), 1) << "other clients would wait forever";
    sem_close(gate);
}

using ServerConnectionWithBroker = RunningBroker;

TEST_F(ServerConnectionWithBroker, ABurstIsHandledInBatchesOf256) {
    RawClient sender;
    std::vector<Notify> burst(300);
    for (uint32_t i = 0; i < burst.size(); ++i) burst[i] = {6 + i, 0, i};
    ASSERT_TRUE(sender.send(burst));
    ASSERT_TRUE(pumpUntil(poll, [&] { return !received.empty(); }));
    EXPECT_EQ(received.size(), 256u);
    poll.wait(int(std::chrono::milliseconds(PATIENCE).count()), true);
    EXPECT_EQ(received, burst);
}

TEST_F(ServerConnectionWithBroker, ABrokerThatEndsClosesTheConnectionForGood) {
    ServerConnection& client = receiver.connection;
    EXPECT_EQ(broker.stop(), 0);
    EXPECT_FALSE(socketFileExists());
    EXPECT_FALSE(semaphoreExists());
    ASSERT_TRUE(pumpUntil(poll, [&] { return !client.isConnected(); }));
    gServerConnection = &client;
    EXPECT_TRUE(raisedText([] { postEvent({918, 0, 0}); }).ends_with(" Could not send message to server"));
    gServerConnection = nullptr;
}
