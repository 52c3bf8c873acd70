// The client side of the broker: event records on the wire, the readiness
// gate, and the connection's life against a stand-in endpoint.
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

// A connection to the stand-in, accepted there, handing what arrives to a collector.
class ServerConnectionWire : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(broker.acceptClient(), 0);
        connection.handler = &collector;
    }

    StandInBroker broker;
    EventPoll poll;
    ServerConnection connection{poll};
    Collector collector;
    std::vector<Notify>& received = collector.received;
};

TEST(EventRecords, FailuresAreRaisedWithTheirTexts) {
    Notify buffer[4];
    EXPECT_TRUE(raisedText([&] { readEvents(-1, buffer, 4); }).ends_with(" Read error"));
    gServerConnection = nullptr;
    EXPECT_TRUE(raisedText([] { postEvent({918, 0, 0}); }).ends_with(" Trying to post event without server connection"));
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

TEST_F(ServerConnectionWire, ReceivesInBatchesOf256AndDropsATrailingPart) {
    std::vector<Notify> burst(300);
    for (uint32_t i = 0; i < burst.size(); ++i) burst[i] = {6 + i, 0, i};
    broker.send(bytesOf(burst));
    ASSERT_TRUE(pumpUntil(poll, [&] { return !received.empty(); }));
    EXPECT_EQ(received.size(), 256u);
    ASSERT_TRUE(pumpUntil(poll, [&] { return received.size() >= 300; }));
    EXPECT_EQ(received, burst);

    // The six bytes left over are gone, so the next record is read aligned.
    broker.send(bytesOf({{918, 0, 0}, {7, 1, 3}, {16, 0, 0}}).substr(0, 30));
    ASSERT_TRUE(pumpUntil(poll, [&] { return received.size() >= 302; }));
    broker.send(bytesOf({{919, 0, 0}}));
    ASSERT_TRUE(pumpUntil(poll, [&] { return received.size() >= 303; }));
    EXPECT_EQ(std::vector<Notify>(received.begin() + 300, received.end()),
              (std::vector<Notify>{{918, 0, 0}, {7, 1, 3}, {919, 0, 0}}));
}

TEST_F(ServerConnectionWire, EventsWithoutAHandlerAreLoggedByName) {
    connection.handler = nullptr;
    broker.send(bytesOf({{918, 0, 0}, {gen::EVENT_NAME_SIZE, 7, 9}}));
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

TEST_F(ServerConnectionWire, ABrokerThatEndsClosesTheConnectionForGood) {
    close(broker.peer);
    broker.peer = -1;
    ASSERT_TRUE(pumpUntil(poll, [&] { return !connection.isConnected(); }));
    gServerConnection = &connection;
    EXPECT_TRUE(raisedText([] { postEvent({918, 0, 0}); }).ends_with(" Could not send message to server"));
    gServerConnection = nullptr;
}

TEST(ServerConnectionGate, AnOpenGateLetsTheClientInAtOnceAndStaysOpen) {
    StandInBroker broker;
    EventPoll poll;
    kmsg::Cursor cursor;
    int opens = 0;
    semaphoreOpens = &opens;
    ServerConnection connection(poll);
    semaphoreOpens = nullptr;
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(cursor.count("Connected after 0 attempts"), 1u);
    EXPECT_EQ(gateCount(), 1);
}

TEST(ServerConnectionGate, AMissingGateIsTriedTwentyTimesThenRaised) {
    EventPoll poll;
    kmsg::Cursor cursor;
    int opens = 0;
    semaphoreOpens = &opens;
    EXPECT_TRUE(raisedText([&] { ServerConnection connection(poll); }).ends_with(" sem_open: No such file or directory"));
    semaphoreOpens = nullptr;
    EXPECT_EQ(opens, 20);
    EXPECT_EQ(cursor.count("Connected after"), 0u);
}

TEST(ServerConnectionGate, AFailedConnectGivesTheGateBack) {
    sem_t* gate = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0600, 1);
    EventPoll poll;
    EXPECT_TRUE(raisedText([&] { ServerConnection connection(poll); }).ends_with(" connect: No such file or directory"));
    EXPECT_EQ(gateCount(), 1) << "other clients would wait forever";
    sem_close(gate);
}
}  // namespace
