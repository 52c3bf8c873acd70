#include "apps/web/service/request.h"

#include "apps/common/log/log.h"
#include "apps/web/service/fcgi.h"
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
// A peer that has not taken a whole answer by then is given up, so one stalled
// client cannot hold the loop (each blocked write also ends at the socket's
// send timeout).
constexpr std::chrono::milliseconds SEND_LIMIT{4000};
}  // namespace

Request::Request(Fcgi* fcgi, int fd, int id)
    : fcgi(fcgi), fd(fd), id(id), keepConnection(true), headerWritten(false), header{1, 0, 0, 0, 0, 0},
      registered(false), bodyTooLarge(false) {}

Request::~Request() {
    close();
}

void Request::event(EventType type) {
    if (type == Hangup) {
        drop();
        return;
    }
    if (!receive()) return;
    // The handler run by a record may end the request and close the socket.
    // Decoded records are dropped once at the end: dropping each in turn
    // would move the rest of an upload's bytes again for every record.
    size_t decoded = 0;
    for (size_t size; fd >= 0 && (size = completeRecordSize(decoded)) > 0; decoded += size) readRecord(decoded);
    inbox.erase(0, decoded);
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
    // End of file or a broken connection: a TCP peer's close shows as
    // readable data, not as a hang-up, and nothing more will come.
    drop();
    return false;
}

void Request::drop() {
    if (fcgi) fcgi->removeRequest(this);
}

size_t Request::completeRecordSize(size_t at) const {
    if (inbox.size() - at < sizeof(Header)) return 0;
    size_t size = fcgirecord::recordSize(fcgirecord::decodeHeader(inbox.data() + at));
    return inbox.size() - at >= size ? size : 0;
}

// The framing is known, so an unknown record is skipped, not the connection lost.
bool Request::readRecord(size_t at) {
    if (fd < 0) THROW_ERROR("Request is already closed.");
    if (completeRecordSize(at) == 0) return false;
    memcpy(&header, inbox.data() + at, sizeof header);
    fcgirecord::Fields record = fcgirecord::decodeHeader(inbox.data() + at);
    LOG(DebugAll, "REQUEST     rx(%i, %i, %i)", record.requestId, record.type, record.contentLength);
    bool known = record.type <= GetValuesResult;
    if (known) handleRecord(record, std::string_view(inbox).substr(at + sizeof header, record.contentLength));
    return known;
}

void Request::handleRecord(const fcgirecord::Fields& record, std::string_view content) {
    switch (record.type) {
    case BeginRequest:
        begin(record.requestId, content.size() >= 3 && (content[2] & 1));
        break;
    case Params:
        if (content.empty())
            parametersComplete();
        else
            fcgirecord::decodePairs(content, [this](std::string_view name, std::string_view value) { setParam(name, value); });
        break;
    case Stdin:
        if (content.empty())
            bodyComplete();
        else if (consumer)
            consumer->take(content);
        else
            collect(content);
        break;
    default:
        break;
    }
}

void Request::begin(unsigned short requestId, bool keepConnection) {
    releaseParams();
    recycle(out, take(out));
    recycle(err, take(err));
    bodyShare.free(postData);  // a kept connection must not hold a large body's memory
    consumer.reset();
    headerWritten = false;
    bodyTooLarge = false;
    this->keepConnection = keepConnection;
    header.requestId = htons(requestId);
    LOG(DebugMost, "REQUEST  begin(%i, %i, %s)", fd, requestId, keepConnection ? "true" : "false");
}

// The route is known now, so its owner may take the body as it comes; a body
// to collect that is announced too large is refused before it arrives.
void Request::parametersComplete() {
    consumer = fcgi ? fcgi->bodyConsumer(*this) : nullptr;
    auto length = params.find("CONTENT_LENGTH");
    unsigned long long announced = length == params.end() ? 0 : strtoull(length->second.c_str(), nullptr, 10);
    if (!consumer && announced > MAX_BODY) bodyTooLarge = true;
    if (!consumer && !bodyTooLarge && announced > 0) bodyShare.fit(postData, announced);
}

void Request::addParam(const std::string& name, const std::string& value) {
    setParam(name, value);
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
    if (!bodyTooLarge && !bodyShare.refused()) {
        if (fcgi) fcgi->addRequest(this);
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
    if (!fcgi) throw std::runtime_error("Request has no Fcgi.");
    flush(out, Stdout);
}

void Request::sendError() {
    if (err.tellp() <= 0) return;
    if (!fcgi) throw std::runtime_error("Request has no Fcgi.");
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
    if (!fcgi) throw std::runtime_error("Request has no Fcgi.");
    // Once answered, the request is never pushed to again, even on a kept connection.
    userData.reset();
    if (fd < 0) return;  // ended before and closed
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
    if (!keepConnection) {
        fcgi->removeRequest(this);
        close();
    }
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

void Request::Batch::add(uint8_t type, const char* data, size_t length) {
    uint8_t padding = fcgirecord::paddingFor(length);
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

int Request::send() {
    std::vector<iovec>& pieces = outgoing.pieces();
    auto deadline = std::chrono::steady_clock::now() + SEND_LIMIT;
    size_t next = 0;
    while (next < pieces.size()) {
        int count = static_cast<int>(std::min<size_t>(pieces.size() - next, IOV_MAX));
        ssize_t written = writev(fd, &pieces[next], count);
        if (written < 0) {
            // EAGAIN: the send timeout passed with nothing taken.
            if ((errno == EINTR || errno == EAGAIN) && std::chrono::steady_clock::now() < deadline) continue;
            break;
        }
        // Skip what the socket took, a piece taken in part included.
        size_t left = written;
        for (; next < pieces.size() && left >= pieces[next].iov_len; ++next) left -= pieces[next].iov_len;
        if (left > 0) {
            pieces[next].iov_base = static_cast<char*>(pieces[next].iov_base) + left;
            pieces[next].iov_len -= left;
        }
        if (next < pieces.size() && std::chrono::steady_clock::now() >= deadline) {
            errno = ETIMEDOUT;
            break;
        }
    }
    if (next == pieces.size()) return 0;
    LOG(Warn, "REQUEST  write(%u) failed: %s", id, strerror(errno));
    // The answer is cut short, so the connection cannot carry another one.
    shutdown(fd, SHUT_RDWR);
    return -1;
}

int Request::close() {
    if (fd < 0) return 0;
    shutdown(fd, SHUT_RDWR);
    int result = ::close(fd);
    fd = -1;
    return result;
}

unsigned short Request::requestId() const {
    return ntohs(header.requestId);
}
