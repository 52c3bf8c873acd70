#pragma once
// The variables of the store that the app routes read and write, each found
// by name once, on first use.
#include "apps/web/service/sharedvariable.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The values of the update-state variables, shared with the update processes.
enum UpdateState : int32_t {
    NoFileSelected,
    CheckingFile,
    FileValid,
    FileNotFound,
    FileCorrupt,
    FileNotCompatible,
    CopyingFile,
    CopyingFailed,
    RebootFailed,
    Rebooting,
    Success,
    Failed,
    DeviceNotFound,
    InProgress,
    UPDATE_STATE_COUNT
};

// The state's name; "Unknown" for a number outside the enumeration, which
// any process can store.
const char* updateStateName(int32_t state);

struct AppVariables {
    SharedVariable productName{"MemPersistent", "ProductName"};
    SharedVariable productVersion{"MemPersistent", "ProductVersion"};
    SharedVariable tlxDeviceList{"MemExternalDevices", "TlxDeviceList"};
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

// A text field of shared memory, read up to its NUL but never past its
// capacity: another process may leave it unterminated.
std::string boundedText(const char* field, std::size_t capacity);
