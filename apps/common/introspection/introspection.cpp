// The catalogue operations: finding areas and variables by index or name and
// leading an event back to the variable that owns it.
#include "apps/common/introspection/introspection.h"

#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"

#include <cstdlib>
#include <stdexcept>

namespace {
struct Location {
    unsigned int mem;
    unsigned int var;
};

// Owner of every event number; built on first use, never rebuilt.
Location eventOwner[gen::EVENT_NAME_SIZE];
bool eventOwnersBuilt = false;

MemoryInfo& memory(unsigned int mem) {
    if (mem >= gen::MEMORY_ARRAY_SIZE) THROW_ERROR("Index exceeds limit");
    return gen::MEMORY_ARRAY[mem];
}
}  // namespace

VariableInfo& Introspection::variable(unsigned int mem, unsigned int var) {
    MemoryInfo& area = memory(mem);
    if (var >= area.count) THROW_ERROR("Index exceeds limit");
    return area.variables[var];
}

unsigned int Introspection::getMemCount() { return gen::MEMORY_ARRAY_SIZE; }

char const* Introspection::getMemName(unsigned int mem) { return memory(mem).name; }

unsigned int Introspection::getMemIndex(std::string const& name) {
    for (unsigned int mem = 0; mem < gen::MEMORY_ARRAY_SIZE; ++mem)
        if (name == gen::MEMORY_ARRAY[mem].name) return mem;
    THROW_ERROR("Unknown memory \"%s\"", name.c_str());
}

unsigned int Introspection::getVarCount(unsigned int mem) { return memory(mem).count; }

char const* Introspection::getVarName(unsigned int mem, unsigned int var) { return variable(mem, var).name; }

char const* Introspection::getVarType(unsigned int mem, unsigned int var) { return variable(mem, var).typeName; }

BaseType Introspection::getVarBaseType(unsigned int mem, unsigned int var) { return variable(mem, var).baseType; }

char const* Introspection::getVarArrayLen(unsigned int mem, unsigned int var) {
    return variable(mem, var).arrayLength;
}

bool Introspection::isArray(unsigned int mem, unsigned int var) {
    VariableInfo const& info = variable(mem, var);
    if (!info.isArray) return false;
    if (info.arrayLength == nullptr) throw std::invalid_argument("stoi");
    return std::stoi(info.arrayLength, nullptr, 0) >= 0;
}

Notify Introspection::getVarEvent(unsigned int mem, unsigned int var) { return variable(mem, var).event; }

std::size_t Introspection::getVarSize(unsigned int mem, unsigned int var) {
    VariableInfo const& info = variable(mem, var);
    bool list = info.baseType == TypeStruct && info.isArray && info.arrayLength != nullptr;
    return valueSize(info) * (list ? std::strtoul(info.arrayLength, nullptr, 10) : 1);
}

void Introspection::genEventToVar() {
    for (unsigned int mem = 0; mem < gen::MEMORY_ARRAY_SIZE; ++mem) {
        MemoryInfo const& area = gen::MEMORY_ARRAY[mem];
        for (unsigned int var = 0; var < area.count; ++var) {
            uint32_t id = area.variables[var].event.id;
            // Later records win, so an area's own record beats a copy listed earlier.
            if (id < gen::EVENT_NAME_SIZE) eventOwner[id] = {mem, var};
        }
    }
    eventOwnersBuilt = true;
}

void Introspection::getVarLocation(Notify const& event, unsigned int& mem, unsigned int& var) {
    if (!eventOwnersBuilt) genEventToVar();
    // A number beyond the table (a newer or corrupted sender) is nobody's event.
    Location owner = event.id < gen::EVENT_NAME_SIZE ? eventOwner[event.id] : Location{0, 0};
    mem = owner.mem;
    var = owner.var;
}
