// Service-mode endpoints that start the programming of a 1-Wire memory.
#include "apps/common/constants/constants.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/log/log.h"
#include "apps/web/service/onewiretool.h"
#include "apps/web/service/requesthandler.h"
#include "apps/web/service/sharedvariable.h"

#include <any>
#include <exception>
#include <optional>
#include <nlohmann/json.hpp>

namespace {
// The device's command line put the data between quotes after echo in a
// 128-byte buffer; the command then saw the data plus echo's line feed.
constexpr std::size_t COMMAND_BUFFER = 128;
constexpr const char* COMMAND_FORMAT = "echo '%s' | onewire-tool.py -e -m knob >/dev/kmsg 2>&1";

// Longer data would have been cut with the command itself: refuse it whole.
std::string toolInput(const std::string& data) {
    std::size_t fixed = std::char_traits<char>::length(COMMAND_FORMAT) - 2;
    if (fixed + data.size() > COMMAND_BUFFER - 1) THROW_ERROR("Ring data too long: %zu bytes", data.size());
    return data + "\n";
}

void writeLabel(const char* name, const char* text) {
    SharedVariable label("MemServiceMode", name);
    setVariable(label.text<64>(), label.event(), text);
}

// The device's modem codes map to the values of ServiceModeConnectedModemType.
int modemTypeValue(char code) {
    if (code == Constants::MODEM_TYPE_A[0]) return 1;
    if (code == Constants::MODEM_TYPE_B[0]) return 3;
    if (code == Constants::MODEM_TYPE_C[0]) return 2;
    return 0;
}

void answerEmpty(Request* request) {
    request->output();
    request->end();
}
}  // namespace

void RequestHandler::appendJsonKey(const nlohmann::json& body, const std::string& key, std::string& out) {
    if (!body.is_object() || !body.contains(key)) THROW_ERROR("Key: '%s' is missing", key.c_str());
    out += body.at(key).get<std::string>();
    out += "\n";
}

void RequestHandler::programModem(Request* request) {
    try {
        nlohmann::json body = nlohmann::json::parse(request->postData);
        std::string devType;
        appendJsonKey(body, "devType", devType);
        writeLabel("ServiceMode1WireModemLabel", "Modem encryption started ...");
        if (int type = modemTypeValue(devType[0]); type != 0)
            storeIfChanged(SharedVariable("MemServiceMode", "ServiceModeConnectedModemType"), type);
        else
            writeLabel("ServiceMode1WireModemLabel", "Unknown Modem type connected");
    } catch (const std::exception&) {
        LOG(Error, "Writing to the modem's 1Wire failed");
    }
    answerEmpty(request);
}

// The request is answered when the command has ended; the loop serves
// everything else meanwhile. One run at a time: the bus has one ring.
void RequestHandler::programRing(Request* request) {
    if (oneWire.running()) {
        LOG(Error, "Writing to the premarked ring's 1Wire refused: %s is still running", OneWireTool::COMMAND);
        answerEmpty(request);
        return;
    }
    storeIfChanged(SharedVariable("MemServiceMode", "ServiceModeWritingToRing1Wire"), true);
    try {
        writeLabel("ServiceMode1WireRingLabel", "-");
        nlohmann::json body = nlohmann::json::parse(request->postData);
        std::string unit;
        appendJsonKey(body, "unit", unit);
        std::string data;
        if (unit == "metric\n")
            data = "1\n";
        else if (unit == "imperial\n")
            data = "2\n";
        else if (unit == "custom\n")
            data = "3\n";
        else
            THROW_ERROR("Unit has an invalid value: %s", unit.c_str());
        appendJsonKey(body, "focusCloseValue", data);
        oneWire.run(toolInput(data), [this, connection = request->id](bool succeeded) {
            ringProgrammed(succeeded);
            answerHeldRing(connection);
        });
        request->userData = RingRun{};
        return;
    } catch (const std::exception&) {
        LOG(Error, "Writing to the premarked ring's 1Wire failed");
    }
    ringProgrammed(std::nullopt);
    answerEmpty(request);
}

// Without an outcome the command did not run.
void RequestHandler::ringProgrammed(std::optional<bool> succeeded) {
    try {
        if (succeeded == false) THROW_ERROR("Error during calling onewire-tool.py");
        if (succeeded == true) {
            LOG(LogLight, "Premarked-ring encryption successful");
            SharedVariable autoDetect("MemPersistent", "PreMarkedRingAutoDet");
            storeIfChanged(autoDetect, false);
            storeIfChanged(autoDetect, true);
        }
    } catch (const std::exception&) {
        LOG(Error, "Writing to the premarked ring's 1Wire failed");
    }
    storeIfChanged(SharedVariable("MemServiceMode", "ServiceModeWritingToRing1Wire"), false);
}

// The connection may have closed meanwhile, or its request been ended
// otherwise (which clears the mark).
void RequestHandler::answerHeldRing(unsigned int connection) {
    Request* request = fcgi.request(connection);
    if (request != nullptr && std::any_cast<RingRun>(&request->userData) != nullptr) answerEmpty(request);
}
