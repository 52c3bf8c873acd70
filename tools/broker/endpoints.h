#pragma once
// What clients find of the broker: the listening socket at the agreed path and
// the readiness semaphore that gates their connects. Both vanish with the object.
#include <semaphore.h>

class ListeningSocket {
public:
    // Refuses to take over the path of a broker that still answers.
    explicit ListeningSocket(const char* path);
    ~ListeningSocket();
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

    int fd() const { return socketFd; }

private:
    const char* path;
    int socketFd;
};

class ReadyGate {
public:
    // Created with a count of 1: one client at a time may connect.
    explicit ReadyGate(const char* name);
    ~ReadyGate();
    ReadyGate(const ReadyGate&) = delete;
    ReadyGate& operator=(const ReadyGate&) = delete;

    // Called about once a second: a client holds the gate only for its
    // connect, so a gate found closed twice in a row was left closed by a
    // client that died holding it, and is opened again.
    void recover();

private:
    const char* name;
    sem_t* semaphore;
    bool closedAtLastCheck = false;
};
