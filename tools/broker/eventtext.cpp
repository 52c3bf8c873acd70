#include "tools/broker/eventtext.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
std::optional<uint32_t> parseNumber(std::string const& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    errno = 0;
    unsigned long long value = strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> parseId(std::string const& text) {
    if (auto number = parseNumber(text)) return number;
    for (uint32_t id = 0; id < gen::EVENT_NAME_SIZE; ++id)
        if (text == gen::EVENT_NAME[id]) return id;
    return std::nullopt;
}
}  // namespace

std::optional<Notify> parseEvent(std::string const& text) {
    size_t first = text.find(':');
    if (first == std::string::npos) {
        auto id = parseId(text);
        if (!id) return std::nullopt;
        return Notify{*id, 0, 0};
    }
    size_t second = text.find(':', first + 1);
    if (second == std::string::npos) return std::nullopt;
    auto id = parseId(text.substr(0, first));
    auto flag = parseNumber(text.substr(first + 1, second - first - 1));
    auto index = parseNumber(text.substr(second + 1));
    if (!id || !flag || !index) return std::nullopt;
    return Notify{*id, *flag, *index};
}

void printEvent(FILE* out, Notify notify) {
    fprintf(out, "%u:%u:%u %s", notify.id, notify.flag, notify.index, eventName(notify));
}
