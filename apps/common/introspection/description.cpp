#include "apps/common/introspection/introspection.h"

#include <nlohmann/json.hpp>

std::string Introspection::printValue(std::string const& value, std::string const& type, std::string const& min,
                                      std::string const& max) {
    nlohmann::json description;
    description["value"] = value;
    description["type"] = type;
    description["min"] = min;
    description["max"] = max;
    return description.dump();
}

std::string Introspection::printBool(bool value) {
    return std::string("{ \"value\": \"") + (value ? "true" : "false") +
           "\", \"type\": \"bool\", \"textid\": [ \"false\", \"true\" ]}";
}
