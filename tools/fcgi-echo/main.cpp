// A tiny responder on our FastCGI server: a fixed 1 KB answer to every
// request, and echoes of the parameters or the body for tests. Stands in
// for the service in the demo and the benchmark.
#include "apps/common/event/eventpoll.h"
#include "apps/common/log/log.h"
#include "apps/web/service/fcgi.h"
#include "apps/web/service/memorypolicy.h"
#include "apps/web/service/request.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

const char* USAGE = "usage: fcgi-echo [--port PORT] [--log-level 0-8]\n"
                    "Answers by SCRIPT_NAME followed by PATH_INFO:\n"
                    "  ending in /echo/params: the parameters as NAME=VALUE lines\n"
                    "  ending in /echo/body:   the request body as it came\n"
                    "  any other:              a fixed 1024-byte JSON answer\n";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string fixedAnswer() {
    std::string answer = "{\"data\": \"";
    const std::string end = "\"}\n";
    answer.append(1024 - answer.size() - end.size(), 'x');
    return answer + end;
}

// Looked up without inserting, so the echo shows only what the client sent.
std::string param(Request* request, const std::string& name) {
    auto found = request->params.find(name);
    return found == request->params.end() ? "" : found->second;
}

class EchoHandler : public Fcgi::RequestCallback {
public:
    void handleRequest(Request* request) override {
        std::string path = param(request, "SCRIPT_NAME") + param(request, "PATH_INFO");
        if (endsWith(path, "/echo/params")) {
            request->writeHeader("Content-type: text/plain\r\n\r\n");
            for (const auto& [name, value] : request->params) request->output() << name << '=' << value << '\n';
        } else if (endsWith(path, "/echo/body")) {
            request->writeHeader("Content-type: application/octet-stream\r\n\r\n");
            // In pieces, so that a large body leaves as the output fills up.
            const std::string& body = request->postData;
            for (size_t offset = 0; offset < body.size(); offset += PIECE)
                request->output().write(body.data() + offset, std::min(PIECE, body.size() - offset));
        } else {
            request->output() << answer;
        }
        request->end();
    }

private:
    static constexpr size_t PIECE = 8192;
    const std::string answer = fixedAnswer();
};

int number(const char* text) {
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0') {
        fputs(USAGE, stderr);
        exit(2);
    }
    return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
    int port = 9000;
    static gen::LogLevel threshold = gen::Warn;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--port" && i + 1 < argc) port = number(argv[++i]);
        else if (option == "--log-level" && i + 1 < argc) threshold = static_cast<gen::LogLevel>(number(argv[++i]));
        else {
            fputs(USAGE, stderr);
            return option == "--help" ? 0 : 2;
        }
    }
    gComponentLogLevel = &threshold;
    returnLargeBuffersToSystem();
    try {
        EventPoll poll;
        Fcgi fcgi(port, poll);
        EchoHandler handler;
        fcgi.requestCallback = &handler;
        while (poll.wait(100, false) != EventPoll::Terminate) fcgi.cleanup();
    } catch (const std::runtime_error& error) {
        fprintf(stderr, "fcgi-echo: %s\n", error.what());
        return 1;
    }
    return 0;
}
