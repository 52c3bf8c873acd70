#pragma once
// The variable catalogue: where every variable of the store lives, its type,
// limits and change event, and its text accessors.
#include "apps/common/event/notify.h"
#include "apps/common/introspection/json.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum BaseType : int32_t {
    TypeInt = 0,
    TypeFloat = 1,
    TypeBool = 2,
    TypeString = 3,
    TypeBuffer = 4,
    TypeEnum = 5,
    TypeStruct = 6,
};

using JsonPairs = std::vector<std::pair<std::string, Json::ObjectValue>>;
using VarGetter = std::string (*)(void* address, int index);
using VarSetter = std::string (*)(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);

struct StructInfo {
    const char* name;
    uint32_t offset;
    BaseType baseType;
    std::string typeName;
    const std::vector<StructInfo>* fields;
};

struct VariableInfo {
    Notify event;
    const char* name;
    void** memory;  // address of the area's payload pointer (gMemMotors, ...)
    uint32_t offset;
    const char* typeName;
    BaseType baseType;
    VarGetter getter;
    VarSetter setter;
    const char* min;
    const char* max;
    const char* arrayLength;
    bool isArray;
    const std::vector<StructInfo>* structInfo;
    uint32_t elementSize;
};

struct MemoryInfo {
    const char* name;
    VariableInfo* variables;
    uint32_t count;
};

namespace gen {
extern const unsigned int MEMORY_ARRAY_SIZE;
extern MemoryInfo MEMORY_ARRAY[];
}  // namespace gen

class Introspection {
public:
    // Catalogue
    static unsigned int getMemCount();
    static char const* getMemName(unsigned int mem);
    static unsigned int getMemIndex(std::string const& name);
    static unsigned int getVarCount(unsigned int mem);
    static char const* getVarName(unsigned int mem, unsigned int var);
    static char const* getVarType(unsigned int mem, unsigned int var);
    static BaseType getVarBaseType(unsigned int mem, unsigned int var);
    static char const* getVarArrayLen(unsigned int mem, unsigned int var);
    static bool isArray(unsigned int mem, unsigned int var);
    static Notify getVarEvent(unsigned int mem, unsigned int var);
    // Bytes the value occupies in its area (a list: all its elements).
    static std::size_t getVarSize(unsigned int mem, unsigned int var);
    static void getVarLocation(Notify const& event, unsigned int& mem, unsigned int& var);
    static void genEventToVar();

    // Typed value access
    static std::string getVarValue(unsigned int mem, unsigned int var, int index);
    // The value text of the bytes at address: the variable's place in its
    // area or a copy of it ("n/a" for null).
    static std::string valueAt(VariableInfo const& info, char* address, int index);
    static std::string setVarValue(unsigned int mem, unsigned int var, char const* value);
    static std::string setVarValueJson(unsigned int mem, unsigned int var, JsonPairs const& pairs, int index);
    static std::string getVarMin(unsigned int mem, unsigned int var);
    static std::string getVarMax(unsigned int mem, unsigned int var);

    // Value descriptions
    static std::string printValue(std::string const& value, std::string const& type, std::string const& min,
                                  std::string const& max);
    static std::string printBool(bool value);

    // Catalogue record of a checked (mem, var) pair.
    static VariableInfo& variable(unsigned int mem, unsigned int var);
};
