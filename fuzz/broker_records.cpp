// One client's byte stream into the broker, split at random points: the
// records must come out whole and in order, commands must change only the
// subscriptions, and what the client is sent back must be exactly the
// events its subscriptions ask for.
#include "fuzz/support/target.h"
#include "fuzz/support/socketpair.h"
#include "tools/broker/brokerclient.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace {

class Collector : public BrokerClient::Host {
public:
    void relay(int, Notify const* events, size_t count) override { relayed.insert(relayed.end(), events, events + count); }
    std::vector<Notify> relayed;
};

// The subscriptions a stream of whole records leaves, and the events it relays.
struct Model {
    explicit Model(const std::string& stream) {
        uint32_t awaiting = gen::Invalid;
        for (size_t offset = 0; offset + sizeof(Notify) <= stream.size(); offset += sizeof(Notify)) {
            Notify record;
            memcpy(&record, stream.data() + offset, sizeof record);
            if (awaiting == gen::Subscribe) {
                subscribed.insert(record.id);
            } else if (awaiting == gen::Unsubscribe) {
                subscribed.erase(record.id);
            } else if (record.id == gen::Subscribe || record.id == gen::Unsubscribe) {
                awaiting = record.id;
                continue;
            } else if (record.id == gen::SubscribeAll) {
                all = true;
            } else if (record.id == gen::UnsubscribeAll) {
                all = false;
                subscribed.clear();
            } else {
                events.push_back(record);
            }
            awaiting = gen::Invalid;
        }
    }
    bool wants(uint32_t id) const { return id != gen::Invalid && (all || subscribed.count(id) > 0); }

    std::vector<Notify> events;
    std::set<uint32_t> subscribed;
    bool all = false;
};

// Records biased towards the commands and the ends of the event table.
std::string nextRecord(FuzzedDataProvider& data) {
    static const uint32_t IDS[] = {gen::Invalid, gen::Subscribe, gen::Unsubscribe, gen::SubscribeAll,
                                   gen::UnsubscribeAll, 6, 918, gen::EVENT_NAME_SIZE - 1, gen::EVENT_NAME_SIZE};
    Notify record{data.ConsumeBool() ? data.PickValueInArray(IDS) : data.ConsumeIntegral<uint32_t>(),
                  data.ConsumeIntegralInRange<uint32_t>(0, 2), data.ConsumeIntegralInRange<uint32_t>(0, 600)};
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}


std::vector<Notify> records(const std::string& bytes) {
    std::vector<Notify> list(bytes.size() / sizeof(Notify));
    if (!list.empty()) memcpy(list.data(), bytes.data(), list.size() * sizeof(Notify));
    return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static EventPoll poll;
    static WritableWatch watch(poll);
    static FILE* discard = fopen("/dev/null", "w");
    static TrafficLog traffic(discard);  // its printing runs over every record too

    FuzzedDataProvider data(bytes, size);
    std::vector<size_t> cuts;
    std::string stream;
    while (data.remaining_bytes() > 0) {
        stream += data.ConsumeBool() ? nextRecord(data) : data.ConsumeBytesAsString(data.ConsumeIntegralInRange(1, 11));
        cuts.push_back(stream.size() - data.ConsumeIntegralInRange<size_t>(0, std::min<size_t>(stream.size(), 13)));
    }

    fuzzsupport::SocketPair pair;
    Collector host;
    BrokerClient client(pair.inner, 1, {poll, watch, host, traffic}, 1 << 20);
    pair.releaseInner();  // the client closes it
    size_t sent = 0;
    for (size_t cut : cuts) {
        if (cut <= sent) continue;
        FUZZ_EXPECT(pair.send(std::string_view(stream).substr(sent, cut - sent)), "the broker stopped reading");
        sent = cut;
        while (client.isOpen() && pair.unread() > 0) client.event(EventPoll::Callback::Readable);
    }
    FUZZ_EXPECT(pair.send(std::string_view(stream).substr(sent)), "the broker stopped reading");
    while (client.isOpen() && pair.unread() > 0) client.event(EventPoll::Callback::Readable);

    Model model(stream);
    FUZZ_EXPECT(host.relayed == model.events, "relayed events differ from the stream's events");
    client.offer(host.relayed.data(), host.relayed.size());
    client.flush();
    std::vector<Notify> wanted;
    for (Notify const& event : model.events)
        if (model.wants(event.id)) wanted.push_back(event);
    FUZZ_EXPECT(records(pair.drain()) == wanted, "the client was sent other events than it subscribed to");
    return 0;
}
