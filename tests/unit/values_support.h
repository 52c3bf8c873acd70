#pragma once
// Test scaffolding for the value tests: the 18 areas created in the sandbox's
// private /dev/shm, and a stand-in broker whose socket end counts the event
// records that setters post.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/introspection/introspection.h"

#include <memory>
#include <string>
#include <vector>

class BrokerStub {
public:
    BrokerStub();
    ~BrokerStub();
    BrokerStub(const BrokerStub&) = delete;
    BrokerStub& operator=(const BrokerStub&) = delete;

    // Records posted since the last call.
    std::vector<Notify> takePosted();

private:
    EventPoll poll;
    int listener;
    int peer;
    std::unique_ptr<ServerConnection> connection;
};

// Memory and variable index of a catalogue variable, found by area and name.
struct VarRef {
    unsigned int mem;
    unsigned int var;
};
VarRef findVariable(std::string const& area, std::string const& name);
char* addressOf(VarRef ref);
