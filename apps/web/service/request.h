#pragma once
// One accepted FastCGI connection and the request it is currently bringing:
// admits only what a front web server sends (see handleRecord), collects the
// parameters and body (or hands the body to the route's consumer as it
// arrives), and sends the answer back as standard-output records followed by
// the end-of-request record. Answers never wait for the peer: what the socket
// does not take at once is queued and written as it drains.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/bodybudget.h"
#include "apps/web/service/bodyconsumer.h"
#include "apps/web/service/fcgirecord.h"

#include <any>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/uio.h>
#include <vector>

class Request : public EventPoll::Callback {
public:
    using Header = fcgirecord::Header;
    using enum fcgirecord::RecordType;
    using Clock = std::chrono::steady_clock;

    // What a request needs from whoever accepted its connection.
    class Owner {
    public:
        // The input is complete: the request is to be routed now.
        virtual void completed(Request& request) = 0;
        // The connection is finished; the request may be deleted once no
        // code of it runs. Comes before the socket is closed.
        virtual void closed(Request& request) = 0;
        // Asked once the parameters are complete: the consumer that takes
        // the body as it arrives, or none to have it collected.
        virtual std::unique_ptr<BodyConsumer> bodyConsumer(Request& request) = 0;

    protected:
        ~Owner() = default;
    };

    // Where the request is; every record not expected by it closes the connection.
    enum class State { AwaitingBegin, Params, Body, Running, Answered };

    static constexpr unsigned int MAX_CONTENT = 65528;  // content bytes per record we send
    static constexpr std::streamoff FLUSH_THRESHOLD = 8192;
    static constexpr size_t KEPT_BUFFER = 65536;
    static constexpr const char* DEFAULT_HEADER = "Content-type: application/json\r\n\r\n";
    // The largest body collected in memory. Uploads stream to their consumer
    // instead; the routes whose bodies are collected take a few kilobytes.
    // Bigger ones are refused, not collected.
    static constexpr size_t MAX_BODY = 16u * 1024 * 1024;
    static constexpr const char* BODY_TOO_LARGE = "{\"result\": \"Request body too large\" }";
    // The parameters a front server sends take a few kilobytes.
    static constexpr size_t MAX_PARAMS = 64 * 1024;
    // Requests served at once; announced to a front server that asks.
    static constexpr size_t MAX_REQUESTS = 32;
    // Room for two whole answers of the variable tree: a connection that
    // begins a request while more of its earlier answers still wait is
    // closed, as is one whose waiting bytes are not taken for STALL_LIMIT.
    // One answer, however large, is never cut.
    static constexpr size_t MAX_QUEUED = 3u << 20;
    static constexpr std::chrono::seconds STALL_LIMIT{30};

    // With a poll, the socket is registered with it now and watched until closed.
    Request(Owner* owner, int fd, unsigned int id, EventPoll* poll = nullptr);
    virtual ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    void event(EventType type) override;

    std::stringstream& output();
    void writeHeader(const char* text);
    void sendOutput();
    void sendError();
    void end();
    // Ends the request with an answer assembled elsewhere, its header
    // included; it follows what output() holds, in the same write.
    void end(std::string_view assembled);
    int writeRecord(const char* data, unsigned int length);
    int close();

    // The FastCGI request id of the current request, in host order.
    unsigned short requestId() const;
    State state() const { return phase; }
    // Bytes of answers not yet taken by the peer.
    size_t queuedBytes() const { return queued.size() - queuedFrom; }
    // When the queued bytes, untaken since, make the connection a stalled one.
    std::optional<Clock::time_point> stallDeadline() const;
    bool isOpen() const { return fd >= 0; }
    // Closes the connection at once, whatever waits in it.
    void disconnect();

    int fd;
    unsigned int id;
    bool keepConnection;
    bool headerWritten;
    std::map<std::string, std::string> params;
    // The body, unless a consumer takes it: chosen by the route's owner when
    // the parameters are complete, and released once the route has run.
    std::string postData;
    BodyBudget::Share bodyShare;  // what postData takes of the service's budget
    std::unique_ptr<BodyConsumer> consumer;
    std::stringstream out;
    std::stringstream err;
    Header header;
    // The handler's mark for a request it answers later; cleared by end().
    std::any userData;

private:
    // Gathers the records of one answer so that they leave with one write.
    // The data added must stay until it is sent; the lists are reused.
    class Batch {
    public:
        void start(const Header& echo);
        // An empty stream adds no record, unless asked to.
        void add(uint8_t type, const char* data, size_t length, bool evenIfEmpty = false);
        std::vector<iovec>& pieces();

    private:
        struct Record {
            Header header;
            const char* data;
            size_t length;
        };
        Header echo{};
        std::vector<Record> records;
        std::vector<iovec> list;
    };

    bool receive();
    void handleRecord(const fcgirecord::Fields& record, std::string_view content);
    // Why the record may not come now; null when it may.
    const char* unexpected(const fcgirecord::Fields& record) const;
    void answerManagement(const fcgirecord::Fields& record, std::string_view content);
    void begin(unsigned short requestId, bool keepConnection);
    void addParams(std::string_view content);
    void parametersComplete();
    void collect(std::string_view bytes);
    void bodyComplete();
    void abort();
    // Closes the connection at once, unanswered, for a record it should not have sent.
    void refuse(const char* reason, const fcgirecord::Fields& record);
    // Moves a stream's bytes out without copying them.
    static std::string take(std::stringstream& stream);
    // Hands an emptied buffer back to its stream, so the next answer reuses
    // its memory; a large one is released instead.
    static void recycle(std::stringstream& stream, std::string&& buffer);
    void flush(std::stringstream& stream, uint8_t type);
    void setParam(std::string_view name, std::string_view value);
    // Empties params, keeping its nodes for the next request's parameters.
    void releaseParams();
    int send();
    // Writes what is queued, as much as the socket takes now.
    void drain();
    int broken();
    void updateWatch();
    void drop();

    Owner* owner;
    EventPoll* poll;
    State phase;
    // Bytes received but not yet decoded: at most one partial record.
    std::string inbox;
    // Answer bytes the socket has not taken, from queuedFrom on.
    std::string queued;
    size_t queuedFrom;
    Clock::time_point lastTaken;
    // What the poll watches the socket for.
    unsigned int watched;
    // Set once the peer has sent all it will; the connection closes when the queue is empty.
    bool inputEnded;
    size_t paramBytes;
    // Set once the announced or received body to collect exceeds MAX_BODY.
    bool bodyTooLarge;
    Batch outgoing;
    // Parameter nodes of earlier requests: a kept connection decodes the
    // next request's parameters into them without allocating.
    using ParamNode = std::map<std::string, std::string>::node_type;
    static constexpr size_t MAX_SPARE_PARAMS = 64;
    static constexpr size_t SPARE_PARAM_BYTES = 1024;
    std::vector<ParamNode> spareParams;
};
