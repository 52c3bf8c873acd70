#pragma once
// Test scaffolding for the value tests: the 18 areas created in the sandbox's
// private /dev/shm, and a stand-in broker: the far end of a socket pair that
// counts the event records setters post.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"
#include "apps/common/introspection/introspection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// Creates and maps the 18 areas, zero-filled; closeAreas unmaps them again.
void createAreas();
void closeAreas();

// The areas for the life of a test.
class StoreTest : public testing::Test {
protected:
    StoreTest() { createAreas(); }
    ~StoreTest() override { closeAreas(); }
};

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

// A copy of the area holding a variable, to find writes that strayed out of it.
class StoreSnapshot {
public:
    explicit StoreSnapshot(VarRef ref);
    // Empty when only the variable's bytes (of the given list element) differ;
    // else names the first other byte that changed.
    std::string changedOutside(VarRef ref, int element = 0) const;
    void fill(char byte);
    void restore();

private:
    char* area;
    std::vector<char> saved;
};
