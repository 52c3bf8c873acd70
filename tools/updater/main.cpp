// The update stand-in for tests and the demo: attaches to the variable store
// and the broker like any process of the device and plays the update
// processes' part, one step every --step milliseconds.
#include "apps/common/event/eventpoll.h"
#include "gen/code/gen_init.h"
#include "tools/updater/updater.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {
const char* const USAGE =
    "Usage: updater [--step MS] [--parts N]\n"
    "Watches HostUpdateFileName, TlxUpdateFileName, HostUpdateStart and TlxUpdateStart and\n"
    "walks the update state and progress variables through a run: the file is checked\n"
    "(FileValid, or FileCorrupt when it is empty or starts with CORRUPT, FileNotFound when\n"
    "missing), and once started, installed (an accessory in N parts, default 2).\n"
    "One step every MS milliseconds (default 300).\n";

struct Options {
    int stepMs = 300;
    int parts = 2;
};

bool positive(const char* text, int& value) {
    char* end = nullptr;
    long number = strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < 1 || number > 100000) return false;
    value = static_cast<int>(number);
    return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        int* value = name == "--step" ? &options.stepMs : name == "--parts" ? &options.parts : nullptr;
        if (value == nullptr || !positive(argv[i + 1], *value)) return false;
    }
    return argc % 2 == 1;
}

void run(const Options& options) {
    using Clock = std::chrono::steady_clock;
    gen::init();
    EventPoll& poll = gen::getEventPoll();
    Updater updater(options.parts);
    gen::getServerConnection()->handler = &updater;
    const auto step = std::chrono::milliseconds(options.stepMs);
    auto next = Clock::now() + step;
    while (gen::getServerConnection()->isConnected()) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        if (poll.wait(static_cast<int>(std::max<long long>(wait, 0)), false) == EventPoll::Terminate) break;
        if (Clock::now() < next) continue;
        updater.tick();
        next = Clock::now() + step;
    }
    gen::closeServerConnection();
}
}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        fputs(USAGE, stderr);
        return 2;
    }
    try {
        run(options);
    } catch (const std::exception& error) {
        fprintf(stderr, "updater: %s\n", error.what());
        return 1;
    }
    return 0;
}
