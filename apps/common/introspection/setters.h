#pragma once
// Base-type getters and setters the catalogue points to, and the write
// primitives that post a variable's change event only when its value changes.
#include "apps/common/event/notify.h"
#include "apps/common/introspection/introspection.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <type_traits>

std::string getBoolIntrospection(void* address, int index);
std::string getIntIntrospection(void* address, int index);
std::string getFloatIntrospection(void* address, int index);
std::string getStringIntrospection(void* address, int index);
std::string getBufferIntrospection(void* address, unsigned int length);
std::string getBuffer1Introspection(void* address, int index);
std::string getBuffer3Introspection(void* address, int index);
std::string getBuffer4Introspection(void* address, int index);
std::string getBuffer64Introspection(void* address, int index);

std::string setBoolIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);
std::string setIntIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);
std::string setFloatIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);
std::string setStringIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);
std::string setBufferIntrospection(char* payload, unsigned int length, unsigned int mem, unsigned int var, Notify event,
                                   char const* value);
std::string setBuffer1Introspection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);
std::string setBuffer3Introspection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);
std::string setBuffer4Introspection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);
std::string setBuffer64Introspection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value);

std::string setJson(char* payload, unsigned int mem, unsigned int var, Notify event, JsonPairs const& pairs);

// Bytes of one value of a variable: one element for a list of structures, the
// capacity of a string, the length of a buffer (0 when the record lacks it).
std::size_t valueSize(VariableInfo const& info);

// Raises "Index exceeds limit" unless index names an element of the variable:
// 0 for anything but a list of structures, else below its element count.
void checkElementIndex(VariableInfo const& info, uint32_t index);

template <typename T>
void setVariable(T& variable, Notify event, T const& value) {
    if (std::memcmp(&variable, &value, sizeof(T)) == 0) return;
    std::memcpy(&variable, &value, sizeof(T));
    postEvent(event);
}

template <typename C, std::size_t N>
void setVariable(std::array<C, N>& variable, Notify event, char const* text) {
    static_assert(std::is_same_v<C, char>, "text variables only");
    if (std::strncmp(variable.data(), text, N) == 0 && std::strlen(text) < N) return;
    std::size_t length = std::min(std::strlen(text), N - 1);
    std::memcpy(variable.data(), text, length);
    variable[length] = '\0';
    postEvent(event);
}
