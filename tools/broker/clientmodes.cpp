#include "tools/broker/clientmodes.h"

#include "apps/common/event/serverconnection.h"
#include "tools/broker/eventtext.h"

namespace {
class EventPrinter : public ServerConnection::EventHandler {
public:
    void handleEvent(Notify const& notify) override {
        printEvent(stdout, notify);
        putchar('\n');
    }
};
}  // namespace

int sendEvents(std::vector<Notify> const& events) {
    EventPoll poll;
    ServerConnection connection(poll);
    gServerConnection = &connection;
    for (Notify const& event : events) postEvent(event);
    gServerConnection = nullptr;
    return 0;
}

int watchEvents(std::vector<Notify> const& events) {
    EventPoll poll;
    ServerConnection connection(poll);
    EventPrinter printer;
    connection.handler = &printer;
    if (events.empty()) connection.subscribeAll();
    for (Notify const& event : events) connection.subscribe(event);
    while (connection.isConnected()) {
        if (poll.wait(1000, false) == EventPoll::Terminate) return 0;
        fflush(stdout);
    }
    fprintf(stderr, "The broker closed the connection\n");
    return 1;
}
