#include "apps/web/service/appvariables.h"

#include <array>
#include <cstring>

namespace {
constexpr std::array<const char*, UPDATE_STATE_COUNT> UPDATE_STATE_NAMES = {
    "NoFileSelected", "CheckingFile", "FileValid", "FileNotFound", "FileCorrupt",
    "FileNotCompatible", "CopyingFile", "CopyingFailed", "RebootFailed", "Rebooting",
    "Success", "Failed", "DeviceNotFound", "InProgress",
};
}  // namespace

const AppVariables& appVariables() {
    static const AppVariables variables;
    return variables;
}

std::string boundedText(const char* field, std::size_t capacity) {
    return std::string(field, strnlen(field, capacity));
}

const char* updateStateName(int32_t state) {
    return state >= 0 && state < UPDATE_STATE_COUNT ? UPDATE_STATE_NAMES[state] : "Unknown";
}
