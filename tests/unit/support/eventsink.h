#pragma once
// A broker endpoint held by the test and a real ServerConnection to it, set
// as the process's connection: what setters post can be read back here.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/serverconnection.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <semaphore.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

class EventSink {
public:
    EventSink() : listenFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, ServerConnection::SOCKET_PATH, sizeof address.sun_path - 1);
        bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listenFd, 1);
        gate = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0600, 1);
        connection = std::make_unique<ServerConnection>(poll);
        peer = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        gServerConnection = connection.get();
    }
    ~EventSink() {
        gServerConnection = nullptr;
        connection.reset();
        close(peer);
        close(listenFd);
        unlink(ServerConnection::SOCKET_PATH);
        sem_close(gate);
        sem_unlink(ServerConnection::READY_SEMAPHORE);
    }
    EventSink(const EventSink&) = delete;
    EventSink& operator=(const EventSink&) = delete;

    // The records posted since the last call (each post is one whole write).
    std::vector<Notify> posted() {
        std::vector<Notify> records;
        Notify record;
        while (read(peer, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) records.push_back(record);
        return records;
    }

private:
    EventPoll poll;
    int listenFd;
    sem_t* gate;
    std::unique_ptr<ServerConnection> connection;
    int peer;
};
