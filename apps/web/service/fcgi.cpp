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

Fcgi::Fcgi(EventPoll& poll, int listening)
    : requestCallback(nullptr), fd(listening), nextId(0), poll(poll), paused(false) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    poll.add(fd, this, EPOLLIN);
}

Fcgi::Fcgi(int port, EventPoll& poll)
    : requestCallback(nullptr), fd(-1), nextId(0), poll(poll), paused(false) {
    // Non-blocking so that one event can take every queued connection.
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
        if (!request->isOpen()) continue;
        try {
            request->end();
        } catch (...) {
        }
    }
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
    // Non-blocking: an answer never waits for its peer (see Request).
    int socket = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
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

// Answers are sent without waiting to be merged.
void Fcgi::serve(int socket) {
    int one = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    unsigned int id = nextId++;
    try {
        connections.emplace(id, std::make_unique<Request>(this, socket, id, &poll));
    } catch (const std::runtime_error&) {
        // The request closed the socket it could not register.
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

void Fcgi::completed(Request& request) {
    requests[request.id] = &request;
    if (requestCallback) requestCallback->handleRequest(&request);
}

void Fcgi::closed(Request& request) {
    LOG(DebugMost, "REQUEST remove(%i)", request.id);
    deleteList.push_back(request.id);
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
    closeStalled();
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
    }
    deleteList.clear();
}

// A peer that takes nothing of its answers holds only its own connection,
// and that only for a while.
void Fcgi::closeStalled() {
    auto now = std::chrono::steady_clock::now();
    for (auto& [id, request] : connections) {
        auto deadline = request->stallDeadline();
        if (!deadline || *deadline > now) continue;
        LOG(Warn, "REQUEST stalled(%u): %zu bytes not taken for %lld s", id, request->queuedBytes(),
            static_cast<long long>(Request::STALL_LIMIT.count()));
        request->disconnect();
    }
}

std::optional<std::chrono::steady_clock::time_point> Fcgi::dueMoment() const {
    std::optional<std::chrono::steady_clock::time_point> due;
    if (paused) due = resumeAt;
    for (const auto& [id, request] : connections)
        if (auto deadline = request->stallDeadline(); deadline && (!due || *deadline < *due)) due = deadline;
    return due;
}

void Fcgi::unregister(int socket) noexcept {
    try {
        poll.remove(socket);
    } catch (...) {
    }
}
