// The FastCGI record stream of one connection: records of random types,
// lengths and padding, some cut short or with lying lengths, arrive split at
// random points; parameter records hold name-value pairs of both length forms
// or any bytes. Every request the stream completes or aborts before the first
// record a front server would not send must be answered once, with its own
// parameters and body echoed back, in well-formed records that echo the header
// of the record that completed it; every management record is answered too.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "fuzz/support/target.h"
#include "fuzz/support/socketpair.h"
#include "tools/fcgi-client/records.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace {

using namespace fcgiwire;

// Keeps every answer within the socket's buffer: answers are read after the fact.
constexpr size_t STREAM_LIMIT = 96 * 1024;

struct Expected {
    std::string header;  // the 8 header bytes of the record answered
    std::string output;  // what the echo handler's answer holds
    uint8_t type;        // the end record, or a management answer's type
};

using Pairs = std::map<std::string, std::string>;

// What the echo handler answers: the parameters as pairs in name order, then the body.
std::string echoed(const Pairs& params, const std::string& body) {
    std::string echo;
    for (const auto& [name, value] : params) echo += encodePair(name, value);
    return echo + body;
}

// The pairs of one parameters record up to the first that is cut short,
// empty in both parts or longer than the rest; a later value of a name
// replaces an earlier one.
void readPairs(std::string_view content, Pairs& pairs) {
    for (;;) {
        std::optional<uint32_t> name = decodeLength(content), value = decodeLength(content);
        if (!name || !value || *name + uint64_t{*value} == 0 || *name + uint64_t{*value} > content.size()) return;
        pairs[std::string(content.substr(0, *name))] = content.substr(*name, *value);
        content.remove_prefix(*name + *value);
    }
}

// What the server must make of the stream: only what a front server sends
// passes, judged on each header as it comes; the first record that does not
// closes the connection. The stream is cut where the answers would no longer
// fit in the socket.
std::vector<Expected> expectedAnswers(std::string& stream) {
    enum { Awaiting, InParams, InBody, Closed } where = Awaiting;
    std::vector<Expected> answers;
    size_t answerBytes = 0, paramBytes = 0;
    uint16_t current = 0;
    bool keep = false;
    Pairs params;
    std::string body;
    for (size_t offset = 0; where != Closed && stream.size() - offset >= HEADER_SIZE;) {
        Fields record = decodeHeader(stream.data() + offset);
        bool management = record.version == 1 && record.requestId == 0;
        bool ofRequest = record.version == 1 && record.requestId == current &&
                         (record.type == AbortRequest ||
                          (where == InParams && record.type == Params && paramBytes + record.contentLength <= Request::MAX_PARAMS) ||
                          (where == InBody && record.type == Stdin));
        bool begins = record.version == 1 && record.type == BeginRequest && record.contentLength == BEGIN_BODY_SIZE;
        if (!management && !(where == Awaiting ? begins : ofRequest)) break;
        if (stream.size() - offset < recordSize(record)) break;
        std::string header = stream.substr(offset, HEADER_SIZE);
        std::string content = stream.substr(offset + HEADER_SIZE, record.contentLength);
        std::optional<Expected> answer;
        if (management) {
            answer = Expected{header, "", record.type == GetValues ? GetValuesResult : UnknownType};
        } else if (record.type == BeginRequest) {
            if (decodeBegin(content).role != RESPONDER) break;
            where = InParams;
            current = record.requestId;
            keep = decodeBegin(content).keepConnection;
            params.clear();
            body.clear();
            paramBytes = 0;
        } else if (record.type == AbortRequest) {
            answer = Expected{header, "", EndRequest};
        } else if (record.type == Params) {
            paramBytes += content.size();
            readPairs(content, params);
            if (content.empty()) where = InBody;
        } else if (!content.empty()) {
            body += content;
        } else {
            std::string echo = echoed(params, body);
            answer = Expected{header, echo.empty() ? "" : Request::DEFAULT_HEADER + echo, EndRequest};
        }
        if (answer) {
            answerBytes += answer->output.size() + 64;  // and the headers, padding and end record
            if (answerBytes > fuzzsupport::SocketPair::OUTPUT_ROOM / 2) {
                stream.resize(offset);
                break;
            }
            answers.push_back(*answer);
            if (answer->type == EndRequest) where = keep ? Awaiting : Closed;
        }
        offset += recordSize(record);
    }
    return answers;
}

// Name-value pairs as a front server encodes them.
std::string somePairs(FuzzedDataProvider& data) {
    std::string pairs;
    for (int count = data.ConsumeIntegralInRange(1, 4); count > 0; --count)
        pairs += encodePair(data.ConsumeRandomLengthString(200), data.ConsumeRandomLengthString(300));
    return pairs;
}

// A record as a web server might send it, or one no web server would; now
// and then a whole request, so that a kept connection carries several.
std::string nextRecord(FuzzedDataProvider& data) {
    if (data.ConsumeProbability<float>() < 0.2f) {
        uint16_t id = data.ConsumeIntegralInRange<uint16_t>(1, 3);
        return begin(id, data.ConsumeBool()) + stream(Params, id, somePairs(data)) +
               stream(Stdin, id, data.ConsumeRandomLengthString(300));
    }
    static const uint8_t TYPES[] = {BeginRequest, Params, Stdin, Stdin, AbortRequest, EndRequest, Stdout, 11, 200};
    uint8_t type = data.ConsumeBool() ? data.PickValueInArray(TYPES) : data.ConsumeIntegral<uint8_t>();
    uint16_t requestId = data.ConsumeIntegralInRange<uint16_t>(0, 3);
    std::string content;
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0: content = data.ConsumeRandomLengthString(64); break;
    case 1:  // a long one without spending input on it
        content.assign(data.ConsumeIntegralInRange<size_t>(0, 65535), static_cast<char>(data.ConsumeIntegral<uint8_t>()));
        break;
    case 2: content = std::string("\0\1\1\0\0\0\0\0", 8).substr(0, data.ConsumeIntegralInRange(0, 8)); break;
    default: content = somePairs(data); break;
    }
    if (type == BeginRequest && data.ConsumeBool()) content = begin(requestId, data.ConsumeBool()).substr(HEADER_SIZE);
    std::string bytes = record(type, requestId, content, data.ConsumeBool() ? data.ConsumeIntegral<uint8_t>() : 0);
    bytes[0] = data.ConsumeProbability<float>() < 0.9f ? 1 : static_cast<char>(data.ConsumeIntegral<uint8_t>());
    bytes[7] = data.ConsumeProbability<float>() < 0.9f ? 0 : static_cast<char>(data.ConsumeIntegral<uint8_t>());
    if (data.ConsumeProbability<float>() < 0.05f) bytes.resize(data.ConsumeIntegralInRange<size_t>(0, bytes.size()));
    return bytes;
}

class Echo : public Fcgi::RequestCallback {
public:
    // Written in pieces through output() so that long answers leave in several flushes.
    void handleRequest(Request* request) override {
        const std::string body = echoed(request->params, request->postData);
        for (size_t offset = 0; offset < body.size(); offset += 5000) request->output() << body.substr(offset, 5000);
        request->end();
    }
};


void checkAnswers(const std::string& received, const std::vector<Expected>& expected) {
    std::vector<Record> records;
    FUZZ_EXPECT(decode(received, records) == received.size(), "answer ends inside a record");
    size_t answer = 0;
    std::string output;
    for (const Record& record : records) {
        FUZZ_EXPECT(answer < expected.size(), "more answers than completed requests");
        const std::string& echo = expected[answer].header;
        FUZZ_EXPECT(record.version == static_cast<uint8_t>(echo[0]), "version not echoed");
        FUZZ_EXPECT(record.requestId == (static_cast<uint8_t>(echo[2]) << 8 | static_cast<uint8_t>(echo[3])),
               "request id not echoed");
        FUZZ_EXPECT((record.content.size() + record.padding) % 8 == 0, "record not padded to 8 bytes");
        if (record.type == Stdout) {
            output += record.content;
        } else if (record.type == expected[answer].type) {
            if (record.type == EndRequest) FUZZ_EXPECT(record.content == std::string(8, '\0'), "end record body not zero");
            FUZZ_EXPECT(output == expected[answer].output, "parameters or body not echoed intact");
            output.clear();
            ++answer;
        } else {
            FUZZ_EXPECT(record.type == Stderr, "unexpected record type in an answer");
        }
    }
    FUZZ_EXPECT(answer == expected.size() && output.empty(), "a completed request was not answered");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static EventPoll poll;
    static Fcgi fcgi(0, poll);  // any free port: connections come from socket pairs here
    static Echo echo;
    static unsigned int nextId = 0;
    fcgi.requestCallback = &echo;

    FuzzedDataProvider data(bytes, size);
    std::string stream;
    while (data.remaining_bytes() > 0 && stream.size() < STREAM_LIMIT) stream += nextRecord(data);
    if (stream.size() > STREAM_LIMIT) stream.resize(STREAM_LIMIT);

    std::vector<Expected> expected = expectedAnswers(stream);
    fuzzsupport::SocketPair pair;
    auto* request = new Request(&fcgi, pair.inner, static_cast<int>(nextId++));
    std::string received;
    for (size_t offset = 0; offset < stream.size() && request->fd >= 0;) {
        size_t piece = std::min(stream.size() - offset, 1 + static_cast<size_t>(bytes[offset % size]) * 300);
        if (!pair.send(std::string_view(stream).substr(offset, piece))) break;
        offset += piece;
        // The poll reports the socket as long as it holds unread bytes.
        while (request->fd >= 0 && pair.unread() > 0) request->event(EventPoll::Callback::Readable);
        received += pair.drain();
    }
    checkAnswers(received + pair.drain(), expected);

    // The peer hangs up; the listener forgets the request at its next cleanup.
    pair.closeOuter();
    if (request->fd >= 0) request->event(EventPoll::Callback::Hangup);
    fcgi.cleanup();
    delete request;
    return 0;
}
