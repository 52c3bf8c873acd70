// The device's message broker for development, tests and demonstrations, and
// its small client modes.
#include "apps/common/log/log.h"
#include "tools/broker/broker.h"
#include "tools/broker/clientmodes.h"
#include "tools/broker/eventtext.h"
#include "tools/broker/lineinput.h"

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {
const char* const USAGE =
    "Usage: broker [--log] [--stdin]     run the broker\n"
    "       broker --send EVENT...       post events to the running broker\n"
    "       broker --watch [EVENT...]    print the events it relays (all, or the given ones)\n"
    "--log prints every relayed event and every client change on standard output;\n"
    "--stdin relays the events read from standard input (a pipe or terminal), one or more a line.\n"
    "EVENT is a number, NUMBER:FLAG:INDEX, or an event name such as VarAppServiceLogLevelChanged.\n";

gen::LogLevel logThreshold = gen::LogLight;

struct Options {
    enum Mode { Serve, Send, Watch } mode = Serve;
    bool log = false;
    bool readInput = false;
    std::vector<Notify> events;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--log")
            options.log = true;
        else if (argument == "--stdin")
            options.readInput = true;
        else if (argument == "--send")
            options.mode = Options::Send;
        else if (argument == "--watch")
            options.mode = Options::Watch;
        else if (auto event = parseEvent(argument); event && options.mode != Options::Serve)
            options.events.push_back(*event);
        else
            return std::nullopt;
    }
    bool clientWithServeOptions = options.mode != Options::Serve && (options.log || options.readInput);
    if (clientWithServeOptions || (options.mode == Options::Send && options.events.empty())) return std::nullopt;
    return options;
}

int serve(Options const& options) {
    EventPoll poll;
    TrafficLog traffic(options.log ? stdout : nullptr);
    Broker broker(poll, traffic);
    std::optional<LineInput> input;
    if (options.readInput) input.emplace(STDIN_FILENO, poll, broker);
    for (;;) {
        try {
            if (poll.wait(broker.waitTimeout(), false) == EventPoll::Terminate) break;
        } catch (std::exception const& error) {
            // Already in the kernel log; one failed callback must not end the broker.
            fprintf(stderr, "broker: %s\n", error.what());
        }
        broker.periodic();
    }
    traffic.flush();
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    auto options = parseOptions(argc, argv);
    if (!options) {
        fputs(USAGE, stderr);
        return 2;
    }
    gComponentLogLevel = &logThreshold;
    try {
        switch (options->mode) {
        case Options::Send:
            return sendEvents(options->events);
        case Options::Watch:
            return watchEvents(options->events);
        default:
            return serve(*options);
        }
    } catch (std::exception const& error) {
        fprintf(stderr, "broker: %s\n", error.what());
        return 1;
    }
}
