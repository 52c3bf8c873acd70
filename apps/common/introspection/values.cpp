#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/introspection_enum/introspection_enum.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
char* payloadOf(VariableInfo const& info) {
    return static_cast<char*>(*info.memory);
}

bool isStructList(VariableInfo const& info) {
    return info.baseType == TypeStruct && info.isArray;
}

// Another process may leave a string field full without a terminator; the
// getter then reads a terminated copy instead of running past the field.
std::string readString(VariableInfo const& info, char* address) {
    std::size_t capacity = valueSize(info);
    if (capacity == 0 || std::memchr(address, 0, capacity) != nullptr) return info.getter(address, 0);
    std::string copy(address, capacity);
    return info.getter(copy.data(), 0);
}

std::string limitOr(char const* limit, char const* fallback) {
    return limit != nullptr ? limit : fallback;
}
}  // namespace

std::string Introspection::getVarValue(unsigned int mem, unsigned int var, int index) {
    VariableInfo const& info = variable(mem, var);
    char* payload = payloadOf(info);
    return valueAt(info, payload != nullptr ? payload + info.offset : nullptr, index);
}

std::string Introspection::valueAt(VariableInfo const& info, char* address, int index) {
    if (address == nullptr) return "n/a";
    if (info.baseType == TypeString) return readString(info, address);
    if (!isStructList(info)) return info.getter(address, 0);
    checkElementIndex(info, static_cast<uint32_t>(index));
    return info.getter(address, index);
}

std::string Introspection::setVarValue(unsigned int mem, unsigned int var, char const* value) {
    VariableInfo const& info = variable(mem, var);
    char* payload = payloadOf(info);
    if (payload == nullptr) return "n/a";
    return info.setter(payload, mem, var, info.event, value != nullptr ? value : "");
}

std::string Introspection::setVarValueJson(unsigned int mem, unsigned int var, JsonPairs const& pairs, int index) {
    VariableInfo& info = variable(mem, var);
    char* payload = payloadOf(info);
    if (payload == nullptr) return "n/a";
    // Checked before it is kept: later writes of the whole variable use it too.
    checkElementIndex(info, static_cast<uint32_t>(index));
    info.event.index = static_cast<uint32_t>(index);
    return setJson(payload, mem, var, info.event, pairs);
}

std::string Introspection::getVarMin(unsigned int mem, unsigned int var) {
    VariableInfo const& info = variable(mem, var);
    switch (info.baseType) {
    case TypeInt:
        return limitOr(info.min, "-2147483648");
    case TypeFloat:
        return limitOr(info.min, "-1e38");
    default:
        return "0";
    }
}

std::string Introspection::getVarMax(unsigned int mem, unsigned int var) {
    VariableInfo const& info = variable(mem, var);
    switch (info.baseType) {
    case TypeInt:
        return limitOr(info.max, "2147483647");
    case TypeFloat:
        return limitOr(info.max, "1e38");
    case TypeBool:
        return "1";
    case TypeString:
    case TypeBuffer:
        return limitOr(info.max, "0");
    case TypeEnum: {
        unsigned int count = IntrospectionEnum::getEnumEntryCount(IntrospectionEnum::getEnumIndex(info.typeName));
        char text[16];
        std::snprintf(text, sizeof text, "%u", count - 1);
        return text;
    }
    default:
        return "0";
    }
}
