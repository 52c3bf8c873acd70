// The broker process: subscription commands, framing of split records, and
// surviving garbage, floods and clients that vanish or stop reading. Plain
// relaying, chosen subscriptions and clean termination are covered by the
// broker_tools end-to-end script.
#include "tests/unit/broker_harness.h"

#include <atomic>
#include <random>

using namespace brokertest;

namespace {
std::vector<Notify> numbered(uint32_t id, uint32_t count) {
    std::vector<Notify> records;
    for (uint32_t i = 0; i < count; ++i) records.push_back({id, 0, i});
    return records;
}

// Writes `records` from a thread of its own: the broker may slow the sender
// down while receivers catch up.
class BackgroundSender {
public:
    explicit BackgroundSender(std::vector<Notify> records, size_t piece = 4096)
        : worker([this, records = std::move(records), piece] {
              auto bytes = reinterpret_cast<const char*>(records.data());
              size_t total = records.size() * sizeof(Notify);
              for (size_t done = 0; done < total && accepted; done += piece)
                  accepted = client.sendBytes(bytes + done, std::min(piece, total - done));
              ended = true;
          }) {}
    // Shutting the socket down frees a sender still blocked when a test fails.
    ~BackgroundSender() {
        shutdown(client.fd, SHUT_RDWR);
        finish();
    }

    // True when the broker took everything.
    bool finish() {
        if (worker.joinable()) worker.join();
        return accepted;
    }

    bool hasEnded() const { return ended; }

    RawClient client;

private:
    std::atomic<bool> accepted = true;
    std::atomic<bool> ended = false;
    std::thread worker;
};

constexpr uint32_t FLOOD = 1000000;
}  // namespace

using BrokerRelay = RunningBroker;

TEST(BrokerCommands, UnsubscribingEndsDeliveries) {
    BrokerProcess broker;
    RawClient client;
    // Subscribe and its target in separate writes, as a careless client might send them.
    ASSERT_TRUE(client.send({{1, 0, 0}}));
    ASSERT_TRUE(client.send({{42, 0, 0}, {1, 0, 0}, {43, 0, 0}, {2, 0, 0}, {42, 0, 0}, {42, 0, 1}, {43, 0, 1}}));
    EXPECT_EQ(client.receive(1), (std::vector<Notify>{{43, 0, 1}}));

    ASSERT_TRUE(client.send({{3, 0, 0}, {4, 0, 0}, {1, 0, 0}, {44, 0, 0}, {43, 0, 2}, {50, 0, 0}, {44, 0, 2}}));
    EXPECT_EQ(client.receive(1), (std::vector<Notify>{{44, 0, 2}}));
}

TEST(BrokerFraming, RecordsSplitAcrossWritesArriveWhole) {
    BrokerProcess broker;
    RawClient sender, receiver;
    ASSERT_TRUE(receiver.send({{3, 0, 0}, {900, 0, 0}}));
    ASSERT_EQ(receiver.receive(1), (std::vector<Notify>{{900, 0, 0}}));

    std::vector<Notify> events = {{918, 0, 1}, {7, 1, 2}, {919, 0, 3}};
    auto bytes = reinterpret_cast<const char*>(events.data());
    for (size_t piece : {5, 7, 1, 11, 12}) {
        ASSERT_TRUE(sender.sendBytes(bytes, piece));
        bytes += piece;
        std::this_thread::sleep_for(20ms);  // lets the broker read each piece on its own
    }
    EXPECT_EQ(receiver.receive(3), events);
}

TEST_F(BrokerRelay, GarbageReachesSubscribersWithoutHarmingAnyone) {
    {
        RawClient vandal;
        // An unknown number is relayed like any event; "no event" is not; a
        // partial record dies with its sender.
        ASSERT_TRUE(vandal.send({{50000, 0, 0}, {0, 0, 0}}));
        ASSERT_TRUE(vandal.sendBytes("\x01\x02\x03\x04\x05\x06\x07", 7));
    }
    RawClient sender;
    ASSERT_TRUE(sender.send({{918, 0, 0}}));
    ASSERT_TRUE(pumpUntil(poll, [&] { return receiver.collector.has({918, 0, 0}); }));
    pumpAWhile(poll);
    EXPECT_EQ(received, (std::vector<Notify>{{50000, 0, 0}, {918, 0, 0}}));
}

TEST_F(BrokerRelay, AFloodOfRandomBytesLeavesTheBrokerServing) {
    {
        std::mt19937 random(7);
        auto next = [&random] { return static_cast<uint32_t>(random()); };
        std::vector<Notify> garbage(FLOOD);
        // Small numbers too, so commands of every kind are among the garbage.
        for (auto& record : garbage) record = {next() % 2 ? next() : next() % 1000, next(), next()};
        BackgroundSender vandal(garbage, 4099);
        // The vandal may subscribe itself and, never reading, be dropped: either way it ends.
        ASSERT_TRUE(pumpUntil(poll, [&] { return vandal.hasEnded(); }));
        received.clear();
    }
    EXPECT_TRUE(broker.running());
    Subscriber newcomer(poll);
    newcomer.subscribeAll(poll, {901, 0, 0});
    ASSERT_TRUE(pumpUntil(poll, [&] { return receiver.collector.has({901, 0, 0}); }));
}

// One stuck client paused reading; another stuck one, too far behind to
// let reading resume but not far enough to pause it alone, must go as well.
TEST_F(BrokerRelay, EveryStuckClientThatHoldsThePauseIsDropped) {
    RawClient lagging, paused;
    ASSERT_TRUE(lagging.send({{1, 0, 0}, {777, 0, 0}}));
    ASSERT_TRUE(paused.send({{1, 0, 0}, {778, 0, 0}}));
    RawClient sender;
    constexpr uint32_t LAGGING_RECORDS = 75000;  // 900 KB: a backlog under the pause level
    ASSERT_TRUE(sender.send(numbered(777, LAGGING_RECORDS)));
    ASSERT_TRUE(pumpUntil(poll, [&] { return received.size() >= LAGGING_RECORDS; }));
    received.clear();

    BackgroundSender flood(numbered(778, 125000));  // 1.5 MB: reading pauses
    ASSERT_TRUE(pumpUntil(poll, [&] { return flood.hasEnded(); }));
    EXPECT_TRUE(flood.finish());
    ASSERT_TRUE(sender.send({{901, 0, 0}}));
    ASSERT_TRUE(pumpUntil(poll, [&] { return receiver.collector.has({901, 0, 0}); }));
    EXPECT_TRUE(lagging.closedByBroker());
    EXPECT_TRUE(paused.closedByBroker());
}

TEST_F(BrokerRelay, AClientThatVanishesDoesNotDisturbTheOthers) {
    auto quitter = std::make_unique<RawClient>();
    ASSERT_TRUE(quitter->send({{3, 0, 0}, {901, 0, 0}}));
    ASSERT_EQ(quitter->receive(1), (std::vector<Notify>{{901, 0, 0}}));
    ASSERT_TRUE(pumpUntil(poll, [&] { return receiver.collector.has({901, 0, 0}); }));
    received.clear();

    RawClient sender;
    std::vector<Notify> before = numbered(20, 100), after = numbered(21, 100);
    ASSERT_TRUE(sender.send(before));
    quitter.reset();  // with events for it still unread
    ASSERT_TRUE(sender.send(after));
    std::vector<Notify> all = before;
    all.insert(all.end(), after.begin(), after.end());
    ASSERT_TRUE(pumpUntil(poll, [&] { return received.size() >= all.size(); }));
    pumpAWhile(poll);
    EXPECT_EQ(received, all);
}

TEST_F(BrokerRelay, AFloodReachesAReaderWholeWhileAClientThatStopsReadingIsDropped) {
    RawClient sleeper;
    ASSERT_TRUE(sleeper.send({{3, 0, 0}, {901, 0, 0}}));
    ASSERT_TRUE(pumpUntil(poll, [&] { return receiver.collector.has({901, 0, 0}); }));
    received.clear();
    received.reserve(FLOOD);

    BackgroundSender sender(numbered(918, FLOOD), 5000);  // pieces cut through records
    ASSERT_TRUE(pumpUntil(poll, [&] { return received.size() >= FLOOD; }));
    EXPECT_TRUE(sender.finish());
    pumpAWhile(poll);
    ASSERT_EQ(received.size(), FLOOD);
    for (uint32_t i = 0; i < FLOOD; ++i)
        if (received[i].index != i) FAIL() << "record " << i << " arrived as " << testing::PrintToString(received[i]);
    EXPECT_TRUE(sleeper.closedByBroker());
}
