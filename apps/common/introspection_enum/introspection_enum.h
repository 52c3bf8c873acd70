#pragma once
// Name-based access to the generated enumerations and their JSON description.
#include <cstdint>
#include <string>

struct EnumInfo {
    const char* name;
    const char* const* entries;
    uint32_t count;
};

namespace gen {
extern const unsigned int ENUM_ARRAY_SIZE;
extern const EnumInfo ENUM_ARRAY[];
}  // namespace gen

class IntrospectionEnum {
public:
    static unsigned int getEnumEntryCount(unsigned int idx);
    static char const* getEnumEntryName(unsigned int idx, unsigned int entry);
    static unsigned int getEnumIndex(char const* name);
    static std::string printEnum(std::string const& value, std::string const& typeName);
};
