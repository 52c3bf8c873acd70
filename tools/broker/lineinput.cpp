#include "tools/broker/lineinput.h"

#include "tools/broker/eventtext.h"

#include <sstream>
#include <unistd.h>

LineInput::LineInput(int fd, EventPoll& poll, BrokerClient::Host& host) : fd(fd), poll(poll), host(host) {
    poll.add(fd, this, EPOLLIN);
}

LineInput::~LineInput() {
    stop();
}

void LineInput::event(EventType type) {
    if (type == Urgent) return;
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        // The end of the input ends injecting, not the broker.
        stop();
        return;
    }
    unfinished.append(buffer, static_cast<size_t>(got));
    size_t end;
    while ((end = unfinished.find('\n')) != std::string::npos) {
        relayLine(unfinished.substr(0, end));
        unfinished.erase(0, end + 1);
    }
}

void LineInput::relayLine(std::string const& line) {
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (auto event = parseEvent(word))
            host.relay(0, &*event, 1);
        else
            fprintf(stderr, "Not an event: %s\n", word.c_str());
    }
}

void LineInput::stop() {
    if (!open) return;
    poll.remove(fd);
    open = false;
}
