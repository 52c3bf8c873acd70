// Change recording and the long-poll answers of update.cgi.
#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/web/service/requesthandler.h"

#include <algorithm>
#include <any>
#include <exception>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {
// The value of "since=" in a query string, if the query has one.
std::optional<std::string_view> sinceParameter(std::string_view query) {
    static constexpr std::string_view key = "since=";
    while (!query.empty()) {
        std::string_view pair = query.substr(0, query.find('&'));
        if (pair.starts_with(key)) return pair.substr(key.size());
        query.remove_prefix(std::min(query.size(), pair.size() + 1));
    }
    return std::nullopt;
}

// The change event of every variable of the catalogue: what a client that
// lost track of the changes needs to be current again.
const ChangeSequence::Selection& everyVariable() {
    static const ChangeSequence::Selection events = [] {
        ChangeSequence::Selection all;
        for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem)
            for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
                unsigned int event = Introspection::getVarEvent(mem, var).id;
                if (event < all.size()) all.set(event);
            }
        return all;
    }();
    return events;
}
}  // namespace

void RequestHandler::handleEvent(const Notify& event) {
    // The broker relays only numbers of the event table; a larger one is noise.
    if (event.id >= gen::EVENT_NAME_SIZE) return;
    if (variableLogging.isSet()) logVariableChange(event);
    changedVariables.set(event.id);
    changes.record(event.id);
}

void RequestHandler::logVariableChange(const Notify& event) {
    unsigned int mem = 0, var = 0;
    Introspection::getVarLocation(event, mem, var);
    std::ostringstream text;
    text << Introspection::getMemName(mem) << "." << Introspection::getVarName(mem, var) << ": ";
    text << valueTexts.text(mem, var);
    LOG(LogLight, "%s", text.str().c_str());
}

// Without "since" the request waits for the next change, as it always has.
// With a token of this run it waits for a change after that point, which may
// have come already; any other token cannot be trusted to say what the
// client holds, so it gets every variable at once.
void RequestHandler::holdUpdate(Request* request) {
    auto since = sinceParameter(request->params["QUERY_STRING"]);
    if (!since) {
        request->userData = UPDATE_REQUEST;
        return;
    }
    if (auto point = changes.pointOf(*since)) {
        request->userData = UpdateSince{*point};
        return;
    }
    answerUpdate(*request, changeHeader(), buildUpdateBody(everyVariable()));
}

bool RequestHandler::updateDue() const {
    if (changedVariables.any()) return true;
    for (const auto& [id, request] : fcgi.requests) {
        const auto* since = std::any_cast<UpdateSince>(&request->userData);
        if (since != nullptr && changes.changedSince(since->point)) return true;
    }
    return false;
}

std::string RequestHandler::changeHeader() const {
    return "X-Change-Sequence: " + changes.token() + "\r\n" + Request::DEFAULT_HEADER;
}

std::string RequestHandler::buildUpdateBody(const ChangeSequence::Selection& selection) {
    std::string errors;
    std::ostringstream variables;
    bool firstMemory = true, firstVariable = true;
    unsigned int previousMemory = ~0u;
    for (unsigned int id = 0; id < selection.size(); ++id) {
        if (!selection.test(id)) continue;
        try {
            unsigned int mem = 0, var = 0;
            Introspection::getVarLocation(Notify{id, 0, 0}, mem, var);
            if (mem == previousMemory) {
                if (!firstVariable) variables << ", ";
            } else {
                if (!firstMemory) variables << "\r\n  }, ";
                variables << "\r\n  \"" << Introspection::getMemName(mem) << "\" : {";
                firstMemory = false;
            }
            previousMemory = mem;
            variables << "\r\n    \"" << Introspection::getVarName(mem, var) << "\" : ";
            variables << valueTexts.text(mem, var);
            firstVariable = false;
        } catch (const std::runtime_error& error) {
            if (!errors.empty()) errors += ",";
            errors += "\"Backend error for variable with index " + std::to_string(id) + ": " + error.what() + "\"\n";
        }
    }
    return "\"errors\": [" + errors + "],\r\n" + "\"variables\": {" + variables.str() + "\r\n  }\r\n}\r\n}\r\n";
}

void RequestHandler::answerUpdate(Request& request, const std::string& header, const std::string& body) {
    request.writeHeader(header.c_str());
    request.output() << "{\r\n" << "\"id\": " << request.requestId() << ",\r\n" << body;
    request.end();
}

// Requests without a point share one body of the changes since the last push;
// those with a point share one per point, usually all the same.
int RequestHandler::sendUpdate() {
    std::string header = changeHeader();
    std::optional<std::string> sinceLastPush;
    std::map<ChangeSequence::Point, std::string> sincePoint;
    int answered = 0;
    for (auto& [id, request] : fcgi.requests) {
        const std::string* body = nullptr;
        const int* tag = std::any_cast<int>(&request->userData);
        const auto* since = std::any_cast<UpdateSince>(&request->userData);
        if (tag != nullptr && *tag == UPDATE_REQUEST && changedVariables.any()) {
            if (!sinceLastPush) sinceLastPush = buildUpdateBody(changedVariables);
            body = &*sinceLastPush;
        } else if (since != nullptr && changes.changedSince(since->point)) {
            auto [entry, added] = sincePoint.try_emplace(since->point);
            if (added) entry->second = buildUpdateBody(changes.changedAfter(since->point));
            body = &entry->second;
        } else {
            continue;
        }
        try {
            answerUpdate(*request, header, *body);
            ++answered;
        } catch (const std::exception&) {
            LOG(Error, "Could not send updates to request %i", id);
        }
    }
    changedVariables.reset();
    return answered;
}
