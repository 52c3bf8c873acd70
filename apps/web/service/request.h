#pragma once
// One accepted FastCGI connection and the request it is currently bringing:
// decodes the records, collects parameters and body (or hands the body to the
// route's consumer as it arrives), and sends the answer back as
// standard-output records followed by the end-of-request record.
#include "apps/common/event/eventpoll.h"
#include "apps/web/service/bodybudget.h"
#include "apps/web/service/bodyconsumer.h"
#include "apps/web/service/fcgirecord.h"

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/uio.h>
#include <vector>

class Fcgi;

class Request : public EventPoll::Callback {
public:
    using Header = fcgirecord::Header;
    using enum fcgirecord::RecordType;
    static constexpr unsigned int MAX_CONTENT = 65528;  // content bytes per record we send
    static constexpr std::streamoff FLUSH_THRESHOLD = 8192;
    static constexpr size_t KEPT_BUFFER = 65536;
    static constexpr const char* DEFAULT_HEADER = "Content-type: application/json\r\n\r\n";
    // The largest body collected in memory. Uploads stream to their consumer
    // instead; the routes whose bodies are collected take a few kilobytes.
    // Bigger ones are refused, not collected.
    static constexpr size_t MAX_BODY = 16u * 1024 * 1024;
    static constexpr const char* BODY_TOO_LARGE = "{\"result\": \"Request body too large\" }";

    Request(Fcgi* fcgi, int fd, int id);
    virtual ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    void event(EventType type) override;

    // Decodes the complete record at `at` of the bytes received, if there is one.
    bool readRecord(size_t at);
    void begin(unsigned short requestId, bool keepConnection);
    void addParam(const std::string& name, const std::string& value);

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

    Fcgi* fcgi;
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
    friend class Fcgi;

    // Gathers the records of one answer so that they leave with one write.
    // The data added must stay until it is sent; the lists are reused.
    class Batch {
    public:
        void start(const Header& echo);
        void add(uint8_t type, const char* data, size_t length);
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
    size_t completeRecordSize(size_t at) const;
    void handleRecord(const fcgirecord::Fields& record, std::string_view content);
    void parametersComplete();
    void collect(std::string_view bytes);
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
    void drop();
    void bodyComplete();

    // Bytes received but not yet decoded: at most one partial record.
    std::string inbox;
    // Whether the socket is still registered with the poll.
    bool registered;
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
