#include "apps/web/service/sharedvariable.h"

#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"

#include <cstdlib>
#include <cstring>

SharedVariable::SharedVariable(const char* memory, const char* name)
    : mem(Introspection::getMemIndex(memory)), var(Introspection::getVarCount(mem)) {
    for (unsigned int candidate = 0; candidate < Introspection::getVarCount(mem); ++candidate) {
        if (strcmp(Introspection::getVarName(mem, candidate), name) == 0) {
            var = candidate;
            return;
        }
    }
    THROW_ERROR("Unknown variable \"%s\" in %s", name, memory);
}

Notify SharedVariable::event() const {
    return Introspection::getVarEvent(mem, var);
}

const char* SharedVariable::name() const {
    return Introspection::getVarName(mem, var);
}

char* SharedVariable::address() const {
    const VariableInfo& info = Introspection::variable(mem, var);
    if (*info.memory == nullptr) THROW_ERROR("Memory %s is not mapped", Introspection::getMemName(mem));
    return static_cast<char*>(*info.memory) + info.offset;
}

void SharedVariable::checkCapacity(std::size_t capacity) const {
    const char* length = Introspection::getVarArrayLen(mem, var);
    if (length == nullptr || strtoul(length, nullptr, 10) != capacity)
        THROW_ERROR("Variable %s is not a text of %zu bytes", name(), capacity);
}

template <typename T>
void storeIfChanged(const SharedVariable& variable, T value) {
    setVariable(variable.as<T>(), variable.event(), value);
}

template void storeIfChanged<int>(const SharedVariable&, int);
template void storeIfChanged<bool>(const SharedVariable&, bool);
