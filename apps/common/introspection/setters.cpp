#include "apps/common/introspection/setters.h"

#include "apps/common/introspection_enum/introspection_enum.h"
#include "apps/common/log/log.h"

#include <cstdlib>
#include <stdexcept>

namespace {
constexpr char HEX_DIGITS[] = "0123456789abcdef";

std::string cantConvert(char const* value, char const* type) {
    return std::string("Can't convert ") + value + " to " + type;
}

// Scalar, or the element an indexed write names; null for any other list flag.
char* writeTarget(char* payload, unsigned int mem, unsigned int var, Notify event, std::size_t stride) {
    char* scalar = payload + Introspection::variable(mem, var).offset;
    if (event.flag == 0) return scalar;
    if (event.flag == 1) return scalar + std::size_t{event.index} * stride;
    return nullptr;
}

template <typename T>
T loadValue(void const* address, int index) {
    T value;
    std::memcpy(&value, static_cast<char const*>(address) + std::size_t(index) * sizeof(T), sizeof(T));
    return value;
}

// Shared by the int and float setters: convert, store if changed, and report a
// failed conversion or a failed post with the same text.
template <typename T>
std::string setNumber(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value,
                      char const* type, T (*convert)(std::string const&)) {
    char* target = writeTarget(payload, mem, var, event, sizeof(T));
    if (target == nullptr) return "";
    try {
        setVariable<T>(*reinterpret_cast<T*>(target), event, convert(value));
    } catch (std::exception const&) {
        return cantConvert(value, type);
    }
    return "";
}

int toInt(std::string const& text) {
    return std::stoi(text, nullptr, 0);
}

float toFloat(std::string const& text) {
    return std::stof(text);
}

unsigned char hexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned char>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned char>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned char>(c - 'A' + 10);
    THROW_ERROR("Not a valid hex digit: %c", c);
}

// Copies text up to its first NUL into a field of capacity bytes, always
// leaving room for the terminator.
void storeText(char* field, std::size_t capacity, char const* text) {
    if (capacity == 0) return;
    std::size_t length = strnlen(text, capacity - 1);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

// A field's bytes run to the nearest field placed after it, or to the end of
// the structure.
std::size_t fieldSize(std::vector<StructInfo> const& fields, StructInfo const& field, std::size_t structSize) {
    std::size_t end = structSize;
    for (StructInfo const& other : fields)
        if (other.offset > field.offset && other.offset < end) end = other.offset;
    return end > field.offset ? end - field.offset : 0;
}

void writeEnumField(char* address, std::string const& typeName, std::string const& text, Notify event) {
    unsigned int enumeration = IntrospectionEnum::getEnumIndex(typeName.c_str());
    unsigned int count = IntrospectionEnum::getEnumEntryCount(enumeration);
    for (unsigned int entry = 0; entry < count; ++entry) {
        if (text == IntrospectionEnum::getEnumEntryName(enumeration, entry)) {
            setVariable<int>(*reinterpret_cast<int*>(address), event, static_cast<int>(entry));
            return;
        }
    }
}

void writeField(char* structure, StructInfo const& field, std::size_t fieldBytes, std::string const& text,
                Notify event) {
    char* address = structure + field.offset;
    switch (field.baseType) {
    case TypeInt:
        setVariable<int>(*reinterpret_cast<int*>(address), event, toInt(text));
        break;
    case TypeFloat:
        setVariable<float>(*reinterpret_cast<float*>(address), event, toFloat(text));
        break;
    case TypeBool: {
        bool wanted = text == "true";
        if ((*address != 0) != wanted) {
            *address = wanted ? 1 : 0;
            postEvent(event);
        }
        break;
    }
    case TypeString:
        storeText(address, fieldBytes, text.c_str());
        postEvent(event);
        break;
    case TypeEnum:
        writeEnumField(address, field.typeName, text, event);
        break;
    case TypeBuffer:
    case TypeStruct:
        break;
    }
}

// Walks a field list in order and writes the first field named key; nested
// lists are searched in place, with the same structure address.
bool writeNamedField(char* structure, std::size_t size, std::vector<StructInfo> const& fields,
                     std::string const& key, std::string const& text, Notify event) {
    for (StructInfo const& field : fields) {
        if (field.fields != nullptr) {
            if (writeNamedField(structure, size, *field.fields, key, text, event)) return true;
            continue;
        }
        if (key != field.name) continue;
        writeField(structure, field, fieldSize(fields, field, size), text, event);
        return true;
    }
    return false;
}
}  // namespace

std::size_t valueSize(VariableInfo const& info) {
    switch (info.baseType) {
    case TypeBool:
        return 1;
    case TypeString:
    case TypeBuffer:
        return info.arrayLength != nullptr ? std::strtoul(info.arrayLength, nullptr, 10) : 0;
    case TypeStruct:
        return info.elementSize;
    default:
        return 4;
    }
}

void checkElementIndex(VariableInfo const& info, uint32_t index) {
    uint32_t count = 1;
    if (info.baseType == TypeStruct && info.isArray && info.arrayLength != nullptr) {
        int length = std::stoi(info.arrayLength, nullptr, 10);
        count = length > 0 ? static_cast<uint32_t>(length) : 0;
    }
    if (index >= count) THROW_ERROR("Index exceeds limit");
}

std::string getBoolIntrospection(void* address, int index) {
    return static_cast<char const*>(address)[index] != 0 ? "true" : "false";
}

std::string getIntIntrospection(void* address, int index) {
    return std::to_string(loadValue<int>(address, index));
}

std::string getFloatIntrospection(void* address, int index) {
    return std::to_string(static_cast<double>(loadValue<float>(address, index)));
}

std::string getStringIntrospection(void* address, int) {
    return static_cast<char const*>(address);
}

std::string getBufferIntrospection(void* address, unsigned int length) {
    unsigned char const* bytes = static_cast<unsigned char const*>(address);
    std::string text(std::size_t{length} * 2, '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = HEX_DIGITS[bytes[i] >> 4];
        text[2 * i + 1] = HEX_DIGITS[bytes[i] & 0x0f];
    }
    return text;
}

std::string getBuffer1Introspection(void* address, int) {
    return getBufferIntrospection(address, 1);
}

std::string getBuffer3Introspection(void* address, int) {
    return getBufferIntrospection(address, 3);
}

std::string getBuffer4Introspection(void* address, int) {
    return getBufferIntrospection(address, 4);
}

std::string getBuffer64Introspection(void* address, int) {
    return getBufferIntrospection(address, 64);
}

std::string setBoolIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value) {
    char wanted;
    if (std::strcmp(value, "true") == 0)
        wanted = 1;
    else if (std::strcmp(value, "false") == 0)
        wanted = 0;
    else
        return "Value has to be 'true' or 'false'";
    char* target = writeTarget(payload, mem, var, event, 1);
    if (target == nullptr || *target == wanted) return "";
    *target = wanted;
    postEvent(event);
    return "";
}

std::string setIntIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value) {
    return setNumber<int>(payload, mem, var, event, value, "int", toInt);
}

std::string setFloatIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event, char const* value) {
    return setNumber<float>(payload, mem, var, event, value, "float", toFloat);
}

std::string setStringIntrospection(char* payload, unsigned int mem, unsigned int var, Notify event,
                                   char const* value) {
    VariableInfo const& info = Introspection::variable(mem, var);
    try {
        if (info.arrayLength == nullptr) return cantConvert(value, "string");
        int capacity = std::stoi(info.arrayLength, nullptr, 10);
        if (capacity <= 0) return cantConvert(value, "string");
        storeText(payload + info.offset, static_cast<std::size_t>(capacity), value);
        postEvent(event);
    } catch (std::exception const&) {
        return cantConvert(value, "string");
    }
    return "";
}

std::string setBufferIntrospection(char* payload, unsigned int length, unsigned int mem, unsigned int var,
                                   Notify event, char const* value) {
    unsigned char* bytes = reinterpret_cast<unsigned char*>(payload + Introspection::variable(mem, var).offset);
    char const* pair = value;
    try {
        for (unsigned int i = 0; i < length && pair[0] != '\0'; ++i) {
            unsigned char high = static_cast<unsigned char>(hexDigit(pair[0]) << 4);
            if (pair[1] == '\0') {
                // An odd digit count: the last digit is the high half of its byte.
                bytes[i] = high;
                break;
            }
            bytes[i] = high | hexDigit(pair[1]);
            pair += 2;
        }
    } catch (std::exception const&) {
        return cantConvert(pair, "buffer");
    }
    try {
        postEvent(event);
    } catch (std::exception const&) {
        return cantConvert(value, "buffer");
    }
    return "";
}

std::string setBuffer1Introspection(char* payload, unsigned int mem, unsigned int var, Notify event,
                                    char const* value) {
    return setBufferIntrospection(payload, 1, mem, var, event, value);
}

std::string setBuffer3Introspection(char* payload, unsigned int mem, unsigned int var, Notify event,
                                    char const* value) {
    return setBufferIntrospection(payload, 3, mem, var, event, value);
}

std::string setBuffer4Introspection(char* payload, unsigned int mem, unsigned int var, Notify event,
                                    char const* value) {
    return setBufferIntrospection(payload, 4, mem, var, event, value);
}

std::string setBuffer64Introspection(char* payload, unsigned int mem, unsigned int var, Notify event,
                                     char const* value) {
    return setBufferIntrospection(payload, 64, mem, var, event, value);
}

std::string setJson(char* payload, unsigned int mem, unsigned int var, Notify event, JsonPairs const& pairs) {
    VariableInfo const& info = Introspection::variable(mem, var);
    if (pairs.empty() || info.structInfo == nullptr) return "";
    checkElementIndex(info, event.index);
    char* structure = payload + info.offset + std::size_t{event.index} * info.elementSize;
    auto const& [key, value] = pairs.back();
    writeNamedField(structure, info.elementSize, *info.structInfo, key, value.value, event);
    return "";
}
