// The update upload: puts the uploaded file where the host's or an
// accessory's update process expects it and announces it through the store.
#include "apps/common/constants/constants.h"
#include "apps/common/introspection/jsontext.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"
#include "apps/web/service/appvariables.h"
#include "apps/web/service/zelapp.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace {
constexpr const char* MISSING_FIELD = "'deviceid' and 'file' are mandatory, but at least one is missing.";
constexpr const char* NOT_DEVICE_SERIAL = "'deviceid' has to be in the form DEVICE-SERIAL.";
constexpr size_t ACCESSORY_NAME_CAPACITY = 50;
constexpr size_t FILE_NAME_CAPACITY = 128;

bool debugAll() {
    return gComponentLogLevel != nullptr && *gComponentLogLevel == gen::DebugAll;
}

// The serial as std::stoi reads it (leading blanks and a sign allowed, digits
// up to the first other character); none when there are no digits or it
// does not fit an int.
std::optional<int> serialNumber(const std::string& text) {
    try {
        return std::stoi(text);
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
}
}  // namespace

void ZelApp::update(Request* request) {
    if (debugAll()) std::ofstream(POST_DATA_COPY, std::ios::binary | std::ios::trunc) << request->postData;
    std::map<std::string, std::string> formFields;
    if (!parseFormData(request, formFields, UPLOAD_FILE)) {
        writeResult(request->output(), "Invalid content type");
        return;
    }
    LOG(DebugAll, "Request content:");
    for (const auto& [name, value] : formFields) LOG(DebugAll, "  \"%s\": \"%s\"", name.c_str(), value.c_str());

    auto target = formFields.find("deviceid");
    auto file = formFields.find("file");
    if (target == formFields.end() || file == formFields.end()) {
        LOG(Warn, "%s", MISSING_FIELD);
        writeResult(request->output(), MISSING_FIELD);
        return;
    }
    const std::string& targetId = target->second;
    size_t dash = targetId.rfind('-');
    if (dash == std::string::npos) {
        LOG(Warn, "'deviceid' has to be in the form DEVICE-SERIAL, but it is %s.", targetId.c_str());
        writeResult(request->output(), NOT_DEVICE_SERIAL);
        return;
    }
    LOG(LogLight, "Received update file for device ID %s, our device ID is %s.", targetId.c_str(), deviceId.c_str());

    bool forHost = targetId == deviceId;
    // Checked before anything is moved or announced, so that a bad serial
    // leaves no update file behind for a device that does not exist.
    std::optional<int> accessorySerial = forHost ? std::optional<int>(0) : serialNumber(targetId.substr(dash + 1));
    if (!accessorySerial) {
        LOG(Warn, "'deviceid' has no serial number in range: %s.", targetId.c_str());
        writeResult(request->output(), NOT_DEVICE_SERIAL);
        return;
    }
    std::error_code failure;
    std::filesystem::rename(file->second, forHost ? Constants::SUP_FILE : Constants::CMF_FILE, failure);
    if (failure) {
        LOG(Error, "Could not move %s: %s", file->second.c_str(), failure.message().c_str());
        writeResult(request->output(), "Could not store the update file");
        return;
    }
    // The file is in place; what is written before a lost broker stays
    // written, and the app learns that the announcement failed.
    try {
        if (forHost)
            announceHostUpdate();
        else
            announceAccessoryUpdate(targetId.substr(0, dash), *accessorySerial);
    } catch (const std::runtime_error&) {
        writeResult(request->output(), "Could not announce the update file");
        return;
    }
    request->output() << "{" << "\"taskid\": \"" << jsontext::backslashEscaped(targetId) << "\" }";
}

void ZelApp::announceHostUpdate() {
    const AppVariables& variables = appVariables();
    // Set first: the host's file is in place even if the broker is gone.
    hostUpdate = true;
    setVariable(variables.hostUpdateFileName.text<FILE_NAME_CAPACITY>(), variables.hostUpdateFileName.event(),
                Constants::SUP_FILE);
}

void ZelApp::announceAccessoryUpdate(const std::string& name, int serialNumber) {
    const AppVariables& variables = appVariables();
    // The status route reports the update last uploaded, so an accessory
    // upload takes it back from an earlier host upload.
    hostUpdate = false;
    storeIfChanged(variables.tlxUpdateState, stateValue(gen::UpdateState::NoFileSelected));
    storeIfChanged(variables.tlxUpdateProgress, 0);
    // Cleared first, so the file name is announced even when it is unchanged.
    auto& fileName = variables.tlxUpdateFileName.text<FILE_NAME_CAPACITY>();
    setVariable(fileName, variables.tlxUpdateFileName.event(), "");
    setVariable(fileName, variables.tlxUpdateFileName.event(), Constants::CMF_FILE);
    storeIfChanged(variables.tlxUpdateDeviceSerial, serialNumber);
    setVariable(variables.tlxUpdateDeviceName.text<ACCESSORY_NAME_CAPACITY>(), variables.tlxUpdateDeviceName.event(),
                name.c_str());
}
