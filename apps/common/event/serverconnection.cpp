#include "apps/common/event/serverconnection.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ServerConnection* gServerConnection = nullptr;

namespace {
constexpr int MAX_SEMAPHORE_ATTEMPTS = 20;
constexpr int BATCH = 256;
constexpr int DRAIN_WAIT_MS = 100;

// The broker creates the semaphore once it accepts connections; each client
// holds it only for the time of its connect.
sem_t* openReadySemaphore(int& failedAttempts) {
    failedAttempts = 0;
    for (;;) {
        sem_t* semaphore = sem_open(ServerConnection::READY_SEMAPHORE, 0);
        if (semaphore != SEM_FAILED) return semaphore;
        if (++failedAttempts >= MAX_SEMAPHORE_ATTEMPTS) THROW_ERROR_NUMBER("sem_open");
        sched_yield();
    }
}
}  // namespace

ServerConnection::ServerConnection(EventPoll& poll) : poll(poll), fd(-1), handler(nullptr) {
    LOG(LogLight, "Waiting for server");
    int failedAttempts = 0;
    sem_t* semaphore = openReadySemaphore(failedAttempts);
    if (sem_wait(semaphore) < 0) {
        sem_close(semaphore);
        THROW_ERROR_NUMBER("sem_wait");
    }
    try {
        connect();
    } catch (...) {
        // Give the gate back so the other clients of the broker are not starved.
        sem_post(semaphore);
        sem_close(semaphore);
        throw;
    }
    LOG(LogLight, "Connected after %i attempts", failedAttempts);
    bool posted = sem_post(semaphore) == 0;
    int error = errno;
    sem_close(semaphore);
    if (!posted) {
        // A constructor that raises gets no destructor: leave nothing registered with the poll.
        close();
        errno = error;
        THROW_ERROR_NUMBER("sem_post");
    }
}

ServerConnection::ServerConnection(EventPoll& poll, int connectedFd) : poll(poll), fd(connectedFd), handler(nullptr) {
    watchSocket();
}

void ServerConnection::watchSocket() {
    try {
        poll.add(fd, this, EPOLLIN);
    } catch (...) {
        ::close(fd);
        fd = -1;
        throw;
    }
}

ServerConnection::~ServerConnection() {
    close();
}

void ServerConnection::connect() {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) THROW_ERROR_NUMBER("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, SOCKET_PATH, sizeof address.sun_path - 1);
    watchSocket();
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        int error = errno;
        close();
        errno = error;
        THROW_ERROR_NUMBER("connect");
    }
}

void ServerConnection::close() {
    if (fd < 0) return;
    poll.remove(fd);
    shutdown(fd, SHUT_WR);
    // Drain until the broker closes its side, or 100 ms of silence.
    char discard[256];
    pollfd readable{fd, POLLIN, 0};
    while (::poll(&readable, 1, DRAIN_WAIT_MS) > 0 && read(fd, discard, sizeof discard) > 0) {
    }
    ::close(fd);
    fd = -1;
}

void ServerConnection::event(EventType type) {
    if (type == Hangup) {
        close();
        return;
    }
    if (type != Readable) return;
    Notify records[BATCH] = {};
    int count = readEvents(fd, records, BATCH);
    for (int i = 0; i < count; ++i) {
        if (handler != nullptr)
            handler->handleEvent(records[i]);
        else
            LOG(Warn, "Unhandled event: %s", eventName(records[i]));
    }
}

void ServerConnection::postEvent(Notify const& notify) {
    if (write(fd, &notify, sizeof notify) != static_cast<ssize_t>(sizeof notify))
        THROW_ERROR("Could not send message to server");
}

void ServerConnection::subscribe(Notify const& notify) {
    Notify records[2] = {{gen::Subscribe, 0, 0}, notify};
    if (write(fd, records, sizeof records) != static_cast<ssize_t>(sizeof records))
        THROW_ERROR("Could not send message to server");
}

void ServerConnection::subscribeAll() {
    postEvent({gen::SubscribeAll, 0, 0});
}
