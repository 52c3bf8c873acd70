#include "apps/web/service/request.h"

#include "apps/common/log/log.h"
#include "apps/web/service/routes.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Room for the largest record: header, 65535 content bytes and 255 padding bytes.
constexpr size_t READ_SIZE = 8 + 65535 + 255;
unsigned char readBuffer[READ_SIZE];  // one thread: shared by every connection
const char ZEROS[8] = {};
}  // namespace

Request::Request(Owner* owner, int fd, unsigned int id, EventPoll* poll)
    : fd(fd), id(id), keepConnection(true), headerWritten(false), header{1, 0, 0, 0, 0, 0}, owner(owner), poll(poll),
      phase(State::AwaitingBegin), queuedFrom(0), watched(EPOLLIN), inputEnded(false), paramBytes(0),
      bodyTooLarge(false) {
    if (!poll) return;
    try {
        poll->add(fd, this, EPOLLIN);
    } catch (...) {
        ::close(fd);
        this->fd = -1;
        throw;
    }
}

Request::~Request() {
    close();
}

void Request::event(EventType type) {
    if (type == Hangup) return drop();
    if (type == Writable) return drain();
    if (!receive()) return;
    // Each header is judged as soon as it is in, before its content arrives.
    // The handler run by a record may end the request and close the socket.
    // Decoded records are dropped once at the end: dropping each in turn
    // would move the rest of an upload's bytes again for every record.
    size_t decoded = 0;
    while (fd >= 0 && inbox.size() - decoded >= sizeof(Header)) {
        fcgirecord::Fields record = fcgirecord::decodeHeader(inbox.data() + decoded);
        if (const char* reason = unexpected(record)) return refuse(reason, record);
        size_t size = fcgirecord::recordSize(record);
        if (inbox.size() - decoded < size) break;
        LOG(DebugAll, "REQUEST     rx(%i, %i, %i)", record.requestId, record.type, record.contentLength);
        handleRecord(record, std::string_view(inbox).substr(decoded, sizeof(Header) + record.contentLength));
        decoded += size;
    }
    if (fd < 0) return;
    inbox.erase(0, decoded);
    // A peer that keeps sending must not starve its own answer.
    if (queuedBytes() > 0) drain();
}

// One read of what the socket holds; the poll reported it readable, so this
// does not block. A record may arrive in pieces over several reads.
bool Request::receive() {
    ssize_t got = read(fd, readBuffer, READ_SIZE);
    if (got > 0) {
        inbox.append(reinterpret_cast<char*>(readBuffer), got);
        return true;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return false;
    // End of file (a TCP peer's close shows as readable data, not as a
    // hang-up) or a broken connection: nothing more will come, but what is
    // queued still goes to a peer that only closed its sending side.
    inputEnded = got == 0;
    if (inputEnded && queuedBytes() > 0)
        updateWatch();
    else
        drop();
    return false;
}

void Request::drop() {
    if (fd < 0) return;
    phase = State::Answered;
    if (owner) owner->closed(*this);
    close();
}

void Request::disconnect() {
    drop();
}

// The door: only what a front server sends in this state passes. Null when
// the record is expected.
const char* Request::unexpected(const fcgirecord::Fields& record) const {
    if (record.version != 1) return "not version 1";
    if (record.requestId == fcgirecord::MANAGEMENT_ID) return nullptr;
    switch (phase) {
    case State::AwaitingBegin:
        if (record.type != BeginRequest || record.contentLength != fcgirecord::BEGIN_BODY_SIZE) return "not a begin record";
        return queuedBytes() > MAX_QUEUED ? "earlier answers not taken" : nullptr;
    case State::Answered:
        return "a record after the answer";
    default:
        break;
    }
    if (record.requestId != requestId()) return "another request id";
    if (record.type == AbortRequest) return nullptr;
    if (phase == State::Params && record.type == Params)
        return paramBytes + record.contentLength > MAX_PARAMS ? "parameters too long" : nullptr;
    if (phase == State::Body && record.type == Stdin) return nullptr;
    return "a record the request does not expect";
}

void Request::refuse(const char* reason, const fcgirecord::Fields& record) {
    LOG(Warn, "REQUEST refused(%u): %s (version %u, type %u, request id %u)", id, reason, record.version, record.type,
        record.requestId);
    drop();
}

// `bytes` are the record's header and content; an expected record.
void Request::handleRecord(const fcgirecord::Fields& record, std::string_view bytes) {
    std::string_view content = bytes.substr(sizeof(Header));
    if (record.requestId == fcgirecord::MANAGEMENT_ID) return answerManagement(record, content);
    // Outgoing records echo the version, request id and reserved byte of the last one received.
    memcpy(&header, bytes.data(), sizeof header);
    switch (record.type) {
    case BeginRequest: {
        fcgirecord::Begin fields = fcgirecord::decodeBegin(content);
        if (fields.role != fcgirecord::RESPONDER) return refuse("not the responder role", record);
        begin(record.requestId, fields.keepConnection);
        break;
    }
    case AbortRequest:
        abort();
        break;
    case Params:
        if (content.empty())
            parametersComplete();
        else
            addParams(content);
        break;
    default:  // Stdin
        if (content.empty())
            bodyComplete();
        else if (consumer)
            consumer->take(content);
        else
            collect(content);
        break;
    }
}

// A front server may ask what the application can take; any other
// management record is answered as not understood.
void Request::answerManagement(const fcgirecord::Fields& record, std::string_view content) {
    std::string answer;
    uint8_t type = GetValuesResult;
    if (record.type == GetValues) {
        fcgirecord::decodePairs(content, [&answer](std::string_view name, std::string_view) {
            if (name == "FCGI_MAX_CONNS" || name == "FCGI_MAX_REQS")
                answer += fcgirecord::encodePair(name, std::to_string(MAX_REQUESTS));
            else if (name == "FCGI_MPXS_CONNS")
                answer += fcgirecord::encodePair(name, "0");
        });
    } else {
        type = UnknownType;
        answer = fcgirecord::encodeUnknownType(record.type);
    }
    outgoing.start(fcgirecord::encodeHeader({1, 0, fcgirecord::MANAGEMENT_ID, 0, 0}));
    outgoing.add(type, answer.data(), answer.size(), true);
    send();
}

void Request::begin(unsigned short requestId, bool keepConnection) {
    releaseParams();
    recycle(out, take(out));
    recycle(err, take(err));
    bodyShare.free(postData);  // a kept connection must not hold a large body's memory
    consumer.reset();
    headerWritten = false;
    bodyTooLarge = false;
    paramBytes = 0;
    phase = State::Params;
    this->keepConnection = keepConnection;
    header.requestId = htons(requestId);
    LOG(DebugMost, "REQUEST  begin(%i, %i, %s)", fd, requestId, keepConnection ? "true" : "false");
}

void Request::addParams(std::string_view content) {
    paramBytes += content.size();
    fcgirecord::decodePairs(content, [this](std::string_view name, std::string_view value) { setParam(name, value); });
}

// The route is known now, so its owner may take the body as it comes; a body
// to collect that is announced too large is refused before it arrives.
void Request::parametersComplete() {
    phase = State::Body;
    consumer = owner ? owner->bodyConsumer(*this) : nullptr;
    auto length = params.find("CONTENT_LENGTH");
    unsigned long long announced = length == params.end() ? 0 : strtoull(length->second.c_str(), nullptr, 10);
    if (!consumer && announced > MAX_BODY) bodyTooLarge = true;
    if (!consumer && !bodyTooLarge && announced > 0) bodyShare.fit(postData, announced);
}

void Request::setParam(std::string_view name, std::string_view value) {
    if (spareParams.empty()) {
        params.insert_or_assign(std::string(name), std::string(value));
        return;
    }
    ParamNode node = std::move(spareParams.back());
    spareParams.pop_back();
    node.key().assign(name);
    node.mapped().assign(value);
    auto placed = params.insert(std::move(node));
    if (placed.inserted) return;
    placed.position->second.swap(placed.node.mapped());  // a later value replaces an earlier one
    spareParams.push_back(std::move(placed.node));
}

void Request::releaseParams() {
    while (!params.empty()) {
        ParamNode node = params.extract(params.begin());
        // Nodes holding large texts are freed rather than kept.
        if (spareParams.size() < MAX_SPARE_PARAMS && node.key().capacity() + node.mapped().capacity() <= SPARE_PARAM_BYTES)
            spareParams.push_back(std::move(node));
    }
}

void Request::collect(std::string_view bytes) {
    if (bodyTooLarge) return;
    if (postData.size() + bytes.size() > MAX_BODY) {
        bodyTooLarge = true;
        std::string().swap(postData);
        return;
    }
    if (!bodyShare.fit(postData, postData.size() + bytes.size())) return;
    postData.append(bytes);
}

// A body over the limit was read and dropped; it is refused here, before
// any route sees a part of it. A consumer has served its route once that
// has run: what it still holds (a file not placed) goes at once, not with
// the connection's next request.
void Request::bodyComplete() {
    phase = State::Running;
    if (!bodyTooLarge && !bodyShare.refused()) {
        if (owner) owner->completed(*this);
        consumer.reset();
        bodyShare.free(postData);
        return;
    }
    if (bodyShare.refused()) {
        LOG(Warn, "REQUEST refused(%u): request bodies over %zu bytes at once", id, BodyBudget::TOTAL);
        routes::refuse(*this, BodyBudget::REFUSAL_STATUS, BodyBudget::REFUSAL_TEXT);
        return;
    }
    LOG(Warn, "REQUEST refused(%u): body over %zu bytes", id, MAX_BODY);
    output() << BODY_TOO_LARGE;
    end();
}

// Whatever the request had made is dropped; the front server hears only
// that it ended, a held request included.
void Request::abort() {
    LOG(DebugMost, "REQUEST  abort(%u, %i)", id, requestId());
    consumer.reset();
    recycle(out, take(out));
    recycle(err, take(err));
    end();
}
std::stringstream& Request::output() {
    if (!headerWritten) {
        out << DEFAULT_HEADER;
        headerWritten = true;
    }
    if (out.tellp() > FLUSH_THRESHOLD) sendOutput();
    return out;
}

void Request::writeHeader(const char* text) {
    headerWritten = true;
    out << text;
}

std::string Request::take(std::stringstream& stream) {
    std::string contents = std::move(stream).str();
    stream.clear();
    return contents;
}

void Request::recycle(std::stringstream& stream, std::string&& buffer) {
    buffer.clear();
    if (buffer.capacity() > KEPT_BUFFER) std::string().swap(buffer);
    stream.str(std::move(buffer));
}

void Request::sendOutput() {
    if (!owner) throw std::runtime_error("Request has no owner.");
    flush(out, Stdout);
}

void Request::sendError() {
    if (err.tellp() <= 0) return;
    if (!owner) throw std::runtime_error("Request has no owner.");
    flush(err, Stderr);
}

void Request::flush(std::stringstream& stream, uint8_t type) {
    std::string contents = take(stream);
    header.type = type;
    writeRecord(contents.data(), contents.size());
    recycle(stream, std::move(contents));
}

void Request::end() {
    end(std::string_view());
}

void Request::end(std::string_view assembled) {
    if (!owner) throw std::runtime_error("Request has no owner.");
    // Once answered, the request is never pushed to again, even on a kept connection.
    userData.reset();
    if (fd < 0 || phase == State::AwaitingBegin || phase == State::Answered) return;  // nothing in progress
    // The whole answer leaves in one write: output, errors, end record.
    std::string output = take(out), errors = take(err);
    outgoing.start(header);
    outgoing.add(Stdout, output.data(), output.size());
    outgoing.add(Stdout, assembled.data(), assembled.size());
    outgoing.add(Stderr, errors.data(), errors.size());
    outgoing.add(EndRequest, ZEROS, sizeof ZEROS);
    header.type = EndRequest;
    send();
    recycle(out, std::move(output));
    recycle(err, std::move(errors));
    LOG(DebugMost, "REQUEST    end(%i, %i)", id, requestId());
    phase = keepConnection ? State::AwaitingBegin : State::Answered;
    if (phase == State::Answered && queuedBytes() == 0)
        drop();
    else
        updateWatch();
}

int Request::writeRecord(const char* data, unsigned int length) {
    if (fd < 0) THROW_ERROR_NUMBER("Request is already closed.");
    if (length == 0) return 0;
    outgoing.start(header);
    outgoing.add(header.type, data, length);
    return send();
}

void Request::Batch::start(const Header& echo) {
    this->echo = echo;
    records.clear();
}

void Request::Batch::add(uint8_t type, const char* data, size_t length, bool evenIfEmpty) {
    uint8_t padding = fcgirecord::paddingFor(length);
    if (length == 0 && evenIfEmpty) {
        Header record = echo;
        record.type = type;
        records.push_back({record, data, 0});
    }
    for (size_t offset = 0; offset < length;) {
        size_t chunk = std::min<size_t>(length - offset, MAX_CONTENT);
        Header record = echo;
        record.type = type;
        record.contentLength = htons(static_cast<uint16_t>(chunk));
        record.paddingLength = offset + chunk == length ? padding : 0;
        LOG(DebugAll, "REQUEST     tx(%i, %i, %i)", ntohs(echo.requestId), type, static_cast<int>(chunk));
        records.push_back({record, data + offset, chunk});
        offset += chunk;
    }
}

std::vector<iovec>& Request::Batch::pieces() {
    list.clear();
    for (Record& record : records) {
        list.push_back({&record.header, sizeof record.header});
        list.push_back({const_cast<char*>(record.data), record.length});
        if (record.header.paddingLength > 0) list.push_back({const_cast<char*>(ZEROS), record.header.paddingLength});
    }
    return list;
}

// Writes what the socket takes now; the rest is queued, copied only then,
// and goes out as the socket drains.
int Request::send() {
    std::vector<iovec>& pieces = outgoing.pieces();
    size_t next = 0;
    while (queuedBytes() == 0 && next < pieces.size()) {
        int count = static_cast<int>(std::min<size_t>(pieces.size() - next, IOV_MAX));
        ssize_t written = writev(fd, &pieces[next], count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) {
            lastTaken = Clock::now();
            break;
        }
        if (written < 0) return broken();
        // Skip what the socket took, a piece taken in part included.
        size_t left = written;
        for (; next < pieces.size() && left >= pieces[next].iov_len; ++next) left -= pieces[next].iov_len;
        if (left > 0) {
            pieces[next].iov_base = static_cast<char*>(pieces[next].iov_base) + left;
            pieces[next].iov_len -= left;
        }
    }
    if (next == pieces.size()) return 0;
    queued.erase(0, queuedFrom);
    queuedFrom = 0;
    for (; next < pieces.size(); ++next) queued.append(static_cast<const char*>(pieces[next].iov_base), pieces[next].iov_len);
    updateWatch();
    return 0;
}

void Request::drain() {
    while (fd >= 0 && queuedBytes() > 0) {
        ssize_t written = write(fd, queued.data() + queuedFrom, queuedBytes());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) break;
        if (written < 0) {
            broken();
            break;
        }
        queuedFrom += written;
        lastTaken = Clock::now();
    }
    if (queuedBytes() > 0) return;
    queued.clear();
    queuedFrom = 0;
    if (queued.capacity() > KEPT_BUFFER) std::string().swap(queued);
    if (phase == State::Answered || inputEnded)
        drop();
    else
        updateWatch();
}

// The answer is cut short, so the connection cannot carry another one: the
// poll reports the hang-up that closes it.
int Request::broken() {
    LOG(Warn, "REQUEST  write(%u) failed: %s", id, strerror(errno));
    std::string().swap(queued);
    queuedFrom = 0;
    shutdown(fd, SHUT_RDWR);
    return -1;
}

// Readable while more input is due, writable while answers wait.
void Request::updateWatch() {
    if (!poll || fd < 0) return;
    bool reading = !inputEnded && phase != State::Answered;
    unsigned int events = (reading ? EPOLLIN : 0u) | (queuedBytes() > 0 ? EPOLLOUT : 0u);
    if (events == watched) return;
    poll->modify(fd, events);
    watched = events;
}

std::optional<Request::Clock::time_point> Request::stallDeadline() const {
    if (queuedBytes() == 0) return std::nullopt;
    return lastTaken + STALL_LIMIT;
}

int Request::close() {
    if (fd < 0) return 0;
    if (poll) {
        try {
            poll->remove(fd);
        } catch (const std::exception&) {
        }
    }
    std::string().swap(queued);
    queuedFrom = 0;
    inbox.clear();
    shutdown(fd, SHUT_RDWR);
    int result = ::close(fd);
    fd = -1;
    return result;
}

unsigned short Request::requestId() const {
    return ntohs(header.requestId);
}
