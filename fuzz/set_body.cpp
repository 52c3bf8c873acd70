// set.cgi bodies through the whole route: the tokenizer, nested objects,
// "Index" and every setter of the catalogue. Bodies are either the raw input
// or built from the catalogue with the input choosing names, values, quoting
// and nesting. Every answer must be the result object, and every change to
// the store must lie inside a variable whose change event was posted (or be
// the part of a buffer written before a bad digit).
//
// The request handler runs as the service runs it, inside scripts/sandbox:
// the store areas created in the private /dev/shm, a broker stand-in at the
// far end of a socket pair, and one request at a time served over another.
#include "apps/common/event/serverconnection.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "apps/web/service/requesthandler.h"
#include "fuzz/support/socketpair.h"
#include "fuzz/support/target.h"
#include "gen/code/introspection_gen.h"
#include "tools/fcgi-client/records.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class Service {
public:
    // A stretch of an area, in payload bytes.
    struct Change {
        unsigned int area;
        size_t first;
        size_t last;
    };

    Service() {
        if (getenv("SANDBOX_INSIDE") == nullptr) {
            fprintf(stderr, "run inside scripts/sandbox: the target creates the store's shared memory\n");
            abort();
        }
        for (unsigned int area = 0; area < gen::AREA_COUNT; ++area) {
            gen::gAreas[area].create();
            *gen::AREA_POINTERS[area] = gen::gAreas[area].address();
            char* payload = static_cast<char*>(*gen::AREA_POINTERS[area]);
            baseline.emplace_back(payload, payload + gen::gAreas[area].getSize());
        }
        connection = std::make_unique<ServerConnection>(poll, broker.inner);
        gServerConnection = connection.get();
        handler = std::make_unique<RequestHandler>(poll, fcgi);
        fcgi.requestCallback = handler.get();
    }

    // Puts every area back as it was at the start, so inputs do not depend
    // on the ones before them.
    void resetStore() {
        for (unsigned int area = 0; area < gen::AREA_COUNT; ++area)
            memcpy(*gen::AREA_POINTERS[area], baseline[area].data(), baseline[area].size());
        takePosted();
    }

    // The standard output of set.cgi's answer; aborts unless the request was
    // ended. The request comes as records, so its body takes the route's own way.
    std::string serveSet(const std::string& body) {
        fuzzsupport::SocketPair pair;
        auto* request = new Request(&fcgi, pair.inner, static_cast<int>(nextId++));
        std::string pairs =
            fcgiwire::encodePair("SCRIPT_NAME", "/api/v1/set.cgi") + fcgiwire::encodePair("REQUEST_METHOD", "POST");
        FUZZ_EXPECT(pair.send(fcgiwire::begin(1, false) + fcgiwire::stream(fcgiwire::Params, 1, pairs) +
                              fcgiwire::stream(fcgiwire::Stdin, 1, body)),
                    "the request did not fit the socket");
        while (request->fd >= 0 && pair.unread() > 0) request->event(EventPoll::Callback::Readable);
        std::vector<fcgiwire::Record> records;
        std::string received = pair.drain();
        fcgiwire::decode(received, records);
        std::string output;
        bool ended = false;
        for (const auto& record : records) {
            if (record.type == fcgiwire::Stdout) output += record.content;
            ended = ended || record.type == fcgiwire::EndRequest;
        }
        FUZZ_EXPECT(ended, "a request was left without its end record");
        fcgi.cleanup();
        delete request;
        return output;
    }

    std::vector<Notify> takePosted() {
        std::vector<Notify> posted;
        std::string bytes = broker.drain();
        posted.resize(bytes.size() / sizeof(Notify));
        if (!posted.empty()) memcpy(posted.data(), bytes.data(), posted.size() * sizeof(Notify));
        return posted;
    }

    // The payload bytes an event stands for: the element for a list, else the whole variable.
    static Change span(Notify const& event) {
        unsigned int mem = 0, var = 0;
        Introspection::getVarLocation(event, mem, var);
        const VariableInfo& info = Introspection::variable(mem, var);
        size_t size = Introspection::getVarSize(mem, var);
        size_t start = info.offset;
        if (event.flag == 1) {
            size = info.elementSize;
            start += size_t{event.index} * size;
        }
        return {mem, start, start + size - 1};
    }

    // Every changed byte of the store lies inside a variable whose event was
    // posted. The exception: a buffer setter that meets a bad digit keeps the
    // bytes it wrote before it and posts nothing (and set.cgi still answers
    // success, as the setter's text is dropped).
    void expectChangesAnnounced() {
        std::vector<Change> allowed;
        for (Notify const& event : takePosted()) allowed.push_back(span(event));
        for (unsigned int area = 0; area < gen::AREA_COUNT; ++area) {
            const char* now = static_cast<const char*>(*gen::AREA_POINTERS[area]);
            const std::string& before = baseline[area];
            // Compared a stretch at a time: most of the store is untouched,
            // and one uninstrumented comparison says so.
            for (size_t stretch = 0; stretch < before.size(); stretch += STRETCH) {
                size_t end = std::min(before.size(), stretch + STRETCH);
                if (memcmp(now + stretch, before.data() + stretch, end - stretch) == 0) continue;
                for (size_t at = stretch; at < end; ++at) {
                    if (now[at] == before[at]) continue;
                    Change byte{area, at, at};
                    bool announced = insideBuffer(byte);
                    for (const Change& span : allowed) announced = announced || contains(span, byte);
                    FUZZ_EXPECT(announced, "the store changed outside every variable whose event was posted");
                }
            }
        }
    }

    EventPoll poll;
    fuzzsupport::SocketPair broker;

private:
    static constexpr size_t STRETCH = 256;

    static bool contains(const Change& outer, const Change& inner) {
        return outer.area == inner.area && outer.first <= inner.first && inner.last <= outer.last;
    }

    static bool insideBuffer(const Change& change) {
        for (unsigned int var = 0; var < Introspection::getVarCount(change.area); ++var) {
            const VariableInfo& info = Introspection::variable(change.area, var);
            Change buffer{change.area, info.offset, info.offset + Introspection::getVarSize(change.area, var) - 1};
            if (info.baseType == TypeBuffer && contains(buffer, change)) return true;
        }
        return false;
    }

    std::vector<std::string> baseline;
    std::unique_ptr<ServerConnection> connection;
    Fcgi fcgi{0, poll};
    std::unique_ptr<RequestHandler> handler;
    unsigned int nextId = 0;
};

std::string quoted(FuzzedDataProvider& data, const std::string& text) {
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0: return "\"" + text + "\"";
    case 1: return "'" + text + "'";
    case 2: return text;
    default: return "\"" + text;  // unterminated
    }
}

std::string blank(FuzzedDataProvider& data) {
    static const char* const BLANKS[] = {"", "", " ", "\r\n", "\t "};
    return data.PickValueInArray(BLANKS);
}

// A value as the tokenizer and the setters may see one.
std::string valueText(FuzzedDataProvider& data, const char* min, const char* max) {
    static const char* const SPECIAL[] = {"0", "-1", "1e999", "nan", "-2147483649", "4294967296", "true", "false",
                                          "0x10", "", " ", "1.5", "-0", "99999999999999999999", "Warn", "{}"};
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0: return data.PickValueInArray(SPECIAL);
    case 1: return min != nullptr ? min : "0";
    case 2: return max != nullptr ? max : "1";
    default: return data.ConsumeRandomLengthString(80);
    }
}

std::string indexEntry(FuzzedDataProvider& data, const VariableInfo& info) {
    static const char* const WILD[] = {"-1", "x", "99999999999", "2147483648", "", "1.9", " 3"};
    std::string index;
    if (data.ConsumeBool() && info.arrayLength != nullptr)
        index = std::to_string(data.ConsumeIntegralInRange<long>(-1, strtol(info.arrayLength, nullptr, 10)));
    else
        index = data.PickValueInArray(WILD);
    return quoted(data, "Index") + blank(data) + ":" + blank(data) + quoted(data, index);
}

// {"Area": {"Variable": value}} or, for a structure, {"Area": {["Index": n,] "Variable": {"Field": value, ...}}}.
std::string catalogueBody(FuzzedDataProvider& data) {
    unsigned int mem = data.ConsumeIntegralInRange<unsigned int>(0, Introspection::getMemCount() - 1);
    unsigned int var = data.ConsumeIntegralInRange<unsigned int>(0, Introspection::getVarCount(mem) - 1);
    const VariableInfo& info = Introspection::variable(mem, var);
    std::string value;
    if (info.baseType == TypeStruct && info.structInfo != nullptr && !info.structInfo->empty()) {
        value = "{";
        for (int count = data.ConsumeIntegralInRange(0, 4); count > 0; --count) {
            const StructInfo& field = info.structInfo->at(data.ConsumeIntegralInRange<size_t>(0, info.structInfo->size() - 1));
            if (value.size() > 1) value += ",";
            value += blank(data) + quoted(data, field.name) + ":" + blank(data) + quoted(data, valueText(data, nullptr, nullptr));
        }
        value += blank(data) + "}";
    } else {
        value = quoted(data, valueText(data, info.min, info.max));
    }
    std::string inner = quoted(data, info.name) + ":" + blank(data) + value;
    if (data.ConsumeBool()) inner = data.ConsumeBool() ? indexEntry(data, info) + "," + inner : inner + "," + indexEntry(data, info);
    std::string body = "{" + blank(data) + quoted(data, Introspection::getMemName(mem)) + ":" + blank(data) + "{" + inner + "}}";
    if (data.ConsumeProbability<float>() < 0.1f) body = "{\"X\": " + body + "}";  // one level too deep
    if (data.ConsumeProbability<float>() < 0.1f) body.resize(data.ConsumeIntegralInRange<size_t>(0, body.size()));
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static Service service;
    service.resetStore();
    FuzzedDataProvider data(bytes, size);
    std::string body = data.ConsumeBool() ? catalogueBody(data) : data.ConsumeRemainingBytesAsString();

    std::string output = service.serveSet(body);
    std::string header = Request::DEFAULT_HEADER;
    FUZZ_EXPECT(output.starts_with(header), "the answer lacks its header");
    nlohmann::json answer = nlohmann::json::parse(output.substr(header.size()), nullptr, false);
    FUZZ_EXPECT(answer.is_object() && answer.contains("result"), "the answer is not the result object");
    FUZZ_EXPECT(answer["result"] == 1 || (answer["result"] == 0 && answer["error"].is_string()),
                "the result is neither success nor an error text");
    service.expectChangesAnnounced();
    return 0;
}
