#include "tools/store/areas.h"

#include "apps/common/log/log.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string objectName(unsigned int mem) { return std::string("/") + gen::MEMORY_ARRAY[mem].name; }

// Not SharedMemory::create: an area object that created its area removes it
// again on exit, and the tool's areas must outlive the tool.
void makeArea(std::string const& name, uint32_t size) {
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0666);
    if (fd < 0) THROW_ERROR_NUMBER(name.c_str());
    bool made = fchmod(fd, 0666) == 0 && ftruncate(fd, 0) == 0 && ftruncate(fd, size + sizeof size) == 0 &&
                pwrite(fd, &size, sizeof size, 0) == static_cast<ssize_t>(sizeof size);
    int error = errno;
    close(fd);
    errno = error;
    if (!made) THROW_ERROR_NUMBER(name.c_str());
}
}  // namespace

void store::makeAreas() {
    for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) makeArea(objectName(mem), gen::gAreas[mem].getSize());
}

unsigned int store::removeAreas() {
    unsigned int removed = 0;
    for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
        if (shm_unlink(objectName(mem).c_str()) == 0)
            ++removed;
        else if (errno != ENOENT)
            THROW_ERROR_NUMBER(objectName(mem).c_str());
    }
    return removed;
}

void store::attachAreas() {
    for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
        gen::gAreas[mem].open();
        *gen::AREA_POINTERS[mem] = gen::gAreas[mem].address();
    }
}

store::Place store::findVariable(std::string const& name) {
    std::string::size_type dot = name.find('.');
    std::string area = dot == std::string::npos ? "" : name.substr(0, dot);
    std::string variable = dot == std::string::npos ? name : name.substr(dot + 1);
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        if (!area.empty() && area != Introspection::getMemName(mem)) continue;
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var)
            if (variable == Introspection::getVarName(mem, var)) return {mem, var};
    }
    throw std::runtime_error("Unknown variable " + name);
}
