// A FastCGI client for tests and people: sends exact records to an
// application and prints the exact bytes it answers with.
#include "tools/fcgi-client/connection.h"
#include "tools/fcgi-client/records.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <unistd.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* USAGE = R"(usage: fcgi-client [options]
  --host ADDRESS       IPv4 address of the application (127.0.0.1)
  --port PORT          its TCP port (9000)
  --param NAME=VALUE   a request parameter; repeat for more
  --body FILE          the request body from FILE (sent as it is read), '-' for
                       standard input
  --keep-conn          ask the application to keep the connection
  --request-id N       FastCGI request id (1)
  --role N             role in the begin record (1, responder)
  --chunk N            at most N content bytes per parameter or body record (65535)
  --repeat N           send the request N times on one connection (implies --keep-conn)
  --connections N      open N connections, then send the request on each and
                       read every answer; prints how many were answered as
                       "answered/N"
  --raw FILE           send the bytes of FILE as they are instead of a request
  --hex FILE           send the bytes written in hex in FILE ('#' starts a comment)
  --half-close         shut down the sending side after sending
  --no-wait            close right after sending, without reading
  --records            print the answer's raw records instead of its output
  --timeout SECONDS    give up reading after this long (10)
Exit status: 0 answered with an end record, 3 connection closed first,
4 timed out, 2 usage or connection error.
)";

constexpr int USAGE_ERROR = 2;
constexpr useconds_t CONNECT_PACE_US = 200;
using fcgiwire::Answer;
using fcgiwire::Connection;
using fcgiwire::Exit;
using enum fcgiwire::Exit;

struct Options {
    std::string host = "127.0.0.1";
    int port = 9000;
    std::vector<std::pair<std::string, std::string>> params;
    std::string bodyFile;
    bool keepConnection = false;
    int requestId = 1;
    int role = 1;
    size_t chunk = fcgiwire::MAX_CONTENT;
    int repeat = 1;
    int connections = 1;
    std::string rawFile;
    std::string hexFile;
    bool halfClose = false;
    bool wait = true;
    bool records = false;
    int timeoutSeconds = 10;
};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "fcgi-client: " << message << "\n";
    exit(USAGE_ERROR);
}

std::string readFile(const std::string& name) {
    if (name == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream file(name, std::ios::binary);
    if (!file) fail("cannot read " + name);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string fromHex(const std::string& text) {
    std::string bytes, digits;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        for (char c : line.substr(0, line.find('#')))
            if (isxdigit(static_cast<unsigned char>(c))) digits += c;
    }
    if (digits.size() % 2) fail("odd number of hex digits");
    for (size_t i = 0; i < digits.size(); i += 2) bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

int number(const char* text) {
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0) fail(std::string("not a number: ") + text);
    return static_cast<int>(value);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) fail(option + " needs a value");
            return argv[++i];
        };
        if (option == "--host") options.host = value();
        else if (option == "--port") options.port = number(value());
        else if (option == "--param") {
            std::string pair = value();
            size_t equals = pair.find('=');
            if (equals == std::string::npos) fail("--param needs NAME=VALUE");
            options.params.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        } else if (option == "--body") options.bodyFile = value();
        else if (option == "--keep-conn") options.keepConnection = true;
        else if (option == "--request-id") options.requestId = number(value());
        else if (option == "--role") options.role = number(value());
        else if (option == "--chunk") options.chunk = std::max(1, number(value()));
        else if (option == "--repeat") options.repeat = std::max(1, number(value()));
        else if (option == "--connections") options.connections = std::max(1, number(value()));
        else if (option == "--raw") options.rawFile = value();
        else if (option == "--hex") options.hexFile = value();
        else if (option == "--half-close") options.halfClose = true;
        else if (option == "--no-wait") options.wait = false;
        else if (option == "--records") options.records = true;
        else if (option == "--timeout") options.timeoutSeconds = number(value());
        else if (option == "--help") {
            std::cout << USAGE;
            exit(0);
        } else fail("unknown option " + option + "\n" + USAGE);
    }
    if (options.repeat > 1) options.keepConnection = true;
    options.chunk = std::min(options.chunk, fcgiwire::MAX_CONTENT);
    return options;
}

// The records before the body.
std::string composeHead(const Options& options) {
    auto id = static_cast<uint16_t>(options.requestId);
    std::string params;
    for (const auto& [name, value] : options.params) params += fcgiwire::encodePair(name, value);
    return fcgiwire::begin(id, options.keepConnection, static_cast<uint16_t>(options.role)) +
           fcgiwire::stream(fcgiwire::Params, id, params, options.chunk);
}

// The request: raw bytes as given, or the head followed by the body records.
// A body file is read a record at a time, so that an upload of any size is
// never held whole (standard input, which can be read once, is).
class Outgoing {
public:
    explicit Outgoing(const Options& options) : options(options) {
        if (!options.rawFile.empty()) bytes = readFile(options.rawFile);
        else if (!options.hexFile.empty()) bytes = fromHex(readFile(options.hexFile));
        else {
            composed = true;
            bytes = composeHead(options);
            if (options.bodyFile == "-") body = readFile("-");
        }
    }

    bool send(Connection& connection) const {
        if (!connection.send(bytes)) return false;
        if (!composed) return true;
        auto id = static_cast<uint16_t>(options.requestId);
        if (options.bodyFile.empty() || options.bodyFile == "-")
            return connection.send(fcgiwire::stream(fcgiwire::Stdin, id, body, options.chunk));
        std::ifstream file(options.bodyFile, std::ios::binary);
        if (!file) fail("cannot read " + options.bodyFile);
        std::string chunk(options.chunk, '\0');
        while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0)
            if (!connection.send(fcgiwire::record(fcgiwire::Stdin, id, std::string_view(chunk.data(), file.gcount()))))
                return false;
        return connection.send(fcgiwire::record(fcgiwire::Stdin, id, ""));
    }

    bool composed = false;

private:
    const Options& options;
    std::string bytes;
    std::string body;
};

void print(const Options& options, const Answer& answer) {
    const std::string& shown = options.records ? answer.raw : answer.output;
    fwrite(shown.data(), 1, shown.size(), stdout);
    if (!options.records) fwrite(answer.errors.data(), 1, answer.errors.size(), stderr);
}

int runOne(const Options& options, const Outgoing& request) {
    Connection connection(options.host, options.port, options.timeoutSeconds * 1000);
    Exit status = ANSWERED;
    for (int round = 0; round < options.repeat; ++round) {
        request.send(connection);
        if (options.halfClose) connection.halfClose();
        if (!options.wait) return ANSWERED;
        Answer answer = connection.receive();
        // Raw input may have no end: everything up to end of file is the answer.
        if (!request.composed && answer.status == CLOSED) answer.status = ANSWERED;
        print(options, answer);
        status = answer.status;
        if (status != ANSWERED) break;
    }
    return status;
}

int runMany(const Options& options, const Outgoing& request) {
    std::vector<std::unique_ptr<Connection>> connections;
    for (int i = 0; i < options.connections; ++i) {
        connections.push_back(std::make_unique<Connection>(options.host, options.port, options.timeoutSeconds * 1000));
        // A burst faster than the application accepts would overflow its
        // short listen queue, and the dropped handshakes retry only after
        // seconds; this test is about many open connections, not that queue.
        usleep(CONNECT_PACE_US);
    }
    for (auto& connection : connections) request.send(*connection);
    int answered = 0;
    for (auto& connection : connections) answered += connection->receive().status == ANSWERED;
    printf("%d/%d\n", answered, options.connections);
    return answered == options.connections ? ANSWERED : CLOSED;
}

}  // namespace

int main(int argc, char** argv) try {
    Options options = parse(argc, argv);
    Outgoing request(options);
    return options.connections > 1 ? runMany(options, request) : runOne(options, request);
} catch (const std::runtime_error& error) {
    fail(error.what());
}
