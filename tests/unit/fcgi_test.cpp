// The FastCGI server through real loopback connections: clients run in a
// thread while this thread drives the event loop like the service does.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "support/kmsg.h"
#include "tools/fcgi-client/connection.h"
#include "tools/fcgi-client/records.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using fcgiwire::Answer;
using fcgiwire::Connection;
using Params = std::map<std::string, std::string>;

constexpr int PORT = 9000;

size_t peakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6));
    return 0;
}

int openDescriptors() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (readdir(folder)) ++count;
    closedir(folder);
    return count;
}

std::string request(uint16_t id, const std::string& params, const std::string& body = "", bool keep = false) {
    return fcgiwire::begin(id, keep) + fcgiwire::stream(fcgiwire::Params, id, params) +
           fcgiwire::stream(fcgiwire::Stdin, id, body);
}

class FcgiServer : public ::testing::Test, public Fcgi::RequestCallback {
protected:
    struct Seen {
        unsigned int connection;
        Params params;
        std::string body;
        bool keep;
    };

    void handleRequest(Request* request) override {
        seen.push_back({request->id, request->params, request->postData, request->keepConnection});
        answer(request);
    }

    std::unique_ptr<BodyConsumer> bodyConsumer(Request& request) override {
        return consumer ? consumer(request) : nullptr;
    }

    // Runs the client in a thread and serves it from here until it is done.
    template <typename Client>
    auto withClient(Client client) {
        auto done = std::async(std::launch::async, client);
        while (done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) serve(10);
        serve(0);
        return done.get();
    }

    void serve(int timeoutMs) {
        poll.wait(timeoutMs, true);
        fcgi->cleanup();
    }

    static Answer exchange(const std::string& bytes) {
        Connection connection("127.0.0.1", PORT, 5000);
        connection.send(bytes);
        return connection.receive();
    }

    EventPoll poll;
    std::unique_ptr<Fcgi> fcgi = std::make_unique<Fcgi>(PORT, poll);
    std::function<void(Request*)> answer = [](Request* request) { request->end(); };
    std::function<std::unique_ptr<BodyConsumer>(Request&)> consumer;
    std::vector<Seen> seen;

    void SetUp() override { fcgi->requestCallback = this; }
};

// One- and four-byte lengths, later values replacing earlier ones, padding;
// a malformed pair ends its record but keeps the pairs before it.
TEST_F(FcgiServer, ParamsAreDecodedAcrossRecordsAndMalformedPairsEndOnlyTheirRecord) {
    using fcgiwire::encodeLength, fcgiwire::encodePair;
    std::string longName(200, 'N'), value127(127, 'v'), value128(128, 'w');
    std::string bytes = fcgiwire::begin(1, false) +
                        fcgiwire::record(fcgiwire::Params, 1, encodePair(longName, value127) + encodePair("A", "1")) +
                        fcgiwire::record(fcgiwire::Params, 1, encodePair("B", value128) + encodePair("A", "2"), 5);
    for (const std::string& content :
         {encodePair("C", "3") + std::string(2, '\0') + encodePair("X", "x"),     // both lengths empty
          encodePair("D", "4") + encodeLength(50) + encodeLength(1) + "short",    // longer than the record
          encodePair("E", "5") + encodeLength(0x7fffffff) + encodeLength(0x7fffffff) + "z",  // sum over an int
          encodePair("F", "6") + "\x80"})                                          // a length cut short
        bytes += fcgiwire::record(fcgiwire::Params, 1, content);
    bytes += fcgiwire::record(fcgiwire::Params, 1, "") + fcgiwire::record(fcgiwire::Stdin, 1, "");
    EXPECT_EQ(withClient([&] { return exchange(bytes); }).status, fcgiwire::ANSWERED);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].params, (Params{{longName, value127}, {"A", "2"}, {"B", value128}, {"C", "3"}, {"D", "4"},
                                      {"E", "5"}, {"F", "6"}}));
}

// What a front server does not send closes the connection unanswered, with
// no route run; management records and aborts are answered. Each row's
// connection is closed at the end, by the door or for want of the keep flag.
TEST_F(FcgiServer, TheDoorAdmitsOnlyWhatAFrontServerSends) {
    using namespace fcgiwire;
    answer = [](Request* request) {
        if (request->params["SCRIPT_NAME"] == "/hold") return;  // held, as update requests are
        request->end();
    };
    const std::string go = request(1, "");
    const std::string head = begin(1, false) + stream(fcgiwire::Params, 1, "");
    const std::string hold = request(1, encodePair("SCRIPT_NAME", "/hold"));
    std::string wanted = encodePair("FCGI_MAX_CONNS", "") + encodePair("FCGI_MAX_REQS", "") + encodePair("FCGI_MPXS_CONNS", "");
    std::string values = encodePair("FCGI_MAX_CONNS", "32") + encodePair("FCGI_MAX_REQS", "32") + encodePair("FCGI_MPXS_CONNS", "0");
    std::string set = request(1, "", "{}", true);
    std::string post = "POST /api/v1/set.cgi HTTP/1.1\r\nHost: device\r\nContent-Length: " + std::to_string(go.size()) +
                       "\r\n\r\n" + go;
    std::string version2 = go;
    version2[0] = 2;
    struct Row {
        const char* name;
        std::string bytes;
        std::vector<uint8_t> answer;  // the types of the records answered
        size_t routed;
    };
    const std::vector<Row> rows = {
        {"a plain request", go, {EndRequest}, 1},
        {"an HTTP request carrying records", post, {}, 0},
        {"version 2", version2, {}, 0},
        {"parameters first", stream(fcgiwire::Params, 1, "") + go, {}, 0},
        {"another role", begin(1, false, 3) + go.substr(16), {}, 0},
        {"a second begin", begin(1, false) + go, {}, 0},
        {"another request id", begin(1, false) + stream(fcgiwire::Params, 2, "") + stream(Stdin, 1, ""), {}, 0},
        {"parameters over 64 KB", begin(1, false) + stream(fcgiwire::Params, 1, std::string(70000, 'p'), 40000), {}, 0},
        {"an unknown type", head + record(11, 1, "") + stream(Stdin, 1, ""), {}, 0},
        {"body before the parameters end", begin(1, false) + stream(Stdin, 1, ""), {}, 0},
        {"a route run once for three body ends", set + record(Stdin, 1, "") + record(Stdin, 1, ""), {EndRequest}, 1},
        {"values asked", record(GetValues, 0, wanted) + go, {GetValuesResult, EndRequest}, 1},
        {"another management record", record(fcgiwire::Params, 0, "") + go, {UnknownType, EndRequest}, 1},
        {"aborted while its body comes", head + record(Stdin, 1, "part") + record(AbortRequest, 1, ""), {EndRequest}, 0},
        {"aborted while held", hold + record(AbortRequest, 1, ""), {EndRequest}, 1},
    };
    for (const Row& row : rows) {
        seen.clear();
        auto [answered, then] = withClient([&] {
            Connection connection("127.0.0.1", PORT, 5000);
            connection.send(row.bytes);
            Answer first = connection.receive();
            return std::make_pair(first, connection.receive().status);
        });
        std::vector<uint8_t> types;
        for (const Record& record : answered.records) types.push_back(record.type);
        EXPECT_EQ(types, row.answer) << row.name;
        EXPECT_EQ(then, CLOSED) << row.name;
        EXPECT_EQ(seen.size(), row.routed) << row.name;
        if (row.answer.size() < 2) continue;
        EXPECT_EQ(answered.records[0].requestId, 0) << row.name;
        EXPECT_EQ(answered.records[0].content, row.answer[0] == GetValuesResult ? values : std::string("\4\0\0\0\0\0\0\0", 8));
    }
}

TEST_F(FcgiServer, RecordsArrivingInPiecesKeepTheirFraming) {
    std::string bytes = request(1, fcgiwire::encodePair("SCRIPT_NAME", "/slow"), "body");
    withClient([&] {
        Connection connection("127.0.0.1", PORT, 5000);
        for (char byte : bytes) {
            connection.send(std::string(1, byte));
            usleep(1000);
        }
        return connection.receive();
    });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].params["SCRIPT_NAME"], "/slow");
    EXPECT_EQ(seen[0].body, "body");
}

// A route that writes nothing sends no header either.
TEST_F(FcgiServer, OutputIsPaddedToEightAndSplitAt65528) {
    // Output size -> the (content size, padding) of each stdout record.
    const std::map<size_t, std::vector<std::pair<size_t, int>>> cases = {
        {0, {}}, {100, {{100, 4}}}, {65528, {{65528, 0}}}, {65529, {{65528, 0}, {1, 7}}}};
    for (const auto& [size, expected] : cases) {
        answer = [size](Request* request) {
            if (size > 0) {
                request->writeHeader("");
                request->output() << std::string(size, 'o');
            }
            request->end();
        };
        auto records = withClient([] { return exchange(request(513, "")); }).records;
        ASSERT_EQ(records.size(), expected.size() + 1) << size;
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(records[i].type, fcgiwire::Stdout);
            EXPECT_EQ(std::make_pair(records[i].content.size(), int(records[i].padding)), expected[i]) << size;
        }
        EXPECT_EQ(records.back().type, fcgiwire::EndRequest);
        EXPECT_EQ(records.back().content, std::string(8, '\0'));
        for (const auto& record : records) EXPECT_EQ(record.requestId, 513);
    }
}

TEST_F(FcgiServer, KeptConnectionServesFreshRequestsAndEndClearsTheMark) {
    answer = [](Request* request) {
        bool marked = request->userData.has_value();
        request->userData = 0;
        request->output() << (marked ? "marked" : "clean");
        request->end();
    };
    auto answers = withClient([] {
        Connection connection("127.0.0.1", PORT, 5000);
        std::vector<Answer> answers;
        connection.send(request(1, fcgiwire::encodePair("FIRST", "1"), "one", true));
        answers.push_back(connection.receive());
        // Decoded into the first request's parameter storage: a repeated name still replaces.
        connection.send(request(2, fcgiwire::encodePair("SECOND", "1") + fcgiwire::encodePair("SECOND", "2"), "", true));
        answers.push_back(connection.receive());
        return answers;
    });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].connection, seen[1].connection);
    EXPECT_EQ(seen[1].params, (Params{{"SECOND", "2"}}));
    EXPECT_EQ(seen[1].body, "");
    EXPECT_TRUE(seen[1].keep);
    EXPECT_EQ(answers[1].output, std::string(Request::DEFAULT_HEADER) + "clean");
    EXPECT_EQ(answers[1].records.back().requestId, 2);
}

TEST_F(FcgiServer, AnswerWithoutKeepClosesAndFreesEvenWhenEndedAndRemovedTwice) {
    answer = [this](Request* request) {
        request->output() << "once";
        request->end();
        request->end();
        fcgi->closed(*request);
    };
    int before = openDescriptors();
    kmsg::Cursor cursor;
    auto answers = withClient([] {
        Connection connection("127.0.0.1", PORT, 5000);
        connection.send(request(1, ""));
        Answer first = connection.receive();
        return std::make_pair(first, connection.receive().status);
    });
    EXPECT_EQ(answers.first.status, fcgiwire::ANSWERED);
    EXPECT_EQ(answers.first.records.size(), 2u);
    EXPECT_EQ(answers.second, fcgiwire::CLOSED);
    EXPECT_EQ(cursor.count("Request 0 no longer a valid request, though marked for deletion."), 1u);
    EXPECT_TRUE(fcgi->requests.empty());
    EXPECT_EQ(fcgi->request(0), nullptr);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(FcgiServer, FullTableClosesNewConnectionsUntilOneLeaves) {
    answer = [](Request*) {};  // hold every request, as long polls do
    auto held = withClient([] {
        std::vector<std::unique_ptr<Connection>> connections;
        for (size_t i = 0; i < Fcgi::MAX_REQUESTS; ++i) {
            connections.push_back(std::make_unique<Connection>("127.0.0.1", PORT, 5000));
            connections.back()->send(request(1, "", "", true));
            usleep(2000);
        }
        return connections;
    });
    for (int i = 0; i < 20 && fcgi->requests.size() < Fcgi::MAX_REQUESTS; ++i) serve(10);
    ASSERT_EQ(fcgi->requests.size(), Fcgi::MAX_REQUESTS);
    EXPECT_EQ(withClient([] { return exchange(request(1, "")); }).status, fcgiwire::CLOSED);

    held.pop_back();  // one client hangs up
    for (int i = 0; i < 5; ++i) serve(10);
    answer = [](Request* request) { request->end(); };
    EXPECT_EQ(withClient([] { return exchange(request(1, "")); }).status, fcgiwire::ANSWERED);
}

// Their answers wait in their queues, larger than any socket buffer, while
// a held request's answer goes out at once.
TEST_F(FcgiServer, ReadersThatStopReadingDoNotStopAPush) {
    constexpr size_t STALLED = 16;
    answer = [](Request* request) {
        if (request->params["SCRIPT_NAME"] == "/hold") {
            request->userData = 0;
            return;
        }
        request->writeHeader("");
        request->output() << std::string(8 << 20, 'x');
        request->end();
    };
    std::vector<std::unique_ptr<Connection>> stalled;
    Connection follower("127.0.0.1", PORT, 5000);
    follower.send(request(1, fcgiwire::encodePair("SCRIPT_NAME", "/hold"), "", true));
    withClient([&] {
        for (size_t i = 0; i < STALLED; ++i) {
            stalled.push_back(std::make_unique<Connection>("127.0.0.1", PORT, 5000));
            stalled.back()->send(request(1, "", "", true));
        }
    });
    for (int i = 0; i < 200 && seen.size() < STALLED + 1; ++i) serve(10);
    ASSERT_EQ(seen.size(), STALLED + 1);
    auto held = std::find_if(fcgi->requests.begin(), fcgi->requests.end(),
                             [](const auto& entry) { return entry.second->userData.has_value(); })->second;
    held->end();  // the push
    EXPECT_EQ(withClient([&] { return follower.receive(); }).status, fcgiwire::ANSWERED);
    for (const auto& [id, request] : fcgi->requests)
        EXPECT_TRUE(request == held || (request->isOpen() && request->queuedBytes() > 0)) << id;
}

TEST_F(FcgiServer, DescriptorShortagePausesAcceptingWithoutEndingTheService) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
#endif
    Connection waiting("127.0.0.1", PORT, 5000);
    waiting.send(request(1, ""));
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    int lowestFree = dup(0);
    close(lowestFree);
    tight.rlim_cur = lowestFree;  // no room for the accepted socket
    kmsg::Cursor cursor;
    setrlimit(RLIMIT_NOFILE, &tight);
    int first = poll.wait(1000, true);
    int second = poll.wait(50, true);  // the listener is paused, so nothing is reported again
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(first, EventPoll::EventsHandled);
    EXPECT_EQ(second, EventPoll::Timeout);
    EXPECT_EQ(cursor.count("accept: Too many open files"), 1u);
    usleep((Fcgi::ACCEPT_PAUSE.count() + 20) * 1000);
    for (int i = 0; i < 10 && seen.empty(); ++i) serve(50);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(waiting.receive().status, fcgiwire::ANSWERED);
}

TEST_F(FcgiServer, ShutdownEndsHeldRequestsAndFreesEveryConnection) {
    answer = [](Request* request) { request->userData = 0; };
    int before = openDescriptors();
    Connection held("127.0.0.1", PORT, 5000);
    held.send(request(1, "", "", true));
    Connection incomplete("127.0.0.1", PORT, 5000);
    incomplete.send(fcgiwire::begin(1, false));
    for (int i = 0; i < 20 && seen.empty(); ++i) serve(10);
    ASSERT_EQ(seen.size(), 1u);
    fcgi.reset();
    Answer answer = held.receive();
    EXPECT_EQ(answer.status, fcgiwire::ANSWERED);
    EXPECT_EQ(openDescriptors(), before + 2 - 1);  // the two client ends stay; the listener is gone
}

// Refused before any route sees it, whether the size is announced or only
// shows while the body arrives.
TEST_F(FcgiServer, OversizeBodiesAreRefusedUnroutedAndNotKept) {
    // The body in records of the largest size, one at a time.
    auto send = [&](const std::string& contentLength, size_t bodySize) {
        return withClient([&] {
            Connection connection("127.0.0.1", PORT, 60000);
            connection.send(fcgiwire::begin(1, false) +
                            fcgiwire::stream(fcgiwire::Params, 1, fcgiwire::encodePair("CONTENT_LENGTH", contentLength)));
            for (size_t sent = 0; sent < bodySize; sent += fcgiwire::MAX_CONTENT)
                connection.send(fcgiwire::record(fcgiwire::Stdin, 1,
                                                 std::string(std::min<size_t>(bodySize - sent, fcgiwire::MAX_CONTENT), 'x')));
            connection.send(fcgiwire::record(fcgiwire::Stdin, 1, ""));
            return connection.receive().output;
        });
    };
    const std::string refused = std::string(Request::DEFAULT_HEADER) + Request::BODY_TOO_LARGE;
    EXPECT_EQ(send(std::to_string(Request::MAX_BODY + 1), 4), refused);

    // Announced small, sent at twice the limit: memory stays well below the
    // body's size (how far depends on how the allocator grows the buffer).
    [[maybe_unused]] size_t peakBefore = peakResidentKb();
    EXPECT_EQ(send("10", 2 * Request::MAX_BODY), refused);
#ifndef __SANITIZE_ADDRESS__  // its quarantine keeps every freed buffer of the refused body's growth
    EXPECT_LT(peakResidentKb() - peakBefore, Request::MAX_BODY / 1024 * 7 / 4);
#endif
    EXPECT_EQ(send("10", Request::MAX_BODY + 1), refused);
    EXPECT_TRUE(seen.empty());

    EXPECT_EQ(send(std::to_string(Request::MAX_BODY), Request::MAX_BODY), "");
    EXPECT_EQ(seen.size(), 1u);
}

// Counts what it was given and whether it still exists.
struct Recorder : BodyConsumer {
    Recorder(std::string& taken, int& alive) : taken(taken), alive(alive) { ++alive; }
    ~Recorder() override { --alive; }
    void take(std::string_view bytes) override { taken.append(bytes); }
    std::string& taken;
    int& alive;
};

// However large the body, none of it is collected; the consumer lasts until
// the route has run, or until its connection goes mid-body.
TEST_F(FcgiServer, AChosenConsumerTakesTheBodyAsItArrivesAndOnlyUntilTheRoute) {
    std::string taken;
    int alive = 0, aliveAtRoute = 0, created = 0;
    consumer = [&](Request&) {
        ++created;
        return std::make_unique<Recorder>(taken, alive);
    };
    answer = [&](Request* request) {
        aliveAtRoute = alive;
        request->end();
    };
    std::string body(3 * fcgiwire::MAX_CONTENT + 5, 'b');
    std::string params = fcgiwire::encodePair("CONTENT_LENGTH", std::to_string(Request::MAX_BODY * 4));
    EXPECT_EQ(withClient([&] { return exchange(request(1, params, body)); }).status, fcgiwire::ANSWERED);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].body, "");
    EXPECT_EQ(taken, body);
    EXPECT_EQ(aliveAtRoute, 1);
    EXPECT_EQ(alive, 0);

    withClient([&] {
        Connection gone("127.0.0.1", PORT, 5000);
        return gone.send(fcgiwire::begin(1, false) + fcgiwire::stream(fcgiwire::Params, 1, params) +
                         fcgiwire::record(fcgiwire::Stdin, 1, "part of it"));
    });
    for (int i = 0; i < 100 && (created < 2 || alive > 0); ++i) serve(10);
    EXPECT_EQ(created, 2);
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
