// Writing one variable from a set.cgi body.
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/json.h"
#include "apps/common/introspection/jsontext.h"
#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"
#include "apps/web/service/requesthandler.h"

#include <cstring>
#include <exception>
#include <string>

namespace {
// Each descent copies the nested text, so deep nesting of a large body would
// cost quadratic memory; real bodies are a few hundred bytes two levels deep.
constexpr std::size_t MAX_BODY = 1 << 20;
constexpr int MAX_DEPTH = 32;

bool findVariable(unsigned int mem, const std::string& name, unsigned int& var) {
    for (var = 0; var < Introspection::getVarCount(mem); ++var)
        if (name == Introspection::getVarName(mem, var)) return true;
    return false;
}

// A structure write addresses an element: inside its list, or 0 for a single structure.
bool isElementInside(unsigned int mem, unsigned int var, int index) {
    if (!Introspection::isArray(mem, var)) return index == 0;
    return index >= 0 && index < std::stoi(Introspection::getVarArrayLen(mem, var), nullptr, 10);
}

void parseError(std::stringstream& error, const Json& reader) {
    error << "JSON parse error at " << reader.errorPos << ".\r\n";
}
}  // namespace

void RequestHandler::answerSet(Request* request) {
    std::stringstream error;
    bool result = setVars(request->postData, error);
    request->output() << "{" << "\"result\": " << (result ? "1" : "0");
    if (!result) request->output() << ", \"error\": \"" << jsontext::unicodeEscaped(error.str()) << "\"";
    request->output() << " }";
    request->end();
}

bool RequestHandler::setVars(const std::string& body, std::stringstream& error) {
    if (body.size() > MAX_BODY) {
        error << "Body too large";
        return false;
    }
    Json reader;
    if (!reader.parse(body)) {
        parseError(error, reader);
        return false;
    }
    if (reader.entries.empty()) return false;
    std::string memoryName = reader.entries.front().first;
    std::string variableName;
    for (int depth = 0; reader.entries.back().second.isObject; ++depth) {
        std::size_t known = reader.entries.size();
        std::string nested = reader.entries.back().second.value;
        if (!reader.parse(nested)) {
            parseError(error, reader);
            return false;
        }
        // A nested text that adds nothing would be parsed again without end.
        if (reader.entries.size() == known || depth >= MAX_DEPTH) return false;
        if (variableName.empty()) variableName = reader.entries.back().first;
    }
    try {
        int index = 0;
        for (const auto& [key, value] : reader.entries)
            if (key == "Index") index = std::stoi(value.value, nullptr, 10);
        unsigned int mem = Introspection::getMemIndex(memoryName);
        unsigned int var = 0;
        if (!findVariable(mem, variableName, var)) return false;
        if (Introspection::getVarBaseType(mem, var) == TypeStruct) {
            if (!isElementInside(mem, var, index)) return false;
            Introspection::setVarValueJson(mem, var, reader.entries, index);
        } else {
            Introspection::setVarValue(mem, var, reader.entries.back().second.value.c_str());
        }
    } catch (const std::exception& failure) {
        LOG(Warn, "Setting %s.%s failed: %s", loggable(memoryName).c_str(), loggable(variableName).c_str(),
            failure.what());
        return false;
    }
    return true;
}
