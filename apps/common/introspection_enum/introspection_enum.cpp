#include "apps/common/introspection_enum/introspection_enum.h"

#include "apps/common/log/log.h"

#include <cstring>
#include <sstream>

namespace {
EnumInfo const& enumeration(unsigned int idx) {
    if (idx >= gen::ENUM_ARRAY_SIZE) THROW_ERROR("Index exceeds limit");
    return gen::ENUM_ARRAY[idx];
}
}  // namespace

unsigned int IntrospectionEnum::getEnumEntryCount(unsigned int idx) { return enumeration(idx).count; }

char const* IntrospectionEnum::getEnumEntryName(unsigned int idx, unsigned int entry) {
    EnumInfo const& info = enumeration(idx);
    if (entry >= info.count) THROW_ERROR("Index exceeds limit");
    return info.entries[entry];
}

unsigned int IntrospectionEnum::getEnumIndex(char const* name) {
    if (name == nullptr) name = "";
    for (unsigned int idx = 0; idx < gen::ENUM_ARRAY_SIZE; ++idx)
        if (std::strcmp(name, gen::ENUM_ARRAY[idx].name) == 0) return idx;
    THROW_ERROR("Unknown enum \"%s\"", name);
}

std::string IntrospectionEnum::printEnum(std::string const& value, std::string const& typeName) {
    EnumInfo const& info = gen::ENUM_ARRAY[getEnumIndex(typeName.c_str())];
    std::ostringstream text;
    text << "{ \"value\": \"" << value << "\", \"type\": \"" << typeName << "\", \"textid\": [ ";
    for (uint32_t entry = 0; entry < info.count; ++entry) text << (entry ? "," : "") << '"' << info.entries[entry] << '"';
    text << "]}";
    return text.str();
}
