// The whole variable store as one JSON tree (all.cgi), and the value texts
// that the update push shares.
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "apps/common/log/log.h"
#include "apps/web/service/requesthandler.h"

#include <exception>
#include <string>

void RequestHandler::answerAll(Request* request) {
    LOG(LogLight, "Request %s from %s to %s by %s", request->params["SCRIPT_FILENAME"].c_str(),
        request->params["REMOTE_ADDR"].c_str(), request->params["SERVER_ADDR"].c_str(),
        request->params["HTTP_USER_AGENT"].c_str());
    request->writeHeader(changeHeader().c_str());
    request->output() << "{\r\n";
    request->output() << "\"id\": " << request->requestId() << ",\r\n";
    request->output() << "\"variables\": {";
    createJsonTree(request->output());
    request->output() << "}}\r\n";
    request->end();
}

void RequestHandler::createJsonTree(std::ostream& out) {
    unsigned int memCount = Introspection::getMemCount();
    for (unsigned int mem = 0; mem < memCount; ++mem) {
        out << "\"" << Introspection::getMemName(mem) << "\" : {";
        unsigned int varCount = Introspection::getVarCount(mem);
        for (unsigned int var = 0; var < varCount; ++var) {
            out << "\"" << Introspection::getVarName(mem, var) << "\" : ";
            printVariable(mem, var, out);
            if (var + 1 < varCount) out << ",";
        }
        out << "}";
        if (mem + 1 < memCount) out << ",";
    }
}

void RequestHandler::printVariable(unsigned int mem, unsigned int var, std::ostream& out) {
    BaseType type = Introspection::getVarBaseType(mem, var);
    if (Introspection::isArray(mem, var) && type != TypeString && type != TypeBuffer) {
        int count = std::stoi(Introspection::getVarArrayLen(mem, var), nullptr, 10);
        out << "[";
        for (int index = 0; index < count; ++index) {
            printValue(mem, var, out, index);
            if (index + 1 < count) out << ",";
        }
        out << "]";
        return;
    }
    printValue(mem, var, out, 0);
}

void RequestHandler::printValue(unsigned int mem, unsigned int var, std::ostream& out, int index) {
    try {
        switch (Introspection::getVarBaseType(mem, var)) {
        case TypeStruct:
            out << Introspection::getVarValue(mem, var, index);
            break;
        case TypeEnum:
            out << IntrospectionEnum::printEnum(Introspection::getVarValue(mem, var, 0), Introspection::getVarType(mem, var));
            break;
        case TypeBool:
            out << Introspection::printBool(Introspection::getVarValue(mem, var, 0) == "true");
            break;
        case TypeBuffer:
            out << Introspection::printValue(Introspection::getVarValue(mem, var, 0), "string",
                                             Introspection::getVarMin(mem, var), Introspection::getVarMax(mem, var));
            break;
        default:
            out << Introspection::printValue(Introspection::getVarValue(mem, var, 0), Introspection::getVarType(mem, var),
                                             Introspection::getVarMin(mem, var), Introspection::getVarMax(mem, var));
            break;
        }
    } catch (const std::exception& error) {
        out << "\"ERROR\": \"" << error.what() << "\"";
    }
}
