#pragma once
// A broker endpoint held by the test, and a real ServerConnection to it set as
// the process's connection: what setters post can be read back here.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <semaphore.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

// The broker's socket and readiness gate; takes one client.
class BrokerEndpoint {
public:
    BrokerEndpoint() : listenFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, ServerConnection::SOCKET_PATH, sizeof address.sun_path - 1);
        bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listenFd, 1);
        gate = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0600, 1);
    }
    ~BrokerEndpoint() {
        if (peer >= 0) close(peer);
        close(listenFd);
        unlink(ServerConnection::SOCKET_PATH);
        sem_close(gate);
        sem_unlink(ServerConnection::READY_SEMAPHORE);
    }
    BrokerEndpoint(const BrokerEndpoint&) = delete;
    BrokerEndpoint& operator=(const BrokerEndpoint&) = delete;

    // The connected client's records that have arrived (each post is one write).
    std::vector<Notify> received() {
        if (peer < 0) {
            pollfd waiting{listenFd, POLLIN, 0};
            if (::poll(&waiting, 1, 0) <= 0) return {};
            peer = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        }
        std::vector<Notify> records;
        Notify record;
        while (read(peer, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) records.push_back(record);
        return records;
    }

private:
    int listenFd;
    sem_t* gate;
    int peer = -1;
};

class EventSink {
public:
    EventSink() : connection(std::make_unique<ServerConnection>(poll)) { gServerConnection = connection.get(); }
    ~EventSink() { gServerConnection = nullptr; }
    EventSink(const EventSink&) = delete;
    EventSink& operator=(const EventSink&) = delete;

    std::vector<Notify> posted() { return endpoint.received(); }

private:
    BrokerEndpoint endpoint;
    EventPoll poll;
    std::unique_ptr<ServerConnection> connection;
};
