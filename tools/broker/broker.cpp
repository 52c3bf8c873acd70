#include "tools/broker/broker.h"

#include "apps/common/event/serverconnection.h"
#include "apps/common/log/log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace {
using namespace std::chrono_literals;

// Backlog of one client that pauses all reading, and the level at which
// reading resumes. Device events come at human pace; these only matter for floods.
constexpr size_t PAUSE_BACKLOG = 1024 * 1024;
constexpr size_t RESUME_BACKLOG = PAUSE_BACKLOG / 4;
// A paused broker reads nothing more, so a queue beyond this grows only from
// the reads of one pass: reaching it means something is badly wrong.
constexpr size_t QUEUE_LIMIT = 4 * PAUSE_BACKLOG;
// How long a client may hold up everyone else without taking any output.
constexpr auto STUCK_LIMIT = 5s;
constexpr auto GATE_CHECK_INTERVAL = 1s;
}  // namespace

Broker::Broker(EventPoll& poll, TrafficLog& traffic)
    : poll(poll),
      traffic(traffic),
      listener(ServerConnection::SOCKET_PATH),
      watch(poll),
      lastGateCheck(BrokerClient::Clock::now()),
      gate(ServerConnection::READY_SEMAPHORE) {
    poll.add(listener.fd(), this, EPOLLIN);
    LOG(LogLight, "Broker listening on %s", ServerConnection::SOCKET_PATH);
}

Broker::~Broker() {
    poll.remove(listener.fd());
}

void Broker::event(EventType type) {
    if (type != Readable) return;
    for (;;) {
        int fd = accept4(listener.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) LOG(Warn, "accept: %s", strerror(errno));
            return;
        }
        BrokerClient::Context context{poll, watch, *this, traffic};
        clients.push_back(std::make_unique<BrokerClient>(fd, ++lastClientNumber, context, QUEUE_LIMIT));
        if (inputPaused) clients.back()->pauseInput();
    }
}

void Broker::relay(int from, Notify const* events, size_t count) {
    for (auto& client : clients) client->offer(events, count);
    if (traffic.enabled())
        for (size_t i = 0; i < count; ++i)
            traffic.relayed(events[i], from, std::count_if(clients.begin(), clients.end(), [&](auto const& client) {
                                return client->wants(events[i]);
                            }));
    for (auto& client : clients) client->flush();
    if (!inputPaused && largestBacklog() > PAUSE_BACKLOG) setInputPaused(true);
}

void Broker::periodic() {
    auto now = BrokerClient::Clock::now();
    if (inputPaused) {
        // Any stuck client above the resume level holds the pause, not just
        // the one that began it: otherwise a smaller stuck backlog would keep
        // reading paused for ever once the larger one is gone.
        for (auto& client : clients)
            if (client->pending() > RESUME_BACKLOG && client->stuckSince(now - STUCK_LIMIT))
                client->leave("dropped: stuck");
        if (largestBacklog() <= RESUME_BACKLOG) setInputPaused(false);
    }
    // Only here, between passes, is no callback of a client running.
    std::erase_if(clients, [](auto const& client) { return !client->isOpen(); });
    if (now - lastGateCheck >= GATE_CHECK_INTERVAL) {
        gate.recover();
        lastGateCheck = now;
    }
    traffic.flush();
}

int Broker::waitTimeout() const {
    return inputPaused ? 100 : 1000;
}

size_t Broker::largestBacklog() const {
    size_t largest = 0;
    for (auto const& client : clients)
        if (client->isOpen()) largest = std::max(largest, client->pending());
    return largest;
}

void Broker::setInputPaused(bool paused) {
    inputPaused = paused;
    for (auto& client : clients) paused ? client->pauseInput() : client->resumeInput();
    LOG(LogAll, paused ? "Reading paused: a client is behind" : "Reading resumed");
}
