#pragma once
// One named POSIX shared-memory area of the variable store: a 32-bit size word
// followed by the payload whose layout the catalogue fixes.
#include <string>

class SharedMemory {
public:
    SharedMemory(char const* name, unsigned int size);
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    void create();
    void open();
    void* address();
    void close();

    const std::string& getName() const { return name; }
    unsigned int getSize() const { return size; }

private:
    std::string name;
    unsigned int size;
    int descriptor;
    void* mapping;
    void* data;
    bool created;
};
