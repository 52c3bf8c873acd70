#pragma once
// One connected client of the broker: reads its records (commands change its
// subscriptions, everything else goes to the host for relaying) and queues the
// events it subscribed to until its socket takes them.
#include "apps/common/event/eventpoll.h"
#include "tools/broker/recordstream.h"
#include "tools/broker/subscriptions.h"
#include "tools/broker/trafficlog.h"
#include "tools/broker/writablewatch.h"

#include <chrono>

class BrokerClient final : public EventPoll::Callback, public WritableWatch::Writer {
public:
    using Clock = std::chrono::steady_clock;

    class Host {
    public:
        // `from` is the sending client's number, 0 for events the broker injects.
        virtual void relay(int from, Notify const* events, size_t count) = 0;

    protected:
        ~Host() = default;
    };

    struct Context {
        EventPoll& poll;
        WritableWatch& watch;
        Host& host;
        TrafficLog& traffic;
    };

    BrokerClient(int fd, int number, Context context, size_t queueLimit);
    ~BrokerClient();
    BrokerClient(const BrokerClient&) = delete;
    BrokerClient& operator=(const BrokerClient&) = delete;

    void event(EventType type) override;
    void writable() override;

    // Queues the events the client subscribed to; a full queue drops the client.
    void offer(Notify const* events, size_t count);
    bool wants(Notify const& event) const { return isOpen() && subscriptions.wants(event.id); }
    void flush();
    void pauseInput();
    void resumeInput();
    // Closes the socket; the broker deletes the object between poll passes.
    void leave(const char* reason);

    bool isOpen() const { return fd >= 0; }
    int number() const { return clientNumber; }
    size_t pending() const { return queue.pending(); }
    // Output waiting and none of it written since `moment`.
    bool stuckSince(Clock::time_point moment) const { return pending() > 0 && lastProgress < moment; }

private:
    // One read; returns what read returned.
    ssize_t receive();
    void handle(Notify const* records, size_t count);

    int fd;
    int clientNumber;
    Context context;
    RecordAssembler assembler;
    Subscriptions subscriptions;
    OutputQueue queue;
    bool reading = true;
    bool watched = false;
    Clock::time_point lastProgress;
};
