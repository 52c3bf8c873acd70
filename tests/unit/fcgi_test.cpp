// The FastCGI server through real loopback connections: clients run in a
// thread while this thread drives the event loop like the service does.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "support/kmsg.h"
#include "tools/fcgi-client/connection.h"
#include "tools/fcgi-client/records.h"

#include <dirent.h>
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
        bool hadUserData;
    };

    void handleRequest(Request* request) override {
        seen.push_back({request->id, request->params, request->postData, request->keepConnection,
                        request->userData.has_value()});
        answer(request);
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
    std::vector<Seen> seen;

    void SetUp() override { fcgi->requestCallback = this; }
};

TEST_F(FcgiServer, ParamsUseOneAndFourByteLengthsAndLaterValuesReplace) {
    std::string longName(200, 'N'), value127(127, 'v'), value128(128, 'w');
    std::string first = fcgiwire::pair(longName, value127) + fcgiwire::pair("A", "1");
    std::string second = fcgiwire::pair("B", value128) + fcgiwire::pair("A", "2");
    std::string bytes = fcgiwire::begin(1, false) + fcgiwire::record(fcgiwire::Params, 1, first) +
                        fcgiwire::record(fcgiwire::Params, 1, second, 5) + request(1, "").substr(16);
    ASSERT_EQ(fcgiwire::length(200).size(), 4u);
    withClient([&] { return exchange(bytes); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].params, (Params{{longName, value127}, {"A", "2"}, {"B", value128}}));
}

TEST_F(FcgiServer, MalformedPairsEndTheirRecordButKeepEarlierPairs) {
    std::string bothEmpty = fcgiwire::pair("A", "1") + std::string(2, '\0') + fcgiwire::pair("X", "x");
    std::string tooLong = fcgiwire::pair("B", "2") + fcgiwire::length(50) + fcgiwire::length(1) + "short";
    // Each length fits, their sum does not fit an int.
    std::string overflowing = fcgiwire::pair("C", "3") + fcgiwire::length(0x7fffffff) + fcgiwire::length(0x7fffffff) + "z";
    std::string cutLength = fcgiwire::pair("D", "4") + "\x80\x00";
    std::string bytes = fcgiwire::begin(1, false);
    for (const auto& content : {bothEmpty, tooLong, overflowing, cutLength})
        bytes += fcgiwire::record(fcgiwire::Params, 1, content);
    bytes += fcgiwire::record(fcgiwire::Params, 1, "") + fcgiwire::record(fcgiwire::Stdin, 1, "");
    Answer answer = withClient([&] { return exchange(bytes); });
    EXPECT_EQ(answer.status, fcgiwire::ANSWERED);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].params, (Params{{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}}));
}

TEST_F(FcgiServer, BodyKeepsEveryByteAcrossPaddedRecords) {
    std::string body;
    for (int i = 0; i < 200000; ++i) body += static_cast<char>(i * 7 % 256);
    std::string bytes = fcgiwire::begin(1, false) + fcgiwire::stream(fcgiwire::Params, 1, fcgiwire::pair("S", "1"));
    for (size_t offset = 0; offset < body.size(); offset += 65535)
        bytes += fcgiwire::record(fcgiwire::Stdin, 1, body.substr(offset, 65535), offset % 255);
    bytes += fcgiwire::record(fcgiwire::Stdin, 1, "");
    withClient([&] { return exchange(bytes); });
    withClient([&] { return exchange(request(2, fcgiwire::pair("GET", "1"))); });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].body == body);
    EXPECT_EQ(seen[1].body, "");
}

TEST_F(FcgiServer, RecordsArrivingInPiecesKeepTheirFraming) {
    std::string bytes = request(1, fcgiwire::pair("SCRIPT_NAME", "/slow"), "body");
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

TEST_F(FcgiServer, UnknownAndIgnoredRecordsAreSkippedAndOtherRolesServed) {
    std::string bytes = fcgiwire::begin(1, false, 3) + fcgiwire::record(11, 1, "unknown", 1);
    for (uint8_t type : {2, 3, 6, 7, 8, 9, 10}) bytes += fcgiwire::record(type, 1, "ignored");
    bytes += request(1, fcgiwire::pair("A", "1")).substr(16);
    Answer answer = withClient([&] { return exchange(bytes); });
    EXPECT_EQ(answer.status, fcgiwire::ANSWERED);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].params, (Params{{"A", "1"}}));
}

TEST_F(FcgiServer, OutputIsPaddedToEightAndSplitAt65528) {
    auto recordsFor = [&](size_t size) {
        answer = [size](Request* request) {
            request->writeHeader("");
            request->output() << std::string(size, 'o');
            request->end();
        };
        return withClient([] { return exchange(request(513, "")); }).records;
    };
    auto hundred = recordsFor(100);
    ASSERT_EQ(hundred.size(), 2u);
    EXPECT_EQ(hundred[0].type, fcgiwire::Stdout);
    EXPECT_EQ(hundred[0].content.size(), 100u);
    EXPECT_EQ(hundred[0].padding, 4);
    EXPECT_EQ(hundred[0].requestId, 513);

    auto exact = recordsFor(65528);
    ASSERT_EQ(exact.size(), 2u);
    EXPECT_EQ(exact[0].content.size(), 65528u);
    EXPECT_EQ(exact[0].padding, 0);

    auto split = recordsFor(65529);
    ASSERT_EQ(split.size(), 3u);
    EXPECT_EQ(split[0].content.size(), 65528u);
    EXPECT_EQ(split[0].padding, 0);
    EXPECT_EQ(split[1].content.size(), 1u);
    EXPECT_EQ(split[1].padding, 7);
    EXPECT_EQ(split[2].type, fcgiwire::EndRequest);
    EXPECT_EQ(split[2].content, std::string(8, '\0'));
    EXPECT_EQ(split[2].requestId, 513);
}

TEST_F(FcgiServer, DefaultHeaderOnlyWhenOutputIsUsedAndLongOutputLeavesInPieces) {
    answer = [](Request* request) { request->end(); };
    auto silent = withClient([] { return exchange(request(1, "")); });
    ASSERT_EQ(silent.records.size(), 1u);
    EXPECT_EQ(silent.records[0].type, fcgiwire::EndRequest);

    answer = [](Request* request) {
        request->output() << std::string(9000, 'a');
        request->output() << "tail";  // more than 8192 bytes wait: they leave first
        request->end();
    };
    auto pieces = withClient([] { return exchange(request(1, "")); });
    ASSERT_EQ(pieces.records.size(), 3u);
    EXPECT_EQ(pieces.records[0].content, std::string(Request::DEFAULT_HEADER) + std::string(9000, 'a'));
    EXPECT_EQ(pieces.records[1].content, "tail");
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
        connection.send(request(1, fcgiwire::pair("FIRST", "1"), "one", true));
        answers.push_back(connection.receive());
        // Decoded into the first request's parameter storage: a repeated name still replaces.
        connection.send(request(2, fcgiwire::pair("SECOND", "1") + fcgiwire::pair("SECOND", "2"), "", true));
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

TEST_F(FcgiServer, AnsweredConnectionWithoutKeepIsClosedAndDeleted) {
    int before = openDescriptors();
    auto answer = withClient([] {
        Connection connection("127.0.0.1", PORT, 5000);
        connection.send(request(1, ""));
        Answer first = connection.receive();
        return std::make_pair(first.status, connection.receive().status);
    });
    EXPECT_EQ(answer.first, fcgiwire::ANSWERED);
    EXPECT_EQ(answer.second, fcgiwire::CLOSED);
    EXPECT_TRUE(fcgi->requests.empty());
    EXPECT_EQ(fcgi->request(0), nullptr);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(FcgiServer, PeersLeavingMidRequestFreeEverything) {
    int before = openDescriptors();
    std::string partial = request(1, fcgiwire::pair("A", "1"), "body").substr(0, 30);
    kmsg::Cursor cursor;
    withClient([&] {
        Connection hangsUp("127.0.0.1", PORT, 5000);  // closes mid-record
        hangsUp.send(partial);
        Connection halfCloses("127.0.0.1", PORT, 5000);
        halfCloses.send(partial);
        halfCloses.halfClose();
        return halfCloses.receive().status;
    });
    for (int i = 0; i < 5; ++i) serve(10);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(cursor.count("no longer a valid request, though marked for deletion."), 2u);
}

TEST_F(FcgiServer, EndAndRemovalTwiceAreHarmless) {
    answer = [this](Request* request) {
        request->output() << "once";
        request->end();
        request->end();
        fcgi->removeRequest(request);
    };
    kmsg::Cursor cursor;
    Answer answer = withClient([] { return exchange(request(1, "")); });
    EXPECT_EQ(answer.status, fcgiwire::ANSWERED);
    EXPECT_EQ(answer.records.size(), 2u);
    EXPECT_EQ(cursor.count("Request 0 no longer a valid request, though marked for deletion."), 1u);
    EXPECT_TRUE(fcgi->requests.empty());
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

TEST_F(FcgiServer, ClientThatStopsReadingDoesNotStopTheOthers) {
    answer = [](Request* request) {
        request->writeHeader("");
        request->output() << std::string(32 << 20, 'x');
        request->end();
    };
    Connection stalled("127.0.0.1", PORT, 5000);
    stalled.send(request(1, ""));
    for (int i = 0; i < 10 && seen.empty(); ++i) serve(100);  // answering it gives up on the send
    ASSERT_EQ(seen.size(), 1u);
    answer = [](Request* request) { request->end(); };
    EXPECT_EQ(withClient([] { return exchange(request(1, "")); }).status, fcgiwire::ANSWERED);
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

}  // namespace
