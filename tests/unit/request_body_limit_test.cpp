// Bodies over the limit are refused before any route sees them, whether the
// size is announced or only shows while the body arrives.
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "tools/fcgi-client/connection.h"
#include "tools/fcgi-client/records.h"

#include <fstream>
#include <future>
#include <gtest/gtest.h>

namespace {
class RequestBodyLimit : public ::testing::Test, public Fcgi::RequestCallback {
protected:
    void handleRequest(Request* request) override {
        ++routed;
        request->output() << "routed";
        request->end();
    }

    // Sends a request whose body is `records` repeated `times`, serving it
    // from here, and returns the output of the answer.
    std::string exchange(const std::string& contentLength, const std::string& records, size_t times) {
        auto answer = std::async(std::launch::async, [&] {
            fcgiwire::Connection connection("127.0.0.1", 9000, 60000);
            connection.send(fcgiwire::begin(1, false) +
                            fcgiwire::stream(fcgiwire::Params, 1, fcgiwire::pair("CONTENT_LENGTH", contentLength)));
            for (size_t sent = 0; sent < times; ++sent) connection.send(records);
            connection.send(fcgiwire::record(fcgiwire::Stdin, 1, ""));
            return connection.receive().output;
        });
        while (answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            poll.wait(10, true);
            fcgi.cleanup();
        }
        return answer.get();
    }

    EventPoll poll;
    Fcgi fcgi{9000, poll};
    int routed = 0;
    const std::string refused = std::string(Request::DEFAULT_HEADER) + Request::BODY_TOO_LARGE;
};

size_t peakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6));
    return 0;
}
}  // namespace

TEST_F(RequestBodyLimit, RefusesOversizeBodiesWithoutRoutingThem) {
    fcgi.requestCallback = this;
    const std::string tiny = fcgiwire::record(fcgiwire::Stdin, 1, "tiny");
    EXPECT_EQ(exchange(std::to_string(Request::MAX_BODY + 1), tiny, 1), refused);

    // Announced small, sent at twice the limit: what arrives past the limit
    // is dropped, so memory stays well below the body's size (how far below
    // depends on how the allocator grows a buffer up to the limit).
    size_t peakBefore = peakResidentKb();
    const std::string full = fcgiwire::record(fcgiwire::Stdin, 1, std::string(fcgiwire::MAX_CONTENT, 'x'));
    EXPECT_EQ(exchange("10", full, 2 * Request::MAX_BODY / fcgiwire::MAX_CONTENT), refused);
    EXPECT_LT(peakResidentKb() - peakBefore, Request::MAX_BODY / 1024 * 7 / 4);
    EXPECT_EQ(routed, 0);

    EXPECT_EQ(exchange(std::to_string(Request::MAX_BODY), tiny, 1), std::string(Request::DEFAULT_HEADER) + "routed");
    EXPECT_EQ(routed, 1);
}
