#pragma once
// The link to the service manager that started us, when it handed us a
// notification socket ($NOTIFY_SOCKET): we say when we are ready and, when it
// asks for a watchdog ($WATCHDOG_USEC), that the event loop still runs. The
// protocol is one datagram per message; these few lines spare the device a
// library of the manager's own. Without the socket nothing happens at all.
// A manager that holds our listening socket hands it over as descriptor 3
// ($LISTEN_FDS, $LISTEN_PID).
#include "apps/common/event/eventpoll.h"

#include <sys/socket.h>
#include <sys/un.h>

class ServiceManager final : public EventPoll::Callback {
public:
    // The pings come from a timer of the loop itself, at half the watchdog
    // period: a loop that hangs stops them and is restarted.
    explicit ServiceManager(EventPoll& poll);
    ~ServiceManager();
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // The listening socket the manager handed over, or -1: then we bind our own.
    int listener() const { return listeningFd; }
    // Call once the listener accepts connections.
    void ready();
    // The watchdog timer expired.
    void event(EventType type) override;

private:
    bool takeAddress(const char* name);
    static int takeListener();
    void startWatchdog(const char* periodText);
    void send(const char* message);

    EventPoll& poll;
    int socketFd;
    sockaddr_un address;
    socklen_t addressLength;
    int timerFd;
    int listeningFd;
    // A manager that went away is reported once, not at every ping.
    bool failureReported;
};
