#include "apps/web/service/fcgi.h"

#include "apps/common/log/log.h"
#include "apps/web/service/request.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Connections stay blocking, but a stalled peer may hold a read or write
// only this long, and answers are sent without waiting to be merged.
void configureConnection(int socket) {
    timeval limit{Fcgi::SOCKET_TIMEOUT_MS / 1000, (Fcgi::SOCKET_TIMEOUT_MS % 1000) * 1000};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int one = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}
}  // namespace

Fcgi::Fcgi(EventPoll& poll, int listening)
    : requestCallback(nullptr), fd(listening), nextId(0), poll(poll), paused(false) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    poll.add(fd, this, EPOLLIN);
}

Fcgi::Fcgi(int port, EventPoll& poll)
    : requestCallback(nullptr), fd(-1), nextId(0), poll(poll), paused(false) {
    // Non-blocking only so that one event can take every queued connection;
    // the accepted sockets are blocking.
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) THROW_ERROR_NUMBER("socket");
    try {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) THROW_ERROR_NUMBER("bind");
        listen(fd, BACKLOG);
        poll.add(fd, this, EPOLLIN);
    } catch (...) {
        ::close(fd);
        fd = -1;
        throw;
    }
}

Fcgi::~Fcgi() {
    if (fd >= 0) {
        if (!paused) unregister(fd);
        ::close(fd);
        fd = -1;
    }
    // A request still held by the handler (marked by it) gets its end record;
    // a kept connection between requests gets none: the front server would
    // take it for the answer to a request it has just sent, and fail that.
    for (auto& [id, request] : requests) {
        if (request->fd < 0 || !request->userData.has_value()) continue;
        try {
            request->end();
        } catch (...) {
        }
    }
    for (auto& [id, request] : connections) release(std::move(request));
    connections.clear();
    requests.clear();
    deleteList.clear();
}

void Fcgi::event(EventType type) {
    if (type == Hangup) return;
    // The backlog is short: taking one connection per pass lets a burst of
    // clients overflow it, and their handshakes then wait for retransmits.
    for (int taken = 0; taken < ACCEPTS_PER_EVENT && accept(); ++taken) {
    }
}

bool Fcgi::accept() {
    int socket = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) {
        if (errno == EINTR || errno == EAGAIN) return false;
        LOG(Error, "accept: %s", strerror(errno));
        pauseAccepting();
        return false;
    }
    if (requests.size() >= MAX_REQUESTS) {
        LOG(Warn, "REQUEST refused: %zu requests open", requests.size());
        ::close(socket);
    } else {
        serve(socket);
    }
    return true;
}

void Fcgi::serve(int socket) {
    configureConnection(socket);
    unsigned int id = nextId++;
    Request& request = *(connections[id] = std::make_unique<Request>(this, socket, id));
    try {
        poll.add(socket, &request, EPOLLIN);
        request.registered = true;
    } catch (const std::runtime_error&) {
        connections.erase(id);  // closes the socket
    }
}

void Fcgi::pauseAccepting() {
    try {
        poll.remove(fd);
        paused = true;
        resumeAt = std::chrono::steady_clock::now() + ACCEPT_PAUSE;
    } catch (const std::runtime_error&) {
    }
}

void Fcgi::resumeAccepting() {
    if (std::chrono::steady_clock::now() < resumeAt) return;
    try {
        poll.add(fd, this, EPOLLIN);
        paused = false;
    } catch (const std::runtime_error&) {
        resumeAt = std::chrono::steady_clock::now() + ACCEPT_PAUSE;
    }
}

void Fcgi::addRequest(Request* request) {
    requests[request->id] = request;
    if (requestCallback) requestCallback->handleRequest(request);
}

void Fcgi::removeRequest(Request* request) {
    if (request->registered && request->fd >= 0) {
        request->registered = false;
        poll.remove(request->fd);
    }
    LOG(DebugMost, "REQUEST remove(%i)", request->id);
    deleteList.push_back(request->id);
}

std::unique_ptr<BodyConsumer> Fcgi::RequestCallback::bodyConsumer(Request&) {
    return nullptr;
}

std::unique_ptr<BodyConsumer> Fcgi::bodyConsumer(Request& request) {
    return requestCallback ? requestCallback->bodyConsumer(request) : nullptr;
}

Request* Fcgi::request(unsigned int id) {
    auto found = requests.find(id);
    return found == requests.end() ? nullptr : found->second;
}

void Fcgi::cleanup() {
    if (paused) resumeAccepting();
    if (deleteList.empty()) return;
    for (unsigned int id : deleteList) {
        auto listed = requests.find(id);
        if (listed == requests.end())
            LOG(Warn, "Request %u no longer a valid request, though marked for deletion.", id);
        else
            requests.erase(listed);
        // A connection that hung up before its first request was complete
        // was never listed, but is freed all the same.
        auto connection = connections.find(id);
        if (connection == connections.end()) continue;  // deleted for an earlier mark
        std::unique_ptr<Request> request = std::move(connection->second);
        connections.erase(connection);
        LOG(DebugMost, "REQUEST delete(%i)", request->id);
        release(std::move(request));
    }
    deleteList.clear();
}

std::optional<std::chrono::steady_clock::time_point> Fcgi::resumeMoment() const {
    if (!paused) return std::nullopt;
    return resumeAt;
}

void Fcgi::release(std::unique_ptr<Request> request) noexcept {
    if (request->registered && request->fd >= 0) {
        request->registered = false;
        unregister(request->fd);
    }
}

void Fcgi::unregister(int socket) noexcept {
    try {
        poll.remove(socket);
    } catch (...) {
    }
}
