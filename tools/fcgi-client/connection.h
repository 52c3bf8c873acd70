#pragma once
// One client connection to a FastCGI application: sends bytes and reads the
// answer's records back. Shared by the fcgi-client tool and the tests.
#include "tools/fcgi-client/records.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace fcgiwire {

enum Exit { ANSWERED = 0, CLOSED = 3, TIMED_OUT = 4 };

struct Answer {
    std::string raw;     // every byte received
    std::string output;  // the standard-output contents
    std::string errors;  // the standard-error contents
    std::vector<Record> records;
    Exit status = TIMED_OUT;
};

class Connection {
public:
    Connection(const std::string& host, int port, int timeoutMs) : timeoutMs(timeoutMs) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) throw std::runtime_error("bad address " + host);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
            std::string reason = strerror(errno);
            if (fd >= 0) close(fd);
            throw std::runtime_error("cannot connect: " + reason);
        }
    }
    ~Connection() { close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False when the application stopped taking data.
    bool send(const std::string& bytes) {
        for (size_t sent = 0; sent < bytes.size();) {
            ssize_t written = write(fd, bytes.data() + sent, bytes.size() - sent);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            sent += written;
        }
        return true;
    }

    void halfClose() { shutdown(fd, SHUT_WR); }

    // Reads records until an end record, end of file or the timeout.
    Answer receive() {
        Answer answer;
        for (;;) {
            size_t decoded = answer.records.size();
            pending.erase(0, decode(pending, answer.records));
            for (size_t i = decoded; i < answer.records.size(); ++i) {
                const Record& record = answer.records[i];
                if (record.type == Stdout) answer.output += record.content;
                if (record.type == Stderr) answer.errors += record.content;
                if (record.type == EndRequest) {
                    answer.status = ANSWERED;
                    return answer;
                }
            }
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, timeoutMs) <= 0) return answer;
            char buffer[65536];
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                answer.status = CLOSED;
                return answer;
            }
            answer.raw.append(buffer, got);
            pending.append(buffer, got);
        }
    }

    int descriptor() const { return fd; }

private:
    int fd;
    int timeoutMs;
    std::string pending;  // received bytes not yet decoded
};

}  // namespace fcgiwire
