#include "apps/web/service/logging.h"

#include "apps/common/log/log.h"
#include "apps/web/service/request.h"

#include <algorithm>
#include <any>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr char ESCAPE = 27;
constexpr size_t CHUNK = 256;
// Codes beyond the colour table all render alike; the limit only keeps a long
// run of digits from overflowing.
constexpr int CODE_LIMIT = 1000000;
constexpr int STOP_WAIT_MS = 1000;
constexpr int STOP_POLL_MS = 10;
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

// Whether a process other than a zombie is left in the group. A zombie whose
// parent has died waits for init to reap it, which may take a while.
bool groupRunning(int group) {
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return kill(-group, 0) == 0;
    bool running = false;
    while (dirent* entry = readdir(processes)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        char stat[512];
        std::string path = std::string("/proc/") + entry->d_name + "/stat";
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ssize_t count = read(fd, stat, sizeof stat - 1);
        close(fd);
        if (count <= 0) continue;
        stat[count] = 0;
        // "pid (name) state ppid pgrp ...": the name may hold blanks and parentheses.
        const char* afterName = strrchr(stat, ')');
        char state = 0;
        int parent = 0, processGroup = 0;
        if (afterName != nullptr && sscanf(afterName + 1, " %c %d %d", &state, &parent, &processGroup) == 3 &&
            processGroup == group && state != 'Z') {
            running = true;
            break;
        }
    }
    closedir(processes);
    return running;
}

// Reaps the child once it has ended; true when nothing of its group runs any more.
bool childGroupGone(int pid, bool& reaped) {
    if (!reaped) {
        int result = waitpid(pid, nullptr, WNOHANG);
        reaped = result == pid || (result < 0 && errno == ECHILD);
    }
    return reaped && !groupRunning(pid);
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
    : poll(poll), fd(-1), pid(0), capacity(capacity), dropped(0) {}

Logging::~Logging() {
    closePipe();
    stopChild();
}

void Logging::init() {
    fd = popen("dmesg --color=always -w", pid);
    try {
        poll.add(fd, this, EPOLLIN);
    } catch (...) {
        ::close(fd);
        fd = -1;
        stopChild();
        throw;
    }
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

int Logging::popen(const char* command, int& pid) {
    int ends[2];
    // Close-on-exec, so no other child of the service holds the pipe open.
    if (pipe2(ends, O_CLOEXEC) < 0) THROW_ERROR_NUMBER("pipe");
    pid = fork();
    if (pid < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        THROW_ERROR_NUMBER("fork");
    }
    if (pid > 0) {
        setpgid(pid, pid);  // also done by the child; whichever runs first wins the race
        ::close(ends[1]);
        return ends[0];
    }
    // Child: only async-signal-safe calls from here on.
    setpgid(0, 0);
    // The service ignores SIGPIPE; the tool should die of it like any command.
    EventPoll::resetSignalsForChild();
    ::close(ends[0]);
    if (ends[1] != STDOUT_FILENO) {
        dup2(ends[1], STDOUT_FILENO);
        ::close(ends[1]);
    } else {
        fcntl(STDOUT_FILENO, F_SETFD, 0);
    }
    char shell[] = "sh";
    char option[] = "-c";
    char* argv[] = {shell, option, const_cast<char*>(command), nullptr};
    execve("/bin/sh", argv, environ);
    _exit(127);
}

void Logging::event(EventPoll::Callback::EventType type) {
    switch (type) {
    case Urgent:
    case Readable:
        parseData();
        break;
    case Hangup:
        // The last output may come together with the hang-up.
        parseData();
        LOG(Warn, "dmesg exited, no more log output for web gui.");
        // A hang-up is reported on every wait while the pipe stays registered.
        closePipe();
        break;
    case Writable:  // never asked for
        break;
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

void Logging::stopChild() {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    bool reaped = false;
    int waited = 0;
    while (!childGroupGone(pid, reaped) && waited < STOP_WAIT_MS) {
        usleep(STOP_POLL_MS * 1000);
        waited += STOP_POLL_MS;
    }
    if (!childGroupGone(pid, reaped)) {
        LOG(Warn, "dmesg did not stop within %i ms, killing it", STOP_WAIT_MS);
        kill(-pid, SIGKILL);
        if (!reaped) waitpid(pid, nullptr, 0);
    }
    pid = 0;
}
