#include "tools/loadclient/exchange.h"

#include "tools/fcgi-client/records.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace load {

namespace {
int connectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

std::string fastcgiRequest(uint16_t requestId, const Params& params, const std::string& body, bool keep) {
    std::string pairs;
    for (const auto& [name, value] : params) pairs += fcgiwire::encodePair(name, value);
    return fcgiwire::begin(requestId, keep) + fcgiwire::stream(fcgiwire::Params, requestId, pairs) +
           fcgiwire::stream(fcgiwire::Stdin, requestId, body);
}
}  // namespace

std::unique_ptr<Exchange> Exchange::fastcgi(int port, uint16_t requestId, const Params& params,
                                            const std::string& body, bool keep) {
    auto exchange = std::unique_ptr<Exchange>(new Exchange(connectTo(port), false));
    exchange->send(fastcgiRequest(requestId, params, body, keep));
    return exchange;
}

std::unique_ptr<Exchange> Exchange::http(int port, const std::string& method, const std::string& path,
                                         const std::string& body) {
    auto exchange = std::unique_ptr<Exchange>(new Exchange(connectTo(port), true));
    exchange->send(method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
    return exchange;
}

bool Exchange::again(uint16_t requestId, const Params& params, const std::string& body) {
    if (isHttp || state != Status::Answered) return false;
    state = Status::Pending;
    text.clear();
    return send(fastcgiRequest(requestId, params, body, true));
}

// Requests are small: one blocking write, then the answer is read as it comes.
bool Exchange::send(const std::string& request) {
    if (socket < 0) {
        state = Status::Closed;
        return false;
    }
    fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) & ~O_NONBLOCK);
    for (size_t sent = 0; sent < request.size();) {
        ssize_t written = write(socket, request.data() + sent, request.size() - sent);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;  // the server closed: the read reports it
        sent += static_cast<size_t>(written);
    }
    fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
    return true;
}

Exchange::~Exchange() {
    if (socket >= 0) close(socket);
}

void Exchange::readable() {
    char buffer[65536];
    for (;;) {
        ssize_t got = read(socket, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return;
        if (got <= 0) {
            if (isHttp && got == 0) {
                finishHttp();
            } else {
                state = Status::Closed;
            }
            return;
        }
        received.append(buffer, static_cast<size_t>(got));
        if (isHttp) continue;
        std::vector<fcgiwire::Record> records;
        received.erase(0, fcgiwire::decode(received, records));
        for (const auto& record : records) {
            if (record.type == fcgiwire::Stdout) text += record.content;
            if (record.type == fcgiwire::EndRequest) {
                state = Status::Answered;
                return;
            }
        }
    }
}

void Exchange::finishHttp() {
    size_t headerEnd = received.find("\r\n\r\n");
    if (headerEnd == std::string::npos || sscanf(received.c_str(), "HTTP/%*s %d", &statusCode) != 1) {
        state = Status::Closed;
        return;
    }
    text = received.substr(headerEnd + 4);
    state = Status::Answered;
}

}  // namespace load
