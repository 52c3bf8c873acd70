#include "apps/web/service/servicemanager.h"

#include "apps/common/log/log.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

ServiceManager::ServiceManager(EventPoll& poll)
    : poll(poll), socketFd(-1), address{}, addressLength(0), timerFd(-1), listeningFd(takeListener()),
      failureReported(false) {
    const char* socketName = getenv("NOTIFY_SOCKET");
    if (socketName != nullptr && takeAddress(socketName)) {
        socketFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socketFd < 0) THROW_ERROR_NUMBER("notification socket");
        const char* watchdogPid = getenv("WATCHDOG_PID");
        // The period is meant for the process the manager started, not for one it forked.
        bool watchdogIsOurs = watchdogPid == nullptr || atol(watchdogPid) == static_cast<long>(getpid());
        const char* period = getenv("WATCHDOG_USEC");
        if (period != nullptr && watchdogIsOurs) startWatchdog(period);
    }
    // The commands we run (dmesg, the 1-Wire command) must not take them for theirs.
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDNAMES");
}

// The first handed-over descriptor, if it is a listening socket meant for
// this process. It stays open across our restarts in the manager, so the
// commands we run must not inherit it.
int ServiceManager::takeListener() {
    constexpr int FIRST_HANDED_OVER = 3;
    const char* pid = getenv("LISTEN_PID");
    const char* count = getenv("LISTEN_FDS");
    if (pid == nullptr || count == nullptr || atol(pid) != static_cast<long>(getpid()) || atoi(count) < 1) return -1;
    int listening = 0;
    socklen_t length = sizeof listening;
    if (getsockopt(FIRST_HANDED_OVER, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening) {
        LOG(Warn, "Descriptor %d handed over is no listening socket: binding our own", FIRST_HANDED_OVER);
        return -1;
    }
    fcntl(FIRST_HANDED_OVER, F_SETFD, FD_CLOEXEC);
    LOG(LogLight, "Serving on the listening socket handed over by the service manager");
    return FIRST_HANDED_OVER;
}

ServiceManager::~ServiceManager() {
    if (timerFd >= 0) {
        try {
            poll.remove(timerFd);
        } catch (...) {
        }
        close(timerFd);
    }
    if (socketFd >= 0) close(socketFd);
}

// A leading '@' names an abstract socket, a leading '/' a file; anything else
// (another transport) is not ours to speak.
bool ServiceManager::takeAddress(const char* name) {
    size_t length = strlen(name);
    if ((name[0] != '@' && name[0] != '/') || length >= sizeof address.sun_path) {
        LOG(Warn, "Ignoring the notification socket '%s'", name);
        return false;
    }
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, name, length);
    if (name[0] == '@') {
        address.sun_path[0] = '\0';
        addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    } else {
        addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + 1);
    }
    return true;
}

void ServiceManager::startWatchdog(const char* periodText) {
    char* end = nullptr;
    unsigned long long periodUs = strtoull(periodText, &end, 10);
    if (end == periodText || *end != '\0' || periodUs == 0) return;
    unsigned long long pingUs = std::max(periodUs / 2, 1ULL);
    itimerspec every{};
    // time_t may be 32 bits wide: a period beyond its range pings more often, never less.
    every.it_interval.tv_sec = static_cast<time_t>(std::min(pingUs / 1000000, static_cast<unsigned long long>(INT32_MAX)));
    every.it_interval.tv_nsec = static_cast<long>(pingUs % 1000000 * 1000);
    every.it_value = every.it_interval;
    timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timerFd < 0) THROW_ERROR_NUMBER("watchdog timer");
    if (timerfd_settime(timerFd, 0, &every, nullptr) < 0) THROW_ERROR_NUMBER("watchdog timer");
    poll.add(timerFd, this, EPOLLIN);
    LOG(LogLight, "Pinging the service manager's watchdog every %llu ms", pingUs / 1000);
}

void ServiceManager::ready() {
    send("READY=1");
}

void ServiceManager::event(EventType) {
    uint64_t expirations = 0;
    // Pings that a busy loop missed are not made up: one says it runs again.
    if (read(timerFd, &expirations, sizeof expirations) < 0 && errno != EAGAIN) LOG(Warn, "watchdog timer: %s", strerror(errno));
    send("WATCHDOG=1");
}

void ServiceManager::send(const char* message) {
    if (socketFd < 0) return;
    // Never blocks the loop: a manager that reads nothing loses the message.
    ssize_t sent = sendto(socketFd, message, strlen(message), MSG_NOSIGNAL | MSG_DONTWAIT,
                          reinterpret_cast<const sockaddr*>(&address), addressLength);
    if (sent >= 0) {
        failureReported = false;
    } else if (!failureReported) {
        LOG(Warn, "Cannot tell the service manager %s: %s", message, strerror(errno));
        failureReported = true;
    }
}
