// The FastCGI record stream of one connection: records of random types,
// lengths and padding, some cut short or with lying lengths, whole requests
// now and then, arriving split at random points. Whatever comes, the service
// stays, and what it sends back is whole records padded to 8 bytes whose end
// records carry the request-complete status.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/request.h"
#include "fuzz/support/target.h"
#include "fuzz/support/socketpair.h"
#include "tools/fcgi-client/records.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace fcgiwire;

// Keeps every answer within the socket's buffer: answers are read after the fact.
constexpr size_t STREAM_LIMIT = 96 * 1024;

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

// Answers with the request's parameters and body, written in pieces through
// output() so that long answers leave in several flushes.
class Echo : public Fcgi::RequestCallback {
public:
    void handleRequest(Request* request) override {
        std::string body = request->postData;
        for (const auto& [name, value] : request->params) body += encodePair(name, value);
        for (size_t offset = 0; offset < body.size(); offset += 5000) request->output() << body.substr(offset, 5000);
        request->end();
    }
};

void checkAnswers(const std::string& received) {
    std::vector<Record> records;
    FUZZ_EXPECT(decode(received, records) == received.size(), "answer ends inside a record");
    for (const Record& record : records) {
        FUZZ_EXPECT(record.version == 1, "not a version 1 record");
        FUZZ_EXPECT((record.content.size() + record.padding) % 8 == 0, "record not padded to 8 bytes");
        if (record.type == EndRequest) FUZZ_EXPECT(record.content == std::string(8, '\0'), "end record body not zero");
    }
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
    checkAnswers(received + pair.drain());

    // The peer hangs up; the listener forgets the request at its next cleanup.
    pair.closeOuter();
    if (request->fd >= 0) request->event(EventPoll::Callback::Hangup);
    fcgi.cleanup();
    delete request;
    return 0;
}
