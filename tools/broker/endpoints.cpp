#include "tools/broker/endpoints.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
sockaddr_un addressOf(const char* path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    return address;
}

bool answers(sockaddr_un const& address) {
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool connected = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) close(probe);
    return connected;
}
}  // namespace

ListeningSocket::ListeningSocket(const char* path) : path(path), socketFd(-1) {
    sockaddr_un address = addressOf(path);
    if (answers(address)) THROW_ERROR("Another broker is listening on %s", path);
    unlink(path);  // left behind by a broker that did not end cleanly
    socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socketFd < 0) THROW_ERROR_NUMBER("socket");
    if (bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 ||
        chmod(path, 0666) < 0 || listen(socketFd, SOMAXCONN) < 0) {
        int error = errno;
        close(socketFd);
        unlink(path);
        errno = error;
        THROW_ERROR_NUMBER("listen");
    }
}

ListeningSocket::~ListeningSocket() {
    close(socketFd);
    unlink(path);
}

ReadyGate::ReadyGate(const char* name) : name(name) {
    sem_unlink(name);  // a stale gate may be closed for good
    semaphore = sem_open(name, O_CREAT | O_EXCL, 0666, 1);
    if (semaphore == SEM_FAILED) THROW_ERROR_NUMBER("sem_open");
}

ReadyGate::~ReadyGate() {
    sem_unlink(name);
    sem_close(semaphore);
}

void ReadyGate::recover() {
    int count = 1;
    sem_getvalue(semaphore, &count);
    bool closed = count <= 0;
    if (closed && closedAtLastCheck) {
        LOG(Warn, "Opening the ready gate a vanished client left closed");
        sem_post(semaphore);
        closed = false;
    }
    closedAtLastCheck = closed;
}
