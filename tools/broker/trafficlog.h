#pragma once
// The --log output: one line per relayed event and per change of a client, so
// people and tests can watch the traffic. Silent without an output.
#include "tools/broker/subscriptions.h"

#include <cstdio>

class TrafficLog {
public:
    explicit TrafficLog(FILE* out) : out(out) {}

    bool enabled() const { return out != nullptr; }
    void connected(int client);
    void command(int client, Subscriptions::Command command, Notify const& target);
    // `from` 0 stands for an event injected by the broker itself.
    void relayed(Notify const& event, int from, int receivers);
    void left(int client, const char* reason);
    void flush();

private:
    FILE* out;
};
