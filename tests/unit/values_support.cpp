#include "values_support.h"

#include "apps/common/introspection/setters.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

BrokerStub::BrokerStub() : peer(-1) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) < 0) throw std::runtime_error("socketpair");
    peer = ends[1];
    fcntl(peer, F_SETFL, O_NONBLOCK);
    connection = std::make_unique<ServerConnection>(poll, ends[0]);
    gServerConnection = connection.get();
}

BrokerStub::~BrokerStub() {
    gServerConnection = nullptr;
    // Closing our end first lets the connection's drain end at once.
    close(peer);
    connection.reset();
}

std::vector<Notify> BrokerStub::takePosted() {
    std::vector<Notify> posted;
    Notify record;
    while (read(peer, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) posted.push_back(record);
    return posted;
}

VarRef findVariable(std::string const& area, std::string const& name) {
    unsigned int mem = Introspection::getMemIndex(area);
    for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var)
        if (name == Introspection::getVarName(mem, var)) return {mem, var};
    throw std::runtime_error("no variable " + area + "." + name);
}

char* addressOf(VarRef ref) {
    VariableInfo const& info = Introspection::variable(ref.mem, ref.var);
    return static_cast<char*>(*info.memory) + info.offset;
}

void createAreas() {
    for (unsigned int area = 0; area < gen::AREA_COUNT; ++area) {
        gen::gAreas[area].create();
        *gen::AREA_POINTERS[area] = gen::gAreas[area].address();
    }
}

void closeAreas() {
    for (unsigned int area = 0; area < gen::AREA_COUNT; ++area) {
        gen::gAreas[area].close();
        *gen::AREA_POINTERS[area] = nullptr;
    }
}

StoreSnapshot::StoreSnapshot(VarRef ref) {
    area = static_cast<char*>(*Introspection::variable(ref.mem, ref.var).memory);
    // The area's size word sits right before its payload.
    uint32_t size;
    std::memcpy(&size, area - 4, sizeof size);
    saved.assign(area, area + size);
}

std::string StoreSnapshot::changedOutside(VarRef ref, int element) const {
    VariableInfo const& info = Introspection::variable(ref.mem, ref.var);
    std::size_t size = valueSize(info);
    std::size_t begin = info.offset + std::size_t(element) * size;
    for (std::size_t at = 0; at < saved.size(); ++at) {
        if (at >= begin && at < begin + size) continue;
        if (area[at] != saved[at]) return "byte " + std::to_string(at) + " of the area changed";
    }
    return "";
}

void StoreSnapshot::fill(char byte) {
    std::memset(area, byte, saved.size());
}

void StoreSnapshot::restore() {
    std::memcpy(area, saved.data(), saved.size());
}
