#pragma once
// Test helpers around the broker: the real broker process, a stand-in that
// holds the broker's socket and gate itself, and a handler that collects what
// arrives.
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

// The real broker, started as a child process and ready once its gate exists.
class BrokerProcess {
public:
    BrokerProcess() {
        pid = fork();
        if (pid == 0) {
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            execl(BINARY_DIR "/bin/broker", "broker", static_cast<char*>(nullptr));
            _exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + PATIENCE;
        sem_t* gate;
        while ((gate = sem_open(ServerConnection::READY_SEMAPHORE, 0)) == SEM_FAILED) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the broker never opened its gate";
                return;
            }
            std::this_thread::sleep_for(5ms);
        }
        sem_close(gate);
    }
    ~BrokerProcess() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }

private:
    pid_t pid;
};

inline std::string bytesOf(std::vector<Notify> const& records) {
    return std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(Notify));
}

// The broker's socket and readiness gate held by the test itself, to see the
// raw bytes a client sends.
class StandInBroker {
public:
    StandInBroker() : listenFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strcpy(address.sun_path, ServerConnection::SOCKET_PATH);
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
        for (ssize_t n; got < size && (n = read(peer, bytes.data() + got, size - got)) > 0;) got += static_cast<size_t>(n);
        bytes.resize(got);
        return bytes;
    }

    void send(std::string const& bytes) {
        ASSERT_EQ(write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int peer = -1;

private:
    int listenFd;
    sem_t* gate;
};

class Collector : public ServerConnection::EventHandler {
public:
    void handleEvent(Notify const& notify) override { received.push_back(notify); }
    bool has(Notify const& notify) const {
        return std::find(received.begin(), received.end(), notify) != received.end();
    }
    std::vector<Notify> received;
};
}  // namespace brokertest
