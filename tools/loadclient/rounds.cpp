#include "tools/loadclient/rounds.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace load {

namespace {
using namespace std::chrono_literals;
// A held request is answered at the latest about 100 ms after the change
// reaches the service; this only bounds how long a lost one is waited for.
constexpr auto ANSWER_LIMIT = 10s;

std::string currentValue(const std::string& binFolder, const std::string& variable) {
    std::string command = binFolder + "/store get " + variable;
    FILE* pipe = popen(command.c_str(), "r");
    char line[128] = "";
    if (pipe == nullptr) return "";
    if (fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
    pclose(pipe);
    return line;
}
}  // namespace

Rounds::Rounds(const Settings& settings, Tally& tally, std::vector<std::string> variables)
    : settings(settings), tally(tally), variables(std::move(variables)) {
    // Each change must be a change: the first value written differs from what the store holds.
    for (const std::string& variable : this->variables) written[variable] = std::atol(currentValue(settings.binFolder, variable).c_str());
}

bool Rounds::allHeld() const {
    return std::all_of(updaters.begin(), updaters.end(), [](const Updater* updater) { return updater->isHeld(); });
}

void Rounds::advance() {
    if (setRequest && setRequest->status() != Exchange::Status::Pending) {
        if (setRequest->status() == Exchange::Status::Closed) {
            ++tally.refused;
            sendSet();
        } else {
            if (answerJson(setRequest->output()) != nlohmann::json{{"result", 1}})
                tally.problem("set.cgi answered: " + setRequest->output().substr(0, 200));
            setRequest.reset();
        }
    }
    if (waiting) {
        if (answeredThisRound.size() == updaters.size()) {
            waiting = false;
            ++tally.rounds;
        } else if (Clock::now() > deadline) {
            for (const Updater* updater : updaters) {
                if (answeredThisRound.count(updater)) continue;
                ++tally.lost;
                tally.problem("round " + std::to_string(tally.rounds) + ": " + current.memory + "." + current.variable +
                              " changed while updater " + std::to_string(updater->requestId()) +
                              " was held, and it was never answered");
            }
            waiting = false;
            stopping = true;
        }
        return;
    }
    if (!stopping && !setRequest && !updaters.empty() && allHeld()) makeChange();
}

void Rounds::makeChange() {
    long round = tally.rounds;
    const std::string& name = variables[round % variables.size()];
    size_t dot = name.find('.');
    current = {name.substr(0, dot), name.substr(dot + 1), -1};
    long value = round % 97 + 1;
    if (value == written[name]) value = value % 97 + 1;
    switch ((round / variables.size()) % 3) {
    case 0:
        current.value = written[name] = value;
        runTool({"store", "set", name, std::to_string(value)});
        break;
    case 1:
        current.value = written[name] = value;
        sendSet();
        break;
    default:  // the event alone: the answer shows the value the store holds
        current.value = written[name];
        runTool({"broker", "--send", "Var" + current.variable + "Changed"});
        break;
    }
    answeredThisRound.clear();
    waiting = true;
    deadline = Clock::now() + ANSWER_LIMIT;
}

void Rounds::sendSet() {
    setRequest = Exchange::fastcgi(settings.fcgiPort, 1, {{"SCRIPT_NAME", "/api/v1/set.cgi"}},
                                   "{\"" + current.memory + "\": {\"" + current.variable + "\": " +
                                       std::to_string(current.value) + "}}");
}

void Rounds::runTool(const std::vector<std::string>& arguments) {
    std::string path = settings.binFolder + "/" + arguments[0];
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child;
    int status = 0;
    if (posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ) != 0 ||
        waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        if (!settings.untilShutdown) tally.problem(path + " " + arguments[1] + " failed");
    posix_spawn_file_actions_destroy(&actions);
}

void Rounds::answered(const Updater& updater, const nlohmann::json& variables) {
    std::string who = "updater " + std::to_string(updater.requestId());
    if (!waiting) {
        tally.problem(who + " was answered although nothing had changed");
        return;
    }
    if (answeredThisRound.count(&updater)) {
        tally.problem(who + " was answered twice for one change");
        return;
    }
    answeredThisRound[&updater] = true;
    const nlohmann::json* entry = nullptr;
    if (variables.contains(current.memory) && variables[current.memory].contains(current.variable))
        entry = &variables[current.memory][current.variable];
    if (entry == nullptr || (current.value >= 0 && (*entry)["value"] != std::to_string(current.value))) {
        ++tally.lost;
        tally.problem(who + " was held when " + current.memory + "." + current.variable + " changed to " +
                      std::to_string(current.value) + ", but its answer shows " + variables.dump().substr(0, 200));
    }
}

void Rounds::pending(std::vector<Exchange*>& list) {
    if (setRequest && setRequest->status() == Exchange::Status::Pending) list.push_back(setRequest.get());
}

}  // namespace load
