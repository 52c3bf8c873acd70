// Events per second from one client through the broker to a ServerConnection,
// against two baselines measured in the same run: the receiving client alone
// (records written straight into its socket) and an ideal relay (a thread that
// only copies bytes between two socket pairs).
#include "apps/common/event/serverconnection.h"
#include "apps/common/log/log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t SEND_BATCH = 256;

class Counter : public ServerConnection::EventHandler {
public:
    void handleEvent(Notify const& notify) override {
        if (notify.index != count) outOfOrder = true;
        ++count;
    }
    uint32_t count = 0;
    bool outOfOrder = false;
};

// What ServerConnection does on a readable socket, for the baselines that
// have no broker to connect to.
class PlainReceiver : public EventPoll::Callback {
public:
    PlainReceiver(int fd, Counter& counter) : fd(fd), counter(counter) {}
    void event(EventType type) override {
        if (type != Readable) return;
        Notify records[256] = {};
        int count = readEvents(fd, records, 256);
        for (int i = 0; i < count; ++i) counter.handleEvent(records[i]);
    }

private:
    int fd;
    Counter& counter;
};

void sendAll(int fd, uint32_t events) {
    std::vector<Notify> batch(SEND_BATCH);
    for (uint32_t sent = 0; sent < events;) {
        size_t count = std::min<size_t>(SEND_BATCH, events - sent);
        for (size_t i = 0; i < count; ++i) batch[i] = {918, 0, sent + static_cast<uint32_t>(i)};
        const char* bytes = reinterpret_cast<const char*>(batch.data());
        size_t left = count * sizeof(Notify);
        while (left > 0) {
            ssize_t written = write(fd, bytes, left);
            if (written <= 0) return;
            bytes += written;
            left -= static_cast<size_t>(written);
        }
        sent += static_cast<uint32_t>(count);
    }
}

void copyAll(int from, int to) {
    // Whole records per write, and writes small enough to reach the reader in
    // one piece: the receiver drops partial records.
    char buffer[1365 * sizeof(Notify)];
    ssize_t got;
    while ((got = read(from, buffer, sizeof buffer)) > 0)
        for (ssize_t done = 0; done < got;) {
            ssize_t written = write(to, buffer + done, static_cast<size_t>(got - done));
            if (written <= 0) return;
            done += written;
        }
}

// Runs the poll until `events` arrived; returns events per second.
double receive(EventPoll& poll, Counter& counter, uint32_t events, Clock::time_point start) {
    uint32_t lastCount = 0;
    auto lastProgress = Clock::now();
    while (counter.count < events) {
        poll.wait(1000, false);
        if (counter.count != lastCount) {
            lastCount = counter.count;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > std::chrono::seconds(10)) {
            fprintf(stderr, "stalled after %u of %u events\n", counter.count, events);
            exit(1);
        }
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (counter.outOfOrder) fprintf(stderr, "events arrived out of order\n");
    return events / seconds;
}

struct SocketPair {
    SocketPair() { socketpair(AF_UNIX, SOCK_STREAM, 0, fds); }
    ~SocketPair() {
        close(fds[0]);
        close(fds[1]);
    }
    int fds[2];
};

double receivePlain(int fd, uint32_t events, Clock::time_point start) {
    EventPoll poll;
    Counter counter;
    PlainReceiver receiver(fd, counter);
    poll.add(fd, &receiver, EPOLLIN);
    double rate = receive(poll, counter, events, start);
    poll.remove(fd);
    return rate;
}

double direct(uint32_t events) {
    SocketPair pair;
    auto start = Clock::now();
    std::thread sender(sendAll, pair.fds[1], events);
    double rate = receivePlain(pair.fds[0], events, start);
    sender.join();
    return rate;
}

double idealRelay(uint32_t events) {
    SocketPair in, out;
    auto start = Clock::now();
    std::thread relay(copyAll, in.fds[0], out.fds[1]);
    std::thread sender(sendAll, in.fds[1], events);
    double rate = receivePlain(out.fds[0], events, start);
    sender.join();
    shutdown(in.fds[1], SHUT_WR);
    relay.join();
    return rate;
}

int connectRaw() {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, ServerConnection::SOCKET_PATH);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        perror("connect");
        exit(1);
    }
    return fd;
}

double throughBroker(uint32_t events) {
    EventPoll poll;
    ServerConnection connection(poll);
    Counter counter;
    connection.handler = &counter;
    connection.subscribe({918, 0, 0});
    // Our subscription is in place once our own probe comes back.
    connection.postEvent({918, 0, 0});
    while (counter.count == 0) poll.wait(1000, false);
    counter.count = 0;
    int sender = connectRaw();
    auto start = Clock::now();
    std::thread sending(sendAll, sender, events);
    double rate = receive(poll, counter, events, start);
    sending.join();
    close(sender);
    return rate;
}

pid_t startBroker(const char* path) {
    pid_t pid = fork();
    if (pid == 0) {
        execl(path, path, nullptr);
        _exit(127);
    }
    for (int i = 0; i < 1000; ++i) {
        sem_t* gate = sem_open(ServerConnection::READY_SEMAPHORE, 0);
        if (gate != SEM_FAILED) {
            sem_close(gate);
            return pid;
        }
        usleep(10000);
    }
    fprintf(stderr, "the broker did not start\n");
    exit(1);
}

template <typename Measure>
double best(Measure measure, uint32_t events) {
    double rate = 0;
    for (int run = 0; run < 3; ++run) rate = std::max(rate, measure(events));
    return rate;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "Usage: %s BROKER-BINARY [EVENTS]\n", argv[0]);
        return 2;
    }
    uint32_t events = argc > 2 ? static_cast<uint32_t>(strtoul(argv[2], nullptr, 10)) : 10000000;
    gen::LogLevel quiet = gen::Warn;
    gComponentLogLevel = &quiet;

    double alone = best(direct, events);
    double relayed = best(idealRelay, events);
    pid_t broker = startBroker(argv[1]);
    double brokered = best(throughBroker, events);
    kill(broker, SIGTERM);
    waitpid(broker, nullptr, 0);

    printf("events per run:                       %u (best of 3 runs)\n", events);
    printf("receiving client alone (socketpair):  %12.0f events/s\n", alone);
    printf("ideal relay (copying thread):         %12.0f events/s\n", relayed);
    printf("broker to ServerConnection:           %12.0f events/s\n", brokered);
    printf("broker / ideal relay:                 %12.2f\n", brokered / relayed);
    printf("broker / client alone:                %12.2f\n", brokered / alone);
    return 0;
}
