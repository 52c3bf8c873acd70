#include "apps/web/service/appvariables.h"

const AppVariables& appVariables() {
    static const AppVariables variables;
    return variables;
}

const char* updateStateName(int32_t state) {
    bool known = state >= 0 && static_cast<uint32_t>(state) < gen::UPDATESTATE_NAME_ARRAY_SIZE;
    return known ? gen::UPDATESTATE_NAME_ARRAY[state] : "Unknown";
}

int32_t stateValue(gen::UpdateState state) {
    return static_cast<int32_t>(state);
}
