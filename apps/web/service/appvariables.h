#pragma once
// The variables of the store that the app routes read and write, each found
// by name once, on first use.
#include "apps/web/service/sharedvariable.h"
#include "gen/code/introspection_gen.h"

#include <cstddef>
#include <cstring>
#include <cstdint>
#include <string>

struct AppVariables {
    SharedVariable hostUpdateFileName{"MemMedia", "HostUpdateFileName"};
    SharedVariable hostUpdateFileState{"MemMedia", "HostUpdateFileState"};
    SharedVariable hostUpdateStart{"MemMedia", "HostUpdateStart"};
    SharedVariable tlxUpdateState{"MemExternalDevices", "TlxUpdateState"};
    SharedVariable tlxUpdateStart{"MemExternalDevices", "TlxUpdateStart"};
    SharedVariable tlxUpdateProgress{"MemExternalDevices", "TlxUpdateProgress"};
    SharedVariable tlxUpdateIndex{"MemExternalDevices", "TlxUpdateIndex"};
    SharedVariable tlxUpdateCount{"MemExternalDevices", "TlxUpdateCount"};
    SharedVariable tlxUpdateFileName{"MemExternalDevices", "TlxUpdateFileName"};
    SharedVariable tlxUpdateDeviceSerial{"MemExternalDevices", "TlxUpdateDeviceSerial"};
    SharedVariable tlxUpdateDeviceName{"MemExternalDevices", "TlxUpdateDeviceName"};
};

const AppVariables& appVariables();

// The state's name; "Unknown" for a number outside the enumeration, which
// any process can store.
const char* updateStateName(int32_t state);
// An update-state variable's value as stored.
int32_t stateValue(gen::UpdateState state);

// A text field of shared memory, read up to its NUL but never past its end:
// another process may leave it unterminated.
inline std::string boundedText(const char* field, std::size_t capacity) {
    return std::string(field, strnlen(field, capacity));
}
