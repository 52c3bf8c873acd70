#pragma once
// One catalogue variable found by name once and then read and written in
// place, for the routes that work with fixed variables of the store.
#include "apps/common/event/notify.h"
#include "apps/common/introspection/introspection.h"

#include <array>
#include <cstddef>

class SharedVariable {
public:
    SharedVariable(const char* memory, const char* name);

    template <typename T>
    T& as() const {
        return *reinterpret_cast<T*>(address());
    }
    // A flag as other processes write it: any byte but zero is set. Read as
    // a C++ bool, a byte other than 0 or 1 would be undefined behaviour.
    bool isSet() const {
        return as<unsigned char>() != 0;
    }
    template <std::size_t N>
    std::array<char, N>& text() const {
        checkCapacity(N);
        return as<std::array<char, N>>();
    }
    Notify event() const;
    const char* name() const;

    unsigned int mem;
    unsigned int var;

private:
    char* address() const;
    void checkCapacity(std::size_t capacity) const;
};

// Stores a value and posts the variable's event only when the value changes.
template <typename T>
void storeIfChanged(const SharedVariable& variable, T value);
