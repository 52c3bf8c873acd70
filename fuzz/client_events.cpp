// The broker's byte stream into this program's server connection: random
// records in random pieces reach the event handler without a read outside
// the batch or a name looked up beyond the table, and none is lost when the
// pieces are whole records, as the broker writes them.
#include "apps/common/event/serverconnection.h"
#include "fuzz/support/target.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <semaphore.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

class Collector : public ServerConnection::EventHandler {
public:
    void handleEvent(Notify const& notify) override {
        eventName(notify);
        received.push_back(notify);
    }
    std::vector<Notify> received;
};


// Stands in for the broker's endpoints (the target runs in scripts/sandbox,
// where /var and the semaphores are private) and connects the process's one
// server connection to them.
class Broker {
public:
    Broker() {
        int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, ServerConnection::SOCKET_PATH, sizeof address.sun_path - 1);
        unlink(ServerConnection::SOCKET_PATH);
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 || listen(listener, 1) < 0) {
            perror("client_events: the broker's socket (run inside scripts/sandbox)");
            abort();
        }
        sem_t* gate = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0600, 1);
        connection = new ServerConnection(poll);
        connection->handler = &collector;
        peer = accept(listener, nullptr, nullptr);
        close(listener);
        sem_close(gate);
    }

    // Writes one piece and lets the poll serve the connection until it has read everything.
    void send(std::string_view piece) {
        FUZZ_EXPECT(write(peer, piece.data(), piece.size()) == static_cast<ssize_t>(piece.size()), "short write");
        while (poll.wait(0, true) == EventPoll::EventsHandled) {
        }
        FUZZ_EXPECT(connection->isConnected(), "the connection hung up");
    }

    EventPoll poll;
    Collector collector;
    ServerConnection* connection;
    int peer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static Broker broker;
    broker.collector.received.clear();

    FuzzedDataProvider data(bytes, size);
    bool whole = data.ConsumeBool();
    std::string stream;
    std::vector<size_t> cuts;
    while (data.remaining_bytes() > 0 && stream.size() < 64 * 1024) {
        Notify record{data.ConsumeIntegral<uint32_t>() % (gen::EVENT_NAME_SIZE + 50), data.ConsumeIntegralInRange<uint32_t>(0, 1),
                      data.ConsumeIntegral<uint32_t>()};
        stream.append(reinterpret_cast<const char*>(&record), sizeof record);
        size_t cut = whole ? stream.size() : stream.size() - data.ConsumeIntegralInRange<size_t>(0, 11);
        if (data.ConsumeBool() || data.remaining_bytes() == 0) cuts.push_back(cut);
    }
    size_t sent = 0;
    for (size_t cut : cuts) {
        if (cut <= sent) continue;
        // A piece larger than a batch is read by several passes of the poll.
        broker.send(std::string_view(stream).substr(sent, cut - sent));
        sent = cut;
    }
    if (sent < stream.size()) broker.send(std::string_view(stream).substr(sent));

    const auto& received = broker.collector.received;
    FUZZ_EXPECT(received.size() <= stream.size() / sizeof(Notify), "more records than were sent");
    if (whole) {
        std::vector<Notify> sentRecords(stream.size() / sizeof(Notify));
        if (!sentRecords.empty()) memcpy(sentRecords.data(), stream.data(), stream.size());
        FUZZ_EXPECT(received == sentRecords, "whole records were lost or changed");
    }
    return 0;
}
