// store: the other side of the variable store for tests, the demo and
// benchmarks. Makes, fills, lists, dumps and removes the shared-memory areas,
// and reads and writes single variables as text.
#include "apps/common/introspection/introspection.h"
#include "tools/store/access.h"
#include "tools/store/areas.h"
#include "tools/store/defaults.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
using Arguments = std::vector<std::string>;

int create(Arguments const&) {
    store::makeAreas();
    store::attachAreas();
    store::fillDefaults();
    return 0;
}

int remove(Arguments const&) {
    std::printf("removed %u areas\n", store::removeAreas());
    return 0;
}

int list(Arguments const&) {
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem)
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var)
            std::printf("%-18s %3u %-36s %-28s %6u\n", Introspection::getMemName(mem), var,
                        Introspection::getVarName(mem, var), Introspection::getVarType(mem, var),
                        Introspection::variable(mem, var).offset);
    return 0;
}

void dumpVariable(unsigned int mem, unsigned int var) {
    VariableInfo const& info = Introspection::variable(mem, var);
    std::size_t size = Introspection::getVarSize(mem, var);
    std::printf("%s.%s @%u, %zu bytes:", Introspection::getMemName(mem), info.name, info.offset, size);
    unsigned char const* bytes = static_cast<unsigned char const*>(*info.memory) + info.offset;
    for (std::size_t at = 0; at < size; ++at) {
        if (at % 32 == 0 && size > 32) std::printf("\n  %6zu:", at);
        std::printf(" %02x", bytes[at]);
    }
    std::printf("\n");
}

int dump(Arguments const& arguments) {
    if (arguments.size() != 1) throw std::invalid_argument("dump takes a variable name or --all");
    store::attachAreas();
    if (arguments[0] != "--all") {
        store::Place place = store::findVariable(arguments[0]);
        dumpVariable(place.mem, place.var);
        return 0;
    }
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem)
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) dumpVariable(mem, var);
    return 0;
}

struct Command {
    char const* name;
    char const* usage;
    int (*run)(Arguments const&);
};

Command const COMMANDS[] = {
    {"create", "create             make all areas in /dev/shm with a default device state", create},
    {"remove", "remove             remove all areas", remove},
    {"list", "list               every variable: area, index, name, type, offset", list},
    {"dump", "dump NAME|--all    raw bytes of a variable (Name or Area.Name) or of all", dump},
    {"get", "get NAME [INDEX]   a variable's value as text (every element of a list unless INDEX)", store::getCommand},
    {"set", "set NAME VALUE [INDEX]  write a value as text (a structure: a JSON object of fields)",
     store::setCommand},
};

int usage() {
    std::fprintf(stderr, "usage: store COMMAND\n");
    for (Command const& command : COMMANDS) std::fprintf(stderr, "  store %s\n", command.usage);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    for (Command const& command : COMMANDS) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        try {
            return command.run(Arguments(argv + 2, argv + argc));
        } catch (std::exception const& error) {
            std::fprintf(stderr, "store %s: %s\n", command.name, error.what());
            return 1;
        }
    }
    return usage();
}
