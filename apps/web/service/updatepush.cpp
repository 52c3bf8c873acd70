// Change recording and the long-poll answers of update.cgi.
#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/web/service/requesthandler.h"

#include <any>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <string>

void RequestHandler::handleEvent(const Notify& event) {
    // The broker relays only numbers of the event table; a larger one is noise.
    if (event.id >= gen::EVENT_NAME_SIZE) return;
    if (variableLogging.as<bool>()) logVariableChange(event);
    changedVariables.set(event.id);
}

void RequestHandler::logVariableChange(const Notify& event) {
    unsigned int mem = 0, var = 0;
    Introspection::getVarLocation(event, mem, var);
    std::ostringstream text;
    text << Introspection::getMemName(mem) << "." << Introspection::getVarName(mem, var) << ": ";
    text << valueTexts.text(mem, var);
    LOG(LogLight, "%s", text.str().c_str());
}

std::string RequestHandler::buildUpdateBody() {
    std::string errors;
    std::ostringstream variables;
    bool firstMemory = true, firstVariable = true;
    unsigned int previousMemory = ~0u;
    for (unsigned int id = 0; id < changedVariables.size(); ++id) {
        if (!changedVariables.test(id)) continue;
        changedVariables.reset(id);
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

void RequestHandler::sendUpdate() {
    if (changedVariables.none()) return;
    std::string body = buildUpdateBody();
    for (auto& [id, request] : fcgi.requests) {
        const int* tag = std::any_cast<int>(&request->userData);
        if (tag == nullptr || *tag != UPDATE_REQUEST) continue;
        try {
            request->output() << "{\r\n" << "\"id\": " << request->requestId() << ",\r\n" << body;
            request->end();
        } catch (const std::exception&) {
            LOG(Error, "Could not send updates to request %i", id);
        }
    }
}
