#include "apps/common/sharedmemory/sharedmemory.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr unsigned int SIZE_WORD = sizeof(uint32_t);
}

SharedMemory::SharedMemory(char const* name, unsigned int size)
    : name(std::string("/") + name), size(size), descriptor(-1), mapping(nullptr), data(nullptr), created(false) {}

SharedMemory::~SharedMemory() { close(); }

void SharedMemory::create() {
    close();
    descriptor = shm_open(name.c_str(), O_RDWR | O_CREAT, 0666);
    if (descriptor < 0) THROW_ERROR_NUMBER(name.c_str());
    if (ftruncate(descriptor, size + SIZE_WORD) != 0) THROW_ERROR_NUMBER(name.c_str());
    created = true;
}

void SharedMemory::open() {
    close();
    descriptor = shm_open(name.c_str(), O_RDWR, 0666);
    if (descriptor < 0) THROW_ERROR_NUMBER(name.c_str());
}

void* SharedMemory::address() {
    if (descriptor < 0) THROW_ERROR("Call open or create before asking for the address");
    if (data != nullptr) return data;
    // Touching a mapping beyond the end of the object would kill the process
    // with SIGBUS, so an object too short for its payload is refused first.
    struct stat info;
    if (fstat(descriptor, &info) != 0) THROW_ERROR_NUMBER(name.c_str());
    const auto objectSize = static_cast<uint64_t>(info.st_size);  // never negative
    if (objectSize < uint64_t{size} + SIZE_WORD) {
        // Less than the size word plus `size`, so the payload part fits an unsigned int.
        auto holds = static_cast<unsigned int>(objectSize > SIZE_WORD ? objectSize - SIZE_WORD : 0);
        THROW_ERROR("Memory size missmatch for %s, requested %u, is %u.", name.c_str(), size, holds);
    }
    void* mapped = mmap(nullptr, size + SIZE_WORD, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
    if (mapped == MAP_FAILED) THROW_ERROR_NUMBER(name.c_str());
    uint32_t word = size;
    if (created) {
        std::memcpy(mapped, &word, SIZE_WORD);
    } else {
        std::memcpy(&word, mapped, SIZE_WORD);
        if (word != size) {
            munmap(mapped, size + SIZE_WORD);
            THROW_ERROR("Memory size missmatch for %s, requested %u, is %u.", name.c_str(), size, word);
        }
    }
    mapping = mapped;
    data = static_cast<char*>(mapped) + SIZE_WORD;
    return data;
}

void SharedMemory::close() {
    if (mapping != nullptr) {
        // The log threshold may live in this area; once unmapped, logging
        // (for instance from later destructors at exit) must not read it.
        auto start = reinterpret_cast<std::uintptr_t>(mapping);
        auto threshold = reinterpret_cast<std::uintptr_t>(gComponentLogLevel);
        if (threshold >= start && threshold < start + size + SIZE_WORD) gComponentLogLevel = nullptr;
        munmap(mapping, size + SIZE_WORD);
        mapping = nullptr;
        data = nullptr;
    }
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
    if (created) {
        created = false;
        if (shm_unlink(name.c_str()) != 0) LOG(Error, "%s: %s", name.c_str(), strerror(errno));
    }
}
