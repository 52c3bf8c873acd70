// The update upload: puts the uploaded file where the host's or an
// accessory's update process expects it and announces it through the store.
#include "apps/common/constants/constants.h"
#include "apps/common/introspection/jsontext.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"
#include "apps/web/service/appvariables.h"
#include "apps/web/service/formdata.h"
#include "apps/web/service/uploadfile.h"
#include "apps/web/service/zelapp.h"

#include <fstream>
#include <optional>
#include <stdexcept>

namespace {
constexpr const char* MISSING_FIELD = "'deviceid' and 'file' are mandatory, but at least one is missing.";
constexpr const char* FORM_TOO_LARGE = "The form has too many or too long fields.";
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

// The update form as it arrives: its file part goes straight to disk.
class FormUpload final : public BodyConsumer, private FilePartSink {
public:
    explicit FormUpload(std::string delimiter) : reader(std::move(delimiter), *this), file(ZelApp::UPLOAD_FILE) {
        if (debugAll()) bodyCopy.open(ZelApp::POST_DATA_COPY, std::ios::binary | std::ios::trunc);
    }

    void take(std::string_view bytes) override {
        if (bodyCopy.is_open()) bodyCopy.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        reader.feed(bytes);
    }

    const FormReader& form() const { return reader; }
    UploadFile& uploaded() { return file; }

private:
    std::string open() override {
        file.open();
        return file.path();
    }
    void write(std::string_view bytes) override { file.write(bytes); }

    FormReader reader;
    UploadFile file;
    std::ofstream bodyCopy;
};
}  // namespace

std::unique_ptr<BodyConsumer> ZelApp::updateBody(Request& request) {
    std::optional<std::string> delimiter = FormReader::delimiter(request.params["CONTENT_TYPE"]);
    if (!delimiter) return std::make_unique<DiscardedBody>();
    return std::make_unique<FormUpload>(std::move(*delimiter));
}

void ZelApp::update(Request* request) {
    auto* upload = dynamic_cast<FormUpload*>(request->consumer.get());
    if (upload == nullptr) {
        writeResult(request->output(), "Invalid content type");
        return;
    }
    if (upload->form().tooLarge()) {
        writeResult(request->output(), FORM_TOO_LARGE);
        return;
    }
    const FormReader::Fields& formFields = upload->form().fields();
    LOG(DebugAll, "Request content:");
    for (const auto& [name, value] : formFields)
        LOG(DebugAll, "  \"%s\": \"%s\"", loggable(name).c_str(), loggable(value).c_str());

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
        LOG(Warn, "'deviceid' has to be in the form DEVICE-SERIAL, but it is %s.", loggable(targetId).c_str());
        writeResult(request->output(), NOT_DEVICE_SERIAL);
        return;
    }
    LOG(LogLight, "Received update file for device ID %s, our device ID is %s.", loggable(targetId).c_str(),
        deviceId.c_str());

    bool forHost = targetId == deviceId;
    // Checked before anything is moved or announced, so that a bad serial
    // leaves no update file behind for a device that does not exist.
    std::optional<int> accessorySerial = forHost ? std::optional<int>(0) : serialNumber(targetId.substr(dash + 1));
    if (!accessorySerial) {
        LOG(Warn, "'deviceid' has no serial number in range: %s.", loggable(targetId).c_str());
        writeResult(request->output(), NOT_DEVICE_SERIAL);
        return;
    }
    // A file that did not arrive whole is never put in place: the previous
    // update file stays, and nothing is announced.
    UploadFile& uploaded = upload->uploaded();
    if (!uploaded.place(forHost ? Constants::SUP_FILE : Constants::CMF_FILE)) {
        writeResult(request->output(),
                    uploaded.outOfSpace() ? "Not enough space for the update file" : "Could not store the update file");
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
    hostUpdate.set(true);
    // Cleared first, so that every upload is announced and checked, also one
    // under the name of the last.
    auto& fileName = variables.hostUpdateFileName.text<FILE_NAME_CAPACITY>();
    setVariable(fileName, variables.hostUpdateFileName.event(), "");
    setVariable(fileName, variables.hostUpdateFileName.event(), Constants::SUP_FILE);
}

void ZelApp::announceAccessoryUpdate(const std::string& name, int serialNumber) {
    const AppVariables& variables = appVariables();
    // The status route reports the update last uploaded, so an accessory
    // upload takes it back from an earlier host upload.
    hostUpdate.set(false);
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
