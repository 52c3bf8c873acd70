#include "tools/loadclient/clients.h"

#include "tools/loadclient/rounds.h"

#include <cstdio>

namespace load {

namespace {
const std::string JSON_HEADER = "Content-type: application/json\r\n\r\n";
const std::string SEQUENCE_HEADER = "X-Change-Sequence: ";
// Answered at once with the failure object: the cheapest request there is.
const char* const CHECK_SCRIPT = "/api/v1/held-check";
}  // namespace

void Tally::problem(const std::string& text) {
    if (problems.size() < 20) fprintf(stderr, "loadclient: %s\n", text.c_str());
    problems.push_back(text);
}

// The variable answers name their change point in a header before the JSON one.
nlohmann::json answerJson(const std::string& output) {
    size_t start = output.starts_with(SEQUENCE_HEADER) ? output.find("\r\n") + 2 : 0;
    if (output.compare(start, JSON_HEADER.size(), JSON_HEADER) != 0) return nlohmann::json::value_t::discarded;
    return nlohmann::json::parse(output.substr(start + JSON_HEADER.size()), nullptr, false);
}

namespace {
bool isUpdateBody(const nlohmann::json& answer) {
    return answer.is_object() && answer["errors"].is_array() && answer["errors"].empty() &&
           answer["variables"].is_object();
}
}  // namespace

Updater::Updater(int index, const Settings& settings, Tally& tally, Rounds& rounds)
    : index(index), settings(settings), tally(tally), rounds(rounds) {}

// The update request goes on a kept connection, as the front web server
// sends it; the check needs a new one, made after the update request left.
void Updater::poll() {
    const Params params{{"SCRIPT_NAME", "/api/v1/update.cgi"}};
    if (!update || !update->again(requestId(), params))
        update = Exchange::fastcgi(settings.fcgiPort, requestId(), params, "", true);
    waiting = true;
    check = Exchange::fastcgi(settings.fcgiPort, requestId(), {{"SCRIPT_NAME", CHECK_SCRIPT}});
}

// The update request first: when the service refused it, it closed it
// before it even took the check request, so both show in the same pass.
void Updater::advance() {
    if (waiting && update->status() != Exchange::Status::Pending) finish();
    if (check && check->status() != Exchange::Status::Pending) {
        bool refused = check->status() == Exchange::Status::Closed;
        check.reset();
        if (refused && waiting && !settings.untilShutdown) {
            ++tally.refused;
            check = Exchange::fastcgi(settings.fcgiPort, requestId(), {{"SCRIPT_NAME", CHECK_SCRIPT}});
        } else {
            held = waiting && !refused;
        }
    }
    if (!waiting && !stopping) poll();
}

void Updater::finish() {
    bool wasHeld = held;
    held = waiting = false;
    std::string who = "updater " + std::to_string(index);
    if (update->status() == Exchange::Status::Closed) {
        update.reset();
        // A request the service had taken must be ended properly; one it
        // refused, with its table full, is simply sent again.
        if (wasHeld) {
            ++tally.lost;
            tally.problem(who + ": connection closed without an end record while held");
        } else {
            ++tally.refused;
        }
        if (settings.untilShutdown) stop();
        return;
    }
    if (settings.untilShutdown && update->output().empty()) {
        ++tally.endedAtShutdown;
        stop();
        return;
    }
    nlohmann::json answer = answerJson(update->output());
    if (!isUpdateBody(answer) || answer["id"] != requestId()) {
        ++tally.malformed;
        tally.problem(who + ": malformed answer: " + update->output().substr(0, 200));
        return;
    }
    ++tally.updates;
    if (!settings.untilShutdown) rounds.answered(*this, answer["variables"]);
}

void Updater::pending(std::vector<Exchange*>& list) {
    if (waiting && update->status() == Exchange::Status::Pending) list.push_back(update.get());
    if (check && check->status() == Exchange::Status::Pending) list.push_back(check.get());
}

void WebUpdater::advance() {
    if (update && update->status() != Exchange::Status::Pending) {
        std::unique_ptr<Exchange> done = std::move(update);
        // The front server answers 502 when the service refused or was gone.
        if (done->status() == Exchange::Status::Answered && done->httpStatus() == 502) {
            ++tally.refused;
            if (settings.untilShutdown) stop();
        } else if (settings.untilShutdown && done->status() == Exchange::Status::Closed) {
            stop();
        } else if (done->status() != Exchange::Status::Answered || done->httpStatus() != 200 ||
                   !isUpdateBody(nlohmann::json::parse(done->output(), nullptr, false))) {
            ++tally.malformed;
            tally.problem("web updater: malformed answer (HTTP " + std::to_string(done->httpStatus()) +
                          "): " + done->output().substr(0, 200));
        } else {
            ++tally.webUpdates;
        }
    }
    if (!update && !stopping) update = Exchange::http(settings.httpPort, "GET", "/api/v1/update.cgi");
}

void WebUpdater::pending(std::vector<Exchange*>& list) {
    if (update && update->status() == Exchange::Status::Pending) list.push_back(update.get());
}

// all.cgi on one kept connection, one request after the other.
void TreeReader::advance() {
    uint16_t id = static_cast<uint16_t>(200 + index);
    if (waiting && tree->status() != Exchange::Status::Pending) {
        waiting = false;
        nlohmann::json answer = answerJson(tree->output());
        if (tree->status() == Exchange::Status::Closed) {
            tree.reset();
            ++tally.refused;  // sent again, unless the service is going
            if (settings.untilShutdown) stop();
        } else if (settings.untilShutdown && tree->output().empty()) {
            stop();  // a request the service took just before it ended, ended unanswered
        } else if (tree->status() != Exchange::Status::Answered || !answer.is_object() || answer["id"] != id ||
                   !answer["variables"].is_object() || answer["variables"].size() != 18) {
            ++tally.malformed;
            tally.problem("tree reader: malformed all.cgi answer: " + tree->output().substr(0, 200));
        } else {
            ++tally.trees;
        }
    }
    if (waiting || stopping) return;
    const Params params{{"SCRIPT_NAME", "/api/v1/all.cgi"}};
    if (!tree || !tree->again(id, params)) tree = Exchange::fastcgi(settings.fcgiPort, id, params, "", true);
    waiting = true;
}

void TreeReader::pending(std::vector<Exchange*>& list) {
    if (waiting && tree->status() == Exchange::Status::Pending) list.push_back(tree.get());
}

}  // namespace load
