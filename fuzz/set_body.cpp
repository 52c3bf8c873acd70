// set.cgi bodies through the whole route: the tokenizer, nested objects,
// "Index" and every setter of the catalogue. Bodies are either the raw input
// or built from the catalogue with the input choosing names, values, quoting
// and nesting. Every answer must be the result object, and every change to
// the store must lie inside a variable whose change event was posted (or be
// the part of a buffer written before a bad digit).
#include "fuzz/support/service.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {


std::string quoted(FuzzedDataProvider& data, const std::string& text) {
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0: return "\"" + text + "\"";
    case 1: return "'" + text + "'";
    case 2: return text;
    default: return "\"" + text;  // unterminated
    }
}

std::string blank(FuzzedDataProvider& data) {
    static const char* const BLANKS[] = {"", "", " ", "\r\n", "\t "};
    return data.PickValueInArray(BLANKS);
}

// A value as the tokenizer and the setters may see one.
std::string valueText(FuzzedDataProvider& data, const char* min, const char* max) {
    static const char* const SPECIAL[] = {"0", "-1", "1e999", "nan", "-2147483649", "4294967296", "true", "false",
                                          "0x10", "", " ", "1.5", "-0", "99999999999999999999", "Warn", "{}"};
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0: return data.PickValueInArray(SPECIAL);
    case 1: return min != nullptr ? min : "0";
    case 2: return max != nullptr ? max : "1";
    default: return data.ConsumeRandomLengthString(80);
    }
}

std::string indexEntry(FuzzedDataProvider& data, const VariableInfo& info) {
    static const char* const WILD[] = {"-1", "x", "99999999999", "2147483648", "", "1.9", " 3"};
    std::string index;
    if (data.ConsumeBool() && info.arrayLength != nullptr)
        index = std::to_string(data.ConsumeIntegralInRange<long>(-1, strtol(info.arrayLength, nullptr, 10)));
    else
        index = data.PickValueInArray(WILD);
    return quoted(data, "Index") + blank(data) + ":" + blank(data) + quoted(data, index);
}

// {"Area": {"Variable": value}} or, for a structure, {"Area": {["Index": n,] "Variable": {"Field": value, ...}}}.
std::string catalogueBody(FuzzedDataProvider& data) {
    unsigned int mem = data.ConsumeIntegralInRange<unsigned int>(0, Introspection::getMemCount() - 1);
    unsigned int var = data.ConsumeIntegralInRange<unsigned int>(0, Introspection::getVarCount(mem) - 1);
    const VariableInfo& info = Introspection::variable(mem, var);
    std::string value;
    if (info.baseType == TypeStruct && info.structInfo != nullptr && !info.structInfo->empty()) {
        value = "{";
        for (int count = data.ConsumeIntegralInRange(0, 4); count > 0; --count) {
            const StructInfo& field = info.structInfo->at(data.ConsumeIntegralInRange<size_t>(0, info.structInfo->size() - 1));
            if (value.size() > 1) value += ",";
            value += blank(data) + quoted(data, field.name) + ":" + blank(data) + quoted(data, valueText(data, nullptr, nullptr));
        }
        value += blank(data) + "}";
    } else {
        value = quoted(data, valueText(data, info.min, info.max));
    }
    std::string inner = quoted(data, info.name) + ":" + blank(data) + value;
    if (data.ConsumeBool()) inner = data.ConsumeBool() ? indexEntry(data, info) + "," + inner : inner + "," + indexEntry(data, info);
    std::string body = "{" + blank(data) + quoted(data, Introspection::getMemName(mem)) + ":" + blank(data) + "{" + inner + "}}";
    if (data.ConsumeProbability<float>() < 0.1f) body = "{\"X\": " + body + "}";  // one level too deep
    if (data.ConsumeProbability<float>() < 0.1f) body.resize(data.ConsumeIntegralInRange<size_t>(0, body.size()));
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static fuzzsupport::Service service;
    service.resetStore();
    FuzzedDataProvider data(bytes, size);
    std::string body = data.ConsumeBool() ? catalogueBody(data) : data.ConsumeRemainingBytesAsString();

    std::string output = service.serve({{"SCRIPT_NAME", "/api/v1/set.cgi"}, {"REQUEST_METHOD", "POST"}}, body);
    std::string header = Request::DEFAULT_HEADER;
    FUZZ_EXPECT(output.starts_with(header), "the answer lacks its header");
    nlohmann::json answer = nlohmann::json::parse(output.substr(header.size()), nullptr, false);
    FUZZ_EXPECT(answer.is_object() && answer.contains("result"), "the answer is not the result object");
    FUZZ_EXPECT(answer["result"] == 1 || (answer["result"] == 0 && answer["error"].is_string()),
                "the result is neither success nor an error text");
    service.expectChangesAnnounced();
    return 0;
}
