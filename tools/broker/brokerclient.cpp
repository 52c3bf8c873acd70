#include "tools/broker/brokerclient.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <unistd.h>

namespace {
// Single-threaded, so one read buffer serves every client.
constexpr size_t READ_SIZE = 64 * 1024;
char readBuffer[READ_SIZE];
Notify assembled[RecordAssembler::capacityFor(READ_SIZE)];
}  // namespace

BrokerClient::BrokerClient(int fd, int number, Context context, size_t queueLimit)
    : fd(fd), clientNumber(number), context(context), queue(queueLimit), lastProgress(Clock::now()) {
    try {
        context.poll.add(fd, this, EPOLLIN);
    } catch (...) {
        ::close(fd);
        throw;
    }
    context.traffic.connected(clientNumber);
}

BrokerClient::~BrokerClient() {
    leave("closed");
}

void BrokerClient::event(EventType type) {
    if (type == Urgent) return;
    ssize_t got;
    // A hang-up can come with the client's last records still unread: take them first.
    do got = receive();
    while (type == Hangup && got > 0 && isOpen());
    if (got == 0)
        leave("disconnected");
    else if (got < 0 && errno != EAGAIN && errno != EINTR)
        leave("read error");
}

ssize_t BrokerClient::receive() {
    ssize_t got = read(fd, readBuffer, READ_SIZE);
    if (got > 0) handle(assembled, assembler.assemble(readBuffer, static_cast<size_t>(got), assembled));
    return got;
}

void BrokerClient::handle(Notify const* records, size_t count) {
    // Events before a command are relayed before the command changes this
    // client's own subscriptions, so it gets back exactly what it asked for.
    size_t firstEvent = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!subscriptions.isCommand(records[i])) continue;
        if (i > firstEvent) context.host.relay(clientNumber, records + firstEvent, i - firstEvent);
        firstEvent = i + 1;
        context.traffic.command(clientNumber, subscriptions.apply(records[i]), records[i]);
    }
    if (count > firstEvent) context.host.relay(clientNumber, records + firstEvent, count - firstEvent);
}

void BrokerClient::writable() {
    flush();
}

void BrokerClient::offer(Notify const* events, size_t count) {
    if (!isOpen()) return;
    if (queue.pending() == 0) lastProgress = Clock::now();
    for (size_t i = 0; i < count; ++i) {
        if (!subscriptions.wants(events[i].id) || queue.push(events[i])) continue;
        leave("dropped: cannot keep up");
        return;
    }
}

void BrokerClient::flush() {
    if (!isOpen() || queue.pending() == 0) return;
    size_t before = queue.pending();
    OutputQueue::Flush result = queue.flush(fd);
    if (result == OutputQueue::Flush::Failed) {
        leave("gone");
        return;
    }
    if (queue.pending() < before) lastProgress = Clock::now();
    bool waiting = result == OutputQueue::Flush::Pending;
    if (waiting == watched) return;
    if (waiting)
        context.watch.watch(fd, this);
    else
        context.watch.unwatch(fd);
    watched = waiting;
}

void BrokerClient::pauseInput() {
    if (!isOpen() || !reading) return;
    context.poll.remove(fd);
    reading = false;
}

void BrokerClient::resumeInput() {
    if (!isOpen() || reading) return;
    context.poll.add(fd, this, EPOLLIN);
    reading = true;
}

void BrokerClient::leave(const char* reason) {
    if (!isOpen()) return;
    if (reading) context.poll.remove(fd);
    if (watched) context.watch.unwatch(fd);
    ::close(fd);
    fd = -1;
    context.traffic.left(clientNumber, reason);
    LOG(LogAll, "Client %i %s", clientNumber, reason);
}
