#include "apps/web/service/loggable.h"

std::string loggable(std::string_view text) {
    constexpr size_t LIMIT = 100;
    std::string shown;
    for (char c : text.substr(0, LIMIT)) shown += c >= ' ' && c <= '~' ? c : '?';
    if (text.size() > LIMIT) shown += "...";
    return shown;
}
