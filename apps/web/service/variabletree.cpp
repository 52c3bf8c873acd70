// The whole variable store as one JSON tree (all.cgi), assembled in one
// buffer from the kept value texts and sent with one write.
#include "apps/common/introspection/introspection.h"
#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"
#include "apps/web/service/requesthandler.h"

#include <string>

void RequestHandler::answerAll(Request* request) {
    LOG(LogLight, "Request %s from %s to %s by %s", loggable(request->params["SCRIPT_FILENAME"]).c_str(),
        loggable(request->params["REMOTE_ADDR"]).c_str(), loggable(request->params["SERVER_ADDR"]).c_str(),
        loggable(request->params["HTTP_USER_AGENT"]).c_str());
    // Appended, not assigned: assigning a temporary would drop the buffer's memory.
    allAnswer.clear();
    allAnswer += changeHeader();
    allAnswer += "{\r\n\"id\": ";
    allAnswer += std::to_string(request->requestId());
    allAnswer += ",\r\n\"variables\": {";
    createJsonTree(allAnswer);
    allAnswer += "}}\r\n";
    request->end(allAnswer);
}

void RequestHandler::createJsonTree(std::string& out) {
    unsigned int memCount = Introspection::getMemCount();
    for (unsigned int mem = 0; mem < memCount; ++mem) {
        out += '"';
        out += Introspection::getMemName(mem);
        out += "\" : {";
        unsigned int varCount = Introspection::getVarCount(mem);
        for (unsigned int var = 0; var < varCount; ++var) {
            out += '"';
            out += Introspection::getVarName(mem, var);
            out += "\" : ";
            out += valueTexts.text(mem, var);
            if (var + 1 < varCount) out += ',';
        }
        out += '}';
        if (mem + 1 < memCount) out += ',';
    }
}
