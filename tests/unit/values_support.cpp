#include "values_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <semaphore.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
int listenAtBrokerSocket() {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, ServerConnection::SOCKET_PATH, sizeof address.sun_path - 1);
    unlink(ServerConnection::SOCKET_PATH);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 || listen(fd, 4) < 0)
        throw std::runtime_error(std::string("broker stub: ") + std::strerror(errno));
    return fd;
}
}  // namespace

BrokerStub::BrokerStub() : listener(listenAtBrokerSocket()), peer(-1) {
    sem_t* ready = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0666, 1);
    if (ready == SEM_FAILED) throw std::runtime_error("broker stub: sem_open");
    sem_close(ready);
    connection = std::make_unique<ServerConnection>(poll);
    peer = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0) throw std::runtime_error("broker stub: accept");
    gServerConnection = connection.get();
}

BrokerStub::~BrokerStub() {
    gServerConnection = nullptr;
    // Closing our end first lets the connection's drain end at once.
    close(peer);
    connection.reset();
    close(listener);
    unlink(ServerConnection::SOCKET_PATH);
    sem_unlink(ServerConnection::READY_SEMAPHORE);
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
