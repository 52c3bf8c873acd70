#include "apps/web/service/logging.h"

#include "apps/common/log/log.h"
#include "apps/web/service/request.h"

#include <algorithm>
#include <any>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr char ESCAPE = 27;
constexpr size_t CHUNK = 256;
// Codes beyond the colour table all render alike; the limit only keeps a long
// run of digits from overflowing.
constexpr int CODE_LIMIT = 1000000;
constexpr int LOG_REQUEST = 1;

std::string colourStyle(int code) {
    if (code >= 30 && code <= 37) return "color: #" + Logging::getColor(code - 30, "AA", "00");
    if (code >= 40 && code <= 47) return "background-color: #" + Logging::getColor(code - 40, "AA", "00");
    if (code >= 90 && code <= 97) return "color: #" + Logging::getColor(code - 90, "FF", "55");
    if (code >= 100 && code <= 107) return "background-color: #" + Logging::getColor(code - 100, "FF", "55");
    return "";
}

// The number after "offset=" at the very start of the query, read like a
// standard string-to-int conversion; 0 (no offset) when there is none, it is
// not a number, negative, or beyond an int.
long requestedOffset(const std::string& query) {
    static const std::string prefix = "offset=";
    if (query.compare(0, prefix.size(), prefix) != 0) return 0;
    const char* digits = query.c_str() + prefix.size();
    char* end = nullptr;
    errno = 0;
    long offset = strtol(digits, &end, 10);
    if (end == digits || errno == ERANGE || offset < 0 || offset > INT_MAX) return 0;
    return offset;
}

}  // namespace

void AnsiHtml::render(const char* data, size_t length, std::string& html) {
    size_t at = 0;
    while (at < length) {
        switch (state) {
        case State::Text: {
            auto* escape = static_cast<const char*>(memchr(data + at, ESCAPE, length - at));
            size_t end = escape != nullptr ? static_cast<size_t>(escape - data) : length;
            html.append(data + at, end - at);
            at = end;
            if (escape != nullptr) {
                state = State::Introducer;
                code = 0;
                ++at;
            }
            break;
        }
        case State::Introducer:  // the '[' after the escape byte; its value is not looked at
            state = State::Code;
            ++at;
            break;
        case State::Code: {
            char next = data[at++];
            if (next >= '0' && next <= '9') {
                code = std::min(code * 10 + (next - '0'), CODE_LIMIT);
            } else {
                finish(next, html);
                state = State::Text;
            }
            break;
        }
        }
    }
}

void AnsiHtml::finish(char final, std::string& html) const {
    if (final != 'm') return;
    if (code == 0) {
        html += "</span>";
        return;
    }
    html += "<span style='";
    html += colourStyle(code);
    html += "'>";
}

Logging::Logging(EventPoll& poll, size_t capacity)
    : poll(poll), fd(-1), capacity(capacity), dropped(0), dmesg(poll, [this](int) { ended(); }),
      restartAlarm(poll, [this] { restart(); }), restartPause(FIRST_RESTART) {}

Logging::~Logging() {
    closePipe();
}

void Logging::init() {
    int ends[2];
    // Close-on-exec, so no other child of the service holds the pipe open.
    if (pipe2(ends, O_CLOEXEC) < 0) THROW_ERROR_NUMBER("pipe");
    try {
        dmesg.start({"dmesg", "--color=always", "-w"}, {.output = ends[1]});
    } catch (...) {
        ::close(ends[0]);
        ::close(ends[1]);
        throw;
    }
    ::close(ends[1]);
    fd = ends[0];
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    startedAt = std::chrono::steady_clock::now();
    try {
        poll.add(fd, this, EPOLLIN);
    } catch (...) {
        ::close(fd);
        fd = -1;
        dmesg.stop();
        throw;
    }
}

void Logging::event(EventPoll::Callback::EventType type) {
    switch (type) {
    case Urgent:
    case Readable:
        parseData();
        break;
    case Hangup:
        ended();
        break;
    }
}

// Reached by the pipe's hang-up or by the child's end, whichever comes first.
void Logging::ended() {
    // The last output may come together with the end.
    parseData();
    // A hang-up is reported on every wait while the pipe stays registered.
    closePipe();
    dmesg.stop();
    if (std::chrono::steady_clock::now() - startedAt >= LAST_RESTART) restartPause = FIRST_RESTART;
    scheduleRestart();
}

void Logging::scheduleRestart() {
    LOG(Warn, "dmesg ended, starting it again in %lld ms", static_cast<long long>(restartPause.count()));
    restartAlarm.set(restartPause);
    restartPause = std::min(restartPause * 2, LAST_RESTART);
}

void Logging::restart() {
    try {
        init();
    } catch (const std::exception&) {
        scheduleRestart();  // the cause is logged already
    }
}

void Logging::parseData() {
    if (fd < 0) return;
    char buffer[CHUNK];
    ssize_t count;
    do {
        count = read(fd, buffer, CHUNK);
        if (count <= 0) return;
        append(buffer, static_cast<size_t>(count));
    } while (static_cast<size_t>(count) == CHUNK);
}

void Logging::append(const char* data, size_t count) {
    renderer.render(data, count, text);
    if (text.size() > capacity) dropOldestLines();
    // Offsets travel as int. Rather than let positions pass its range, number
    // the kept text from 0 again: clients see that as a restart of the service.
    if (length() > static_cast<size_t>(INT_MAX)) dropped = 0;
}

void Logging::dropOldestLines() {
    size_t keep = capacity - capacity / 8;
    size_t cut = text.size() - keep;
    size_t lineEnd = text.find('\n', cut - 1);
    // A tail without any line end is cut mid-line rather than kept whole.
    if (lineEnd != std::string::npos) cut = lineEnd + 1;
    text.erase(0, cut);
    dropped += cut;
}

std::string Logging::getColor(int index, const char* on, const char* off) {
    std::string colour;
    for (int bit = 0; bit < 3; ++bit) colour += (index & (1 << bit)) ? on : off;
    return colour;
}

bool Logging::writeAnswer(const std::string& query, std::ostream& out, unsigned int requestId) const {
    long offset = requestedOffset(query);
    size_t total = length();
    if (offset > 0 && static_cast<size_t>(offset) == total) return false;
    if (offset > 0 && static_cast<size_t>(offset) < total && static_cast<size_t>(offset) >= dropped) {
        LOG(DebugLight, "Sending log data with offset %i/%u to request %i", static_cast<int>(offset),
            static_cast<unsigned int>(total), requestId);
        std::string_view rest(text);
        rest.remove_prefix(offset - dropped);
        out << rest;
    } else {
        LOG(DebugLight, "Sending all log data to request %i", requestId);
        out << text;
    }
    return true;
}

void Logging::answer(Request& request) {
    request.writeHeader("Content-type: text/html\r\n\r\n");
    request.output() << length() << "\r\n";
    request.userData = LOG_REQUEST;
    appendOutput(request);
}

bool Logging::appendOutput(Request& request) {
    if (!writeAnswer(request.params["QUERY_STRING"], request.output(), request.id)) return false;
    request.end();  // also clears the mark, so a kept connection's next request is not fed
    return true;
}

int Logging::feedHeld(const std::map<unsigned int, Request*>& requests) {
    int answered = 0;
    for (const auto& [id, request] : requests) {
        const int* mark = std::any_cast<int>(&request->userData);
        if (mark == nullptr || *mark != LOG_REQUEST) continue;
        try {
            if (appendOutput(*request)) ++answered;
        } catch (const std::exception&) {
            LOG(Error, "Could not send logging to request %i", id);
        }
    }
    return answered;
}

void Logging::closePipe() {
    if (fd < 0) return;
    try {
        poll.remove(fd);
    } catch (const std::exception&) {
        // Already logged; the descriptor is closed all the same.
    }
    ::close(fd);
    fd = -1;
}
