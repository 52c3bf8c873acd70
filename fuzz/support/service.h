#pragma once
// The request handler as the service runs it, inside scripts/sandbox: the 18
// store areas created in the private /dev/shm, a broker stand-in at the far
// end of a socket pair, the display stand-in (the targets link tools/fbstub,
// which answers the framebuffer requests for a regular /dev/fb0), and one
// request at a time served over another socket pair.
// Tells what a request changed in the store and which events it announced.
#include "apps/common/event/serverconnection.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "apps/web/service/requesthandler.h"
#include "fuzz/support/target.h"
#include "fuzz/support/socketpair.h"
#include "gen/code/introspection_gen.h"
#include "tools/fbstub/geometry.h"
#include "tools/fcgi-client/records.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fuzzsupport {

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
        makeDisplay();
        for (unsigned int area = 0; area < gen::AREA_COUNT; ++area) {
            gen::gAreas[area].create();
            *gen::AREA_POINTERS[area] = gen::gAreas[area].address();
            char* payload = static_cast<char*>(*gen::AREA_POINTERS[area]);
            baseline.emplace_back(payload, payload + gen::gAreas[area].getSize());
        }
        connection = std::make_unique<ServerConnection>(poll, broker.inner);
        broker.releaseInner();
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

    // The standard output of the answer; aborts unless the request was ended.
    // The request comes as records, so its body takes the route's own way.
    std::string serve(const std::map<std::string, std::string>& params, const std::string& body) {
        SocketPair pair;
        auto* request = new Request(&fcgi, pair.inner, static_cast<int>(nextId++));
        pair.releaseInner();
        std::string pairs;
        for (const auto& [name, value] : params) pairs += fcgiwire::encodePair(name, value);
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
    SocketPair broker;

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

    static void makeDisplay() {
        StandInGeometry geometry;
        std::string device = standInDevice();
        int fd = open(device.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        off_t size = off_t{geometry.xresVirtual} * geometry.yresVirtual * geometry.bitsPerPixel / 8;
        FUZZ_EXPECT(fd >= 0 && ftruncate(fd, size) == 0 && writeGeometry(device, geometry), "no display stand-in");
        close(fd);
    }

    std::vector<std::string> baseline;
    std::unique_ptr<ServerConnection> connection;
    Fcgi fcgi{0, poll};
    std::unique_ptr<RequestHandler> handler;
    unsigned int nextId = 0;
};

}  // namespace fuzzsupport
