#pragma once
// Events typed or piped into the broker, one or more per line, relayed as if
// a client had sent them.
#include "tools/broker/brokerclient.h"

#include <string>

class LineInput final : public EventPoll::Callback {
public:
    LineInput(int fd, EventPoll& poll, BrokerClient::Host& host);
    ~LineInput();
    LineInput(const LineInput&) = delete;
    LineInput& operator=(const LineInput&) = delete;

    void event(EventType type) override;

private:
    void relayLine(std::string const& line);
    void stop();

    int fd;
    EventPoll& poll;
    BrokerClient::Host& host;
    std::string unfinished;
    bool open = true;
};
