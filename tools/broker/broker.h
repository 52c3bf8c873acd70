#pragma once
// The broker: accepts clients on its socket, opens the ready gate once it
// listens, and relays every event to every client subscribed to it, the
// sender included. A client whose output backs up pauses the reading of all
// clients, so fast senders slow down to the pace of the slowest receiver; a
// receiver that stays stuck is dropped so it cannot hold the others forever.
#include "tools/broker/brokerclient.h"
#include "tools/broker/endpoints.h"

#include <memory>
#include <vector>

class Broker : public EventPoll::Callback, public BrokerClient::Host {
public:
    Broker(EventPoll& poll, TrafficLog& traffic);
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    void event(EventType type) override;
    void relay(int from, Notify const* events, size_t count) override;

    // Housekeeping after every poll pass: deletes departed clients, drops
    // stuck ones, resumes reading and watches the gate.
    void periodic();
    int waitTimeout() const;

private:
    size_t largestBacklog() const;
    void setInputPaused(bool paused);

    EventPoll& poll;
    TrafficLog& traffic;
    ListeningSocket listener;
    WritableWatch watch;
    std::vector<std::unique_ptr<BrokerClient>> clients;
    int lastClientNumber = 0;
    bool inputPaused = false;
    BrokerClient::Clock::time_point lastGateCheck;
    // Last, so clients find the gate open only once everything above is ready.
    ReadyGate gate;
};
