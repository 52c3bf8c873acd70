#pragma once
// One request and its answer over a non-blocking loopback connection: either
// straight to the service as FastCGI records, or through the front web server
// as HTTP/1.0. The request leaves at once; the answer is collected as the
// socket turns readable.
#include <map>
#include <memory>
#include <string>

namespace load {

using Params = std::map<std::string, std::string>;

class Exchange {
public:
    enum class Status { Pending, Answered, Closed };

    // With `keep`, the service keeps the connection open after the answer and
    // `again` sends the next request on it.
    static std::unique_ptr<Exchange> fastcgi(int port, uint16_t requestId, const Params& params,
                                             const std::string& body = "", bool keep = false);
    static std::unique_ptr<Exchange> http(int port, const std::string& method, const std::string& path,
                                          const std::string& body = "");
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // The next request on a kept FastCGI connection; false when it is gone.
    bool again(uint16_t requestId, const Params& params, const std::string& body = "");

    int fd() const { return socket; }
    // Reads what arrived; the status leaves Pending once the answer is
    // complete (FastCGI: its end record; HTTP: the server's close) or the
    // connection ended without one.
    void readable();
    Status status() const { return state; }
    // FastCGI: the standard output, header included; HTTP: the body.
    const std::string& output() const { return text; }
    int httpStatus() const { return statusCode; }

private:
    Exchange(int socket, bool isHttp) : socket(socket), isHttp(isHttp) {}
    void finishHttp();
    bool send(const std::string& request);

    int socket;
    bool isHttp;
    Status state = Status::Pending;
    std::string received;
    std::string text;
    int statusCode = 0;
};

}  // namespace load
