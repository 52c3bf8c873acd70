#pragma once
// The FastCGI listener: accepts the front web server's connections, creates
// one Request per connection, hands complete requests to the request callback
// and owns every Request until the deferred deletion in cleanup().
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/bodyconsumer.h"
#include "apps/web/service/request.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class Fcgi final : public EventPoll::Callback, public Request::Owner {
public:
    class RequestCallback {
    public:
        virtual void handleRequest(Request* request) = 0;
        // Asked once a request's parameters are complete: the consumer that
        // takes its body as it arrives, or none to have it collected.
        virtual std::unique_ptr<BodyConsumer> bodyConsumer(Request& request);

    protected:
        ~RequestCallback() = default;
    };

    static constexpr size_t MAX_REQUESTS = Request::MAX_REQUESTS;
    static constexpr int BACKLOG = 10;
    static constexpr int ACCEPTS_PER_EVENT = 16;
    static constexpr std::chrono::milliseconds ACCEPT_PAUSE{100};

    // A listening socket handed over (descriptor 0 by default, the service manager's otherwise).
    explicit Fcgi(EventPoll& poll, int listening = 0);
    Fcgi(int port, EventPoll& poll);
    ~Fcgi();
    Fcgi(const Fcgi&) = delete;
    Fcgi& operator=(const Fcgi&) = delete;

    void event(EventType type) override;
    // Lists the request and hands it to the request callback.
    void completed(Request& request) override;
    // Marks the request for deletion by the next cleanup().
    void closed(Request& request) override;
    std::unique_ptr<BodyConsumer> bodyConsumer(Request& request) override;
    Request* request(unsigned int id);
    // Deletes the requests marked, closes the stalled connections and takes
    // the listener back after a pause.
    void cleanup();
    // When a cleanup() has work that no event brings: a paused listener to
    // take back or a connection that will count as stalled.
    std::optional<std::chrono::steady_clock::time_point> dueMoment() const;

    // Requests handed to the callback and not yet deleted, by connection id
    // (owned as connections).
    std::map<unsigned int, Request*> requests;
    RequestCallback* requestCallback;

private:
    bool accept();
    void serve(int socket);
    void pauseAccepting();
    void resumeAccepting();
    void closeStalled();
    void unregister(int socket) noexcept;

    int fd;
    unsigned int nextId;
    std::vector<unsigned int> deleteList;
    EventPoll& poll;
    // Every accepted connection not yet deleted, complete or not, so that a
    // connection that hangs up before its first request is freed too.
    std::map<unsigned int, std::unique_ptr<Request>> connections;
    // Set while the listener is off the poll after an accept failure (such
    // as running out of descriptors, which would otherwise be reported again
    // at once); a cleanup() after the pause takes it back.
    bool paused;
    std::chrono::steady_clock::time_point resumeAt;
};
