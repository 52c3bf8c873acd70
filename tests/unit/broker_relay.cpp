// The broker process: subscriptions, relaying to every subscriber exactly
// once, framing of split records, and surviving garbage, floods and clients
// that vanish or stop reading.
#include "tests/unit/broker_harness.h"

#include <atomic>
#include <random>

using namespace brokertest;

namespace {
bool byRecord(Notify const& a, Notify const& b) {
    return std::tie(a.id, a.flag, a.index) < std::tie(b.id, b.flag, b.index);
}

std::vector<Notify> sorted(std::vector<Notify> records) {
    std::sort(records.begin(), records.end(), byRecord);
    return records;
}

std::vector<Notify> numbered(uint32_t id, uint32_t count, uint32_t flag = 0) {
    std::vector<Notify> records;
    for (uint32_t i = 0; i < count; ++i) records.push_back({id, flag, i});
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
    ~BackgroundSender() { finish(); }

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

TEST_F(BrokerRelay, EverySubscriberGetsEveryEventOnceTheSenderIncluded) {
    Subscriber& first = receiver;
    Subscriber second(poll);
    second.subscribeAll(poll, {901, 0, 0});
    ASSERT_TRUE(pumpUntil(poll, [&] { return first.collector.has({901, 0, 0}); }));
    first.collector.received.clear();

    std::vector<Notify> fromFirst = numbered(20, 10), fromSecond = numbered(30, 10, 1);
    for (auto const& event : fromFirst) first.connection.postEvent(event);
    for (auto const& event : fromSecond) second.connection.postEvent(event);
    std::vector<Notify> all = fromFirst;
    all.insert(all.end(), fromSecond.begin(), fromSecond.end());
    ASSERT_TRUE(pumpUntil(poll, [&] {
        return first.collector.received.size() >= all.size() && second.collector.received.size() >= all.size();
    }));
    pumpAWhile(poll);
    EXPECT_EQ(sorted(first.collector.received), sorted(all));
    EXPECT_EQ(sorted(second.collector.received), sorted(all));
    // Each sender's own events keep their order.
    std::vector<Notify> ownOrder;
    for (auto const& event : first.collector.received)
        if (event.id == 20) ownOrder.push_back(event);
    EXPECT_EQ(ownOrder, fromFirst);
}

TEST_F(BrokerRelay, ASubscriptionToOneEventDeliversThatEventOnly) {
    Subscriber& wide = receiver;
    Subscriber narrow(poll);
    narrow.connection.subscribe({42, 0, 0});
    narrow.connection.postEvent({42, 0, 99});
    ASSERT_TRUE(pumpUntil(poll, [&] { return narrow.collector.has({42, 0, 99}); }));
    ASSERT_TRUE(pumpUntil(poll, [&] { return wide.collector.has({42, 0, 99}); }));
    narrow.collector.received.clear();

    for (Notify event : std::vector<Notify>{{41, 0, 0}, {42, 0, 0}, {43, 0, 0}, {42, 1, 7}, {44, 0, 0}})
        wide.connection.postEvent(event);
    ASSERT_TRUE(pumpUntil(poll, [&] { return wide.collector.has({44, 0, 0}) && narrow.collector.received.size() >= 2; }));
    pumpAWhile(poll);
    EXPECT_EQ(narrow.collector.received, (std::vector<Notify>{{42, 0, 0}, {42, 1, 7}}));
}

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

TEST(BrokerLifetime, TerminationRemovesTheEndpointsAndExitsCleanly) {
    BrokerProcess broker;
    RawClient client;
    ASSERT_TRUE(socketFileExists());
    EXPECT_EQ(broker.stop(), 0);
    EXPECT_FALSE(socketFileExists());
    EXPECT_FALSE(semaphoreExists());
    EXPECT_TRUE(client.closedByBroker());
}
