// A bounded load on the running service for the end-to-end tests: held
// update requests that re-poll at once, update requests through the front
// web server, all.cgi readers, and one change at a time made by another
// process (store set, a broker event) or through set.cgi. Every answer is
// checked; at the end one line counts what was served and what was lost.
#include "tools/loadclient/clients.h"
#include "tools/loadclient/rounds.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <vector>

namespace {

const char* const USAGE = R"(usage: loadclient --bin FOLDER [options]
  --bin FOLDER         where store and broker are (required)
  --port PORT          the service's FastCGI port (9000)
  --web-port PORT      the front web server's port; needed for --web-updaters
  --updaters N         held update requests straight to the service (8)
  --web-updaters N     update requests through the front web server (0)
  --readers N          all.cgi readers (2)
  --seconds S          how long changes are made (10)
  --variable MEM.NAME  an int variable to change; repeat for more
  --until-shutdown     run until the service goes away; every held request
                       must then have got its end record (S bounds the wait)
Requests the service refuses while its table is full are sent again.
Prints "rounds R, updates U direct W web, trees T, refused F, lost L,
malformed M[, ended at shutdown E]"; exit status 0 when nothing was lost or
malformed.
)";

constexpr std::chrono::milliseconds START_PACE{20};

[[noreturn]] void usage() {
    fputs(USAGE, stderr);
    exit(2);
}

struct Options {
    load::Settings settings;
    int updaters = 8;
    int webUpdaters = 0;
    int readers = 2;
    int seconds = 10;
    std::vector<std::string> variables;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (option == "--bin") options.settings.binFolder = value();
        else if (option == "--port") options.settings.fcgiPort = std::stoi(value());
        else if (option == "--web-port") options.settings.httpPort = std::stoi(value());
        else if (option == "--updaters") options.updaters = std::stoi(value());
        else if (option == "--web-updaters") options.webUpdaters = std::stoi(value());
        else if (option == "--readers") options.readers = std::stoi(value());
        else if (option == "--seconds") options.seconds = std::stoi(value());
        else if (option == "--variable") options.variables.push_back(value());
        else if (option == "--until-shutdown") options.settings.untilShutdown = true;
        else usage();
    }
    if (options.settings.binFolder.empty() || (options.webUpdaters > 0 && options.settings.httpPort == 0)) usage();
    if (options.variables.empty())
        options.variables = {"MemPersistent.LastKnownFocusValue", "MemLens.LensZoomMinValue",
                             "MemMotors.FocusGearTeethSet", "MemCamera.CamClipListProgress"};
    return options;
}

}  // namespace

int main(int argc, char** argv) try {
    signal(SIGPIPE, SIG_IGN);
    Options options = parse(argc, argv);
    const load::Settings& settings = options.settings;
    load::Tally tally;
    load::Rounds rounds(settings, tally, options.variables);
    std::vector<std::unique_ptr<load::Client>> clients;
    std::vector<load::Updater*> updaters;
    for (int i = 0; i < options.updaters; ++i) {
        auto updater = std::make_unique<load::Updater>(i, settings, tally, rounds);
        updaters.push_back(updater.get());
        clients.push_back(std::move(updater));
    }
    for (int i = 0; i < options.webUpdaters; ++i) clients.push_back(std::make_unique<load::WebUpdater>(settings, tally));
    for (int i = 0; i < options.readers; ++i) clients.push_back(std::make_unique<load::TreeReader>(i, settings, tally));
    // At shutdown the rounds stop; changes are not checked while the service goes.
    if (!settings.untilShutdown) rounds.setUpdaters(updaters);

    // The clients start one after the other: a burst of new connections
    // beyond the service's short listen queue would wait for the handshake's
    // retry, a second or more.
    auto start = std::chrono::steady_clock::now();
    auto end = start + std::chrono::seconds(options.seconds);
    for (;;) {
        auto started = std::min(clients.size(), static_cast<size_t>((std::chrono::steady_clock::now() - start) / START_PACE) + 1);
        for (size_t i = 0; i < started; ++i) clients[i]->advance();
        rounds.advance();
        std::vector<load::Exchange*> waiting;
        for (auto& client : clients) client->pending(waiting);
        rounds.pending(waiting);
        bool timeUp = std::chrono::steady_clock::now() >= end;
        if (settings.untilShutdown) {
            if (waiting.empty()) break;  // every client saw the service go
            if (timeUp) {
                tally.problem("the service was still serving after " + std::to_string(options.seconds) + " s");
                break;
            }
        } else {
            if (timeUp) rounds.stop();
            if (rounds.isFinished()) break;  // held requests are left to the close below
        }
        std::vector<pollfd> fds;
        for (load::Exchange* exchange : waiting) fds.push_back({exchange->fd(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 50) < 0 && errno != EINTR) throw std::runtime_error(strerror(errno));
        for (size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents != 0) waiting[i]->readable();
    }
    printf("rounds %ld, updates %ld direct %ld web, trees %ld, refused %ld, lost %ld, malformed %ld", tally.rounds,
           tally.updates, tally.webUpdates, tally.trees, tally.refused, tally.lost, tally.malformed);
    if (settings.untilShutdown) printf(", ended at shutdown %ld", tally.endedAtShutdown);
    printf("\n");
    return tally.problems.empty() ? 0 : 1;
} catch (const std::exception& error) {
    fprintf(stderr, "loadclient: %s\n", error.what());
    return 2;
}
