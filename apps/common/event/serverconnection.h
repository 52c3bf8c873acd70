#pragma once
// Client of the device's message broker: waits on its readiness semaphore,
// connects, hands received events to one handler and posts our own events.
#include "apps/common/event/eventpoll.h"
#include "apps/common/event/notify.h"

class ServerConnection : public EventPoll::Callback {
public:
    class EventHandler {
    public:
        virtual void handleEvent(Notify const& notify) = 0;

    protected:
        ~EventHandler() = default;
    };

    static constexpr const char* SOCKET_PATH = "/var/volatile/message-broker.socket";
    static constexpr const char* READY_SEMAPHORE = "/message-broker-ready";

    explicit ServerConnection(EventPoll& poll);
    // Adopts a socket already connected to a stand-in for the broker (tools
    // that write the store while no broker runs, tests).
    ServerConnection(EventPoll& poll, int connectedFd);
    virtual ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    void event(EventType type) override;
    void connect();
    void close();
    void postEvent(Notify const& notify);
    void subscribe(Notify const& notify);
    void subscribeAll();
    bool isConnected() const { return fd >= 0; }

private:
    // Registers the socket with the poll; on failure closes it and raises.
    void watchSocket();

    EventPoll& poll;
    int fd;

public:
    // Set directly by the owner; events are logged and dropped while it is null.
    EventHandler* handler;
};

extern ServerConnection* gServerConnection;
