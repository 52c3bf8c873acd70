#include "apps/common/introspection/valuetext.h"

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/introspection_enum/introspection_enum.h"

#include <cstring>
#include <exception>

ValueTexts::Shape ValueTexts::shapeOf(unsigned int mem, unsigned int var) {
    BaseType type = Introspection::getVarBaseType(mem, var);
    std::size_t elementSize = valueSize(Introspection::variable(mem, var));
    if (!Introspection::isArray(mem, var) || type == TypeString || type == TypeBuffer) return {false, 1, elementSize};
    return {true, std::stoi(Introspection::getVarArrayLen(mem, var), nullptr, 10), elementSize};
}

std::string describeValue(unsigned int mem, unsigned int var, char* address, int index) {
    try {
        VariableInfo const& info = Introspection::variable(mem, var);
        std::string value = Introspection::valueAt(info, address, index);
        switch (info.baseType) {
        case TypeStruct:
            return value;
        case TypeEnum:
            return IntrospectionEnum::printEnum(value, info.typeName);
        case TypeBool:
            return Introspection::printBool(value == "true");
        case TypeBuffer:
            return Introspection::printValue(value, "string", Introspection::getVarMin(mem, var),
                                             Introspection::getVarMax(mem, var));
        default:
            return Introspection::printValue(value, info.typeName, Introspection::getVarMin(mem, var),
                                             Introspection::getVarMax(mem, var));
        }
    } catch (const std::exception& error) {
        return std::string("\"ERROR\": \"") + error.what() + "\"";
    }
}

std::string_view ValueTexts::text(unsigned int mem, unsigned int var) {
    Shape shape = shapeOf(mem, var);
    Kept& entry = kept(mem, var);
    char* payload = static_cast<char*>(*Introspection::variable(mem, var).memory);
    if (payload == nullptr) {
        // An unmapped area has no bytes to compare; its "n/a" texts are not kept.
        entry = Kept{};
        render(entry, mem, var, nullptr, shape);
        return entry.text;
    }
    char const* live = payload + Introspection::variable(mem, var).offset;
    std::size_t size = shape.size();
    if (entry.valid && entry.bytes.size() == size && std::memcmp(entry.bytes.data(), live, size) == 0)
        return entry.text;
    std::string copy(live, size);
    render(entry, mem, var, copy.data(), shape);
    entry.bytes = std::move(copy);
    entry.valid = true;
    return entry.text;
}

ValueTexts::Kept& ValueTexts::kept(unsigned int mem, unsigned int var) {
    if (areas.empty()) {
        areas.resize(Introspection::getMemCount());
        for (unsigned int area = 0; area < areas.size(); ++area) areas[area].resize(Introspection::getVarCount(area));
    }
    return areas.at(mem).at(var);
}

void ValueTexts::render(Kept& entry, unsigned int mem, unsigned int var, char* copy, Shape const& shape) {
    if (!shape.list) {
        entry.text = describeValue(mem, var, copy, 0);
        return;
    }
    std::string text = "[";
    std::vector<std::size_t> ends;
    ends.reserve(static_cast<std::size_t>(shape.elements));
    for (int index = 0; index < shape.elements; ++index) {
        std::size_t at = shape.elementSize * static_cast<std::size_t>(index);
        bool same = entry.valid && copy != nullptr &&
                    std::memcmp(entry.bytes.data() + at, copy + at, shape.elementSize) == 0;
        if (same) {
            std::size_t start = index == 0 ? 1 : entry.elementEnds[index - 1] + 1;
            text.append(entry.text, start, entry.elementEnds[index] - start);
        } else {
            text += describeValue(mem, var, copy, index);
        }
        ends.push_back(text.size());
        if (index + 1 < shape.elements) text += ",";
    }
    text += "]";
    entry.text = std::move(text);
    entry.elementEnds = std::move(ends);
}
