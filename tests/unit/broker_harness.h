#pragma once
// Test helpers around the broker: the real broker process, raw socket clients
// that bypass ServerConnection, and a handler that collects what arrives.
#include "apps/common/event/serverconnection.h"
#include "support/kmsg.h"
#include "support/pump.h"
#include "support/raised.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

inline void PrintTo(Notify const& n, std::ostream* out) {
    *out << "{" << n.id << "," << n.flag << "," << n.index << "}";
}

namespace brokertest {
using namespace std::chrono_literals;

// Bounds only: everything is awaited until done, and these limits merely keep
// a broken build from hanging the test run.
constexpr auto PATIENCE = 60s;

inline bool semaphoreExists() {
    sem_t* gate = sem_open(ServerConnection::READY_SEMAPHORE, 0);
    if (gate == SEM_FAILED) return false;
    sem_close(gate);
    return true;
}

inline bool socketFileExists() {
    return access(ServerConnection::SOCKET_PATH, F_OK) == 0;
}

// The real broker, started as a child process and ready once its gate exists.
class BrokerProcess {
public:
    explicit BrokerProcess(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), BINARY_DIR "/bin/broker");
        pid = fork();
        if (pid == 0) {
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            std::vector<char*> argv;
            for (auto& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + PATIENCE;
        for (; !semaphoreExists(); std::this_thread::sleep_for(5ms))
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the broker never opened its gate";
                break;
            }
    }

    ~BrokerProcess() {
        if (pid > 0) stop();
    }

    // SIGTERM, then the exit status (-1 when it did not exit normally).
    int stop() {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool running() const { return pid > 0 && kill(pid, 0) == 0; }

private:
    pid_t pid;
};

inline sockaddr_un brokerAddress() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, ServerConnection::SOCKET_PATH);
    return address;
}

inline std::string bytesOf(std::vector<Notify> const& records) {
    return std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(Notify));
}

// The broker's socket and readiness gate held by the test itself, to see the
// raw bytes a client sends.
class StandInBroker {
public:
    StandInBroker() : listenFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address = brokerAddress();
        EXPECT_EQ(bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listenFd, 4), 0);
        gate = sem_open(ServerConnection::READY_SEMAPHORE, O_CREAT, 0600, 1);
    }
    ~StandInBroker() {
        if (peer >= 0) close(peer);
        close(listenFd);
        unlink(ServerConnection::SOCKET_PATH);
        sem_close(gate);
        sem_unlink(ServerConnection::READY_SEMAPHORE);
    }

    // Reads from the accepted client give up after the patience.
    int acceptClient() {
        peer = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        timeval patience{std::chrono::seconds(PATIENCE).count(), 0};
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        return peer;
    }

    std::string readBytes(size_t size) {
        std::string bytes(size, '\0');
        size_t got = 0;
        while (got < size) {
            ssize_t n = read(peer, bytes.data() + got, size - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

    int peer = -1;

private:
    int listenFd;
    sem_t* gate;
};

// A client speaking the wire format directly, through the socket alone.
class RawClient {
public:
    RawClient() : fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address = brokerAddress();
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << strerror(errno);
    }
    ~RawClient() { close(); }

    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    // False once the broker no longer takes data.
    bool send(std::vector<Notify> const& records) {
        auto bytes = reinterpret_cast<const char*>(records.data());
        size_t size = records.size() * sizeof(Notify);
        while (size > 0) {
            ssize_t written = ::send(fd, bytes, size, MSG_NOSIGNAL);
            if (written <= 0) return false;
            bytes += written;
            size -= static_cast<size_t>(written);
        }
        return true;
    }

    int fd;
};

class Collector : public ServerConnection::EventHandler {
public:
    void handleEvent(Notify const& notify) override { received.push_back(notify); }
    bool has(Notify const& notify) const {
        return std::find(received.begin(), received.end(), notify) != received.end();
    }
    std::vector<Notify> received;
};

// A client that receives through ServerConnection.
struct Subscriber {
    explicit Subscriber(EventPoll& poll) : connection(poll) { connection.handler = &collector; }

    // Subscribed once its own marker comes back: from then on the broker
    // relays to it everything sent after that. Starts with nothing received.
    void subscribeAll(EventPoll& poll, Notify marker) {
        connection.subscribeAll();
        connection.postEvent(marker);
        ASSERT_TRUE(pumpUntil(poll, [&] { return collector.has(marker); }));
        collector.received.clear();
    }

    ServerConnection connection;
    Collector collector;
};

// The real broker with one client subscribed to everything.
class RunningBroker : public testing::Test {
protected:
    void SetUp() override { receiver.subscribeAll(poll, {900, 0, 0}); }

    BrokerProcess broker;
    EventPoll poll;
    Subscriber receiver{poll};
    std::vector<Notify>& received = receiver.collector.received;
};
}  // namespace brokertest
